// version.xml parsing on real files, both reader forms and the version gate.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/state.h"
#include "app/preflight.h"
#include "app/version_file.h"
#include "tests/unit/test_files.h"

namespace {

std::string VersionXml(const std::string& element)
{
    return "<?xml version=\"1.0\"?>\r\n<version.xml>\r\n  <version>" + element
         + "</version>\r\n</version.xml>\r\n";
}

void ResetState()
{
    GameFolder[0] = L'\0';
    GameVersion.clear();
}

std::string ParsedOrNothing(const std::string& text)
{
    std::string version;
    return ParseVersionText(text.c_str(), version) ? version : "<nothing>";
}

}  // namespace

TEST(ParseVersionText, ShapesOfTheVersionElement)
{
    EXPECT_EQ("1.8.0.1", ParsedOrNothing(VersionXml(" v.1.8.0.1 #1155")));
    // Without the leading blank the cuts land one character late.
    EXPECT_EQ(".8.0.1", ParsedOrNothing(VersionXml("v.1.8.0.1 #1155")));
    EXPECT_EQ("<nothing>", ParsedOrNothing(VersionXml(" v.1.8.0.1 1155")));
    EXPECT_EQ("<nothing>", ParsedOrNothing("<version> v.1.8.0.1 #1155"));
    EXPECT_EQ("<nothing>", ParsedOrNothing(" v.1.8.0.1 #1155</version>"));
    EXPECT_EQ("<nothing>", ParsedOrNothing(""));
    // A "#" after the closing tag does not count.
    EXPECT_EQ("<nothing>", ParsedOrNothing("<version> v.1.8.0.1 </version> #1"));
    // The first pair of tags is the one read.
    EXPECT_EQ("1.8.0.2", ParsedOrNothing("<version> v.1.8.0.2 #1</version>"
                                         "<version> v.1.8.0.1 #1</version>"));
}

TEST(ParseVersionText, ShortTextNeverReadsOutsideTheElement)
{
    for (const char* element : {"", " ", " #", " v#", " v.#", " v. #", "#", "  #1"})
        EXPECT_EQ("<nothing>", ParsedOrNothing(VersionXml(element))) << "'" << element << "'";
    EXPECT_EQ("1", ParsedOrNothing(VersionXml(" v.1 #")));
}

TEST(IsRequiredGameVersion, ExactSevenBytesOnly)
{
    EXPECT_TRUE(IsRequiredGameVersion("1.8.0.1"));
    for (const char* other : {"1.8.0.10", "1.8.0", "1.8.0.2", "", " 1.8.0.1", "1.8.0.1 ",
                              "01.8.0.1"})
        EXPECT_FALSE(IsRequiredGameVersion(other)) << other;
    EXPECT_FALSE(IsRequiredGameVersion(std::string("1.8.0.1\0", 8)));
}

TEST(FolderPageReader, ReadsAFolderWithOrWithoutTrailingBackslash)
{
    ScratchFolder scratch;
    scratch.Write(L"game\\version.xml", VersionXml(" v.1.8.0.1 #1155"));
    std::wstring game = scratch.Sub(L"game");

    ResetState();
    ASSERT_TRUE(VersionFileReader(game.c_str()));
    EXPECT_EQ("1.8.0.1", GameVersion);
    EXPECT_EQ(game, GameFolder);

    ResetState();
    ASSERT_TRUE(VersionFileReader((game + L"\\").c_str()));
    EXPECT_EQ("1.8.0.1", GameVersion);
    EXPECT_EQ(game, GameFolder) << "one trailing backslash is dropped";
}

TEST(FolderPageReader, FailureChangesNothing)
{
    ScratchFolder scratch;
    scratch.MakeFolder(L"empty");
    scratch.Write(L"nohash\\version.xml", VersionXml(" v.1.8.0.1 1155"));
    scratch.Write(L"huge\\version.xml",
                  VersionXml(" v.1.8.0.1 #1155") + std::string(MaxVersionFileBytes, ' '));

    for (const wchar_t* name : {L"empty", L"nohash", L"missing", L"huge"}) {
        lstrcpyW(GameFolder, L"C:\\before");
        GameVersion = "before";
        EXPECT_FALSE(VersionFileReader(scratch.Sub(name).c_str()));
        EXPECT_EQ("before", GameVersion);
        EXPECT_STREQ(L"C:\\before", GameFolder);
    }
    EXPECT_FALSE(VersionFileReader(L""));
}

TEST(FolderPageReader, StoresAnotherVersionWithoutJudgingIt)
{
    ScratchFolder scratch;
    scratch.Write(L"old\\version.xml", VersionXml(" v.1.8.0.2 #1"));
    ResetState();
    EXPECT_TRUE(VersionFileReader(scratch.Sub(L"old").c_str()));
    EXPECT_EQ("1.8.0.2", GameVersion);
}

TEST(FolderPageReader, RefusesAFolderTooLongForGameFolder)
{
    ScratchFolder scratch;
    std::wstring longFolder = scratch.path();
    while (longFolder.size() < (size_t)GameFolderChars) longFolder += L"\\abcdefghij";
    ResetState();
    EXPECT_FALSE(VersionFileReader(longFolder.c_str()));
    EXPECT_STREQ(L"", GameFolder);
}

TEST(FolderPageReader, LockedFileYieldsNothing)
{
    ScratchFolder scratch;
    scratch.Write(L"game\\version.xml", VersionXml(" v.1.8.0.1 #1155"));
    HANDLE lock = CreateFileW(scratch.Sub(L"game\\version.xml").c_str(), GENERIC_READ, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    ResetState();
    EXPECT_FALSE(VersionFileReader(scratch.Sub(L"game").c_str()));
    CloseHandle(lock);
    EXPECT_TRUE(VersionFileReader(scratch.Sub(L"game").c_str()));
}

// The start-up form reads C:\Games\Steelmarch_ASIA, which belongs to the test prefix.
TEST(StartupReader, DefaultFolderPresentOrAbsent)
{
    std::wstring file = std::wstring(DefaultGameFolder) + L"\\version.xml";
    ASSERT_FALSE(FileExists(file)) << "the unit tests' prefix must have no game folder";

    ResetState();
    GameVersion = "stale";
    VersionFileReader();
    EXPECT_EQ("", GameVersion) << "no candidate yields: the version is emptied";
    EXPECT_STREQ(L"", GameFolder);

    CreateDirectoryW(L"C:\\Games", nullptr);
    CreateDirectoryW(DefaultGameFolder, nullptr);
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string xml = VersionXml(" v.1.8.0.1 #1155");
    DWORD written = 0;
    WriteFile(out, xml.data(), (DWORD)xml.size(), &written, nullptr);
    CloseHandle(out);

    VersionFileReader();
    EXPECT_EQ("1.8.0.1", GameVersion);
    EXPECT_STREQ(DefaultGameFolder, GameFolder) << "the candidate is stored unchanged";

    DeleteFileW(file.c_str());
    RemoveDirectoryW(DefaultGameFolder);
    RemoveDirectoryW(L"C:\\Games");
}

TEST(Startup, DllSearchIsLimitedToSystem32WhereTheSystemCan)
{
    bool available = GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                    "SetDefaultDllDirectories") != nullptr;
    EXPECT_EQ(available, LimitDllSearchToSystem());
}

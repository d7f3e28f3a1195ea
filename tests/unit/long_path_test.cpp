// The forms paths are handed to the file system in. Wine takes long plain paths, so what
// Windows would refuse is checked here by the form itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/long_path.h"
#include "tests/unit/test_files.h"

TEST(LongPath, PlainWhileShortThePrefixedFormOnceLong)
{
    std::wstring shortPath = L"C:\\Games\\Steelmarch\\mods\\a.smpkg";
    EXPECT_EQ(shortPath, SystemPath(shortPath));
    std::wstring edge = L"C:\\" + std::wstring(247 - 3, L'e');  // CreateDirectoryW's last
    EXPECT_EQ(edge, SystemPath(edge));
    EXPECT_EQ(L"\\\\?\\" + edge + L"x", SystemPath(edge + L"x"));
    std::wstring deep = L"C:\\ライブラリ\\" + std::wstring(300, L'd') + L"\\mods\\b.xml";
    EXPECT_EQ(L"\\\\?\\" + deep, SystemPath(deep));
    // Made absolute and normalised first: the prefixed form takes nothing as it comes.
    EXPECT_EQ(L"\\\\?\\" + deep, SystemPath(L"C:\\ライブラリ\\x\\..\\" + std::wstring(300, L'd')
                                             + L"\\.\\mods/b.xml"));
    EXPECT_EQ(L"\\\\?\\" + deep, SystemPath(L"\\\\?\\" + deep));
    std::wstring share = L"\\\\server\\share\\" + std::wstring(300, L's');
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L's'), SystemPath(share));
}

TEST(LongPath, FoldersMadeLevelByLevelAndBuffersThatGrow)
{
    ScratchFolder scratch;
    std::wstring deep = scratch.path();
    while (deep.size() < 400) deep += L"\\" + std::wstring(50, L'f');
    EXPECT_TRUE(CreateFolderTree(deep + L"\\"));
    EXPECT_TRUE(CreateFolderTree(deep));  // there already
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(SystemPath(deep).c_str()));
    EXPECT_EQ(deep + L"\\x", FullPathOf(deep + L"\\y\\..\\x"));
    std::wstring program = RunningProgramPath();
    EXPECT_EQ(L".exe", program.substr(program.size() - 4));
    std::wstring temp = TemporaryFolder();
    EXPECT_EQ(L'\\', temp.back());
}

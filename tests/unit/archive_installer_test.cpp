// The archive installer on real zip archives: those Python's zipfile and Info-ZIP
// wrote at build time (tests/data/make_archives.py), and those minizip's own writer
// makes here, for names with raw bytes and paths sized to this machine's temp folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <minizip/zip.h>
#include <minizip/iowin32.h>  // needs zip.h's file function types first

#include "app/install_log.h"
#include "mods/game_path.h"
#include "mods/install/archive_entries.h"
#include "mods/install/archive_installer.h"
#include "mods/install/install_worker.h"
#include "mods/record/install_record.h"
#include "mods/record/recorded_install.h"
#include "mods/sha256.h"
#include "tests/unit/test_files.h"

namespace {


std::wstring Wide(const std::string& utf8)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring text(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &text[0], size);
    return text;
}

// A game folder in a scratch folder, with the install log beside it; Run counts and
// installs an archive into it.
struct Install {
    explicit Install(const wchar_t* gameBelow = L"game")
        : game(scratch.MakeFolder(gameBelow)), log(scratch.Sub(L"installer.log"))
    {
    }
    explicit Install(const std::wstring& archive) : Install() { Run(archive); }
    void Run(const std::wstring& archive)
    {
        count = CountArchiveFiles(archive.c_str());
        OpenInstallLog(log.c_str());
        ok = ArchiveInstaller(archive.c_str(), game.c_str(), progress);
        CloseInstallLog();
        logText = ReadWholeFile(log);
    }
    std::wstring At(const std::wstring& relative) const { return game + L"\\" + relative; }
    // The log line of an entry that went in.
    std::string Installing(const std::wstring& relative) const
    {
        return "Installing: " + Utf8(At(relative)) + "\r\n";
    }

    ScratchFolder scratch;
    std::wstring game, log;
    InstallCounters progress;
    int count = -1;
    bool ok = false;
    std::string logText;
};

// minizip's writer: entry names go in as raw bytes, flagged as UTF-8 or not.
class ZipWriter {
public:
    explicit ZipWriter(const std::wstring& path)
    {
        zlib_filefunc64_def files;
        fill_win32_filefunc64W(&files);
        zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &files);
    }
    ~ZipWriter() { zipClose(zip, nullptr); }
    bool Add(const std::string& name, const std::string& data, bool utf8Flag = false)
    {
        zip_fileinfo info = {};
        return zip
            && zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8,
                                       Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                       utf8Flag ? 1u << 11 : 0u, 0) == ZIP_OK
            && zipWriteInFileInZip(zip, data.data(), (unsigned)data.size()) == ZIP_OK
            && zipCloseFileInZip(zip) == ZIP_OK;
    }

private:
    zipFile zip;
};

// Every path below root, relative to it, folders with a trailing backslash.
void ListTree(const std::wstring& root, const std::wstring& relative, std::set<std::wstring>& out)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((root + L"\\" + relative + L"*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.insert(relative + name + (folder ? L"\\" : L""));
        if (folder) ListTree(root, relative + name + L"\\", out);
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

std::set<std::wstring> Tree(const std::wstring& root)
{
    std::set<std::wstring> out;
    ListTree(root, L"", out);
    return out;
}

std::set<std::wstring> Listing(const std::wstring& folder)
{
    std::set<std::wstring> out;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return out;
    do out.insert(found.cFileName);
    while (FindNextFileW(find, &found));
    FindClose(find);
    return out;
}


}  // namespace

TEST(ArchiveRules, DirectoryEntries)
{
    struct Case {
        const char* name;
        bool utf8;
        bool directory;
    } cases[] = {
        {"res_mods\\", false, true},
        {"a\\", false, true},
        {"\\", false, false},  // a one-byte name is a file
        {"", false, false},
        {"mods\\a.txt", false, false},
        {"mods\\\\", false, true},
        // The byte before the last backslash decides for Shift_JIS names ("ソ" is 83 5C).
        {"mods\\\x83\\", false, false},
        {"mods\\\x83\\", true, true},
        {"mods\\\x80\\", false, true},
        {"mods\\\x81\\", false, false},
        {"mods\\\x9F\\", false, false},
        {"mods\\\xA0\\", false, true},
        {"mods\\\xDF\\", false, true},
        {"mods\\\xE0\\", false, false},
        {"mods\\\xFC\\", false, false},
        {"mods\\\xFD\\", false, true},
        {"mods\\\x83\x5C\\", false, true},  // "mods\ソ\": the 5C before is a trail byte
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.directory, IsDirectoryEntry(c.name, c.utf8))
            << "\"" << c.name << "\" utf8=" << c.utf8;
}

TEST(ArchiveRules, SelectedEntries)
{
    struct Case {
        const char* name;
        bool selected;
    } cases[] = {
        {"res_mods\\1.8.0.1\\gui\\a.xml", true}, {"mods\\1.8.0.1\\b.txt", true},
        {"pack\\res_mods\\c.xml", true},         {"docs\\mods_list.txt", true},
        {"x\\mods.txt", true},                   {"amodsb", true},
        {"Mods\\d.txt", false},                  {"MODS\\e.txt", false},
        {"readme.txt", false},                   {"mod\\s.txt", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.selected, IsSelectedEntry(c.name)) << "\"" << c.name << "\"";
}

TEST(ArchiveRules, EntryNameDecoding)
{
    struct Case {
        const char* name;
        bool utf8Flag;
        bool decodes;
        const wchar_t* wide;
        bool wasUtf8;
    } cases[] = {
        {"mods\\a.txt", false, true, L"mods\\a.txt", true},
        {"mods\\a.txt", true, true, L"mods\\a.txt", true},
        {"", false, true, L"", true},
        {"mods\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", true, true, L"mods\\日本語.txt", true},
        {"mods\\\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", false, true, L"mods\\日本語.txt", true},
        {"mods\\\x93\xFA\x96\x7B\x8C\xEA.txt", false, true, L"mods\\日本語.txt", false},
        {"mods\\\x83\x5C", false, true, L"mods\\ソ", false},
        {"mods\\\xB1\xB2", false, true, L"mods\\ｱｲ", false},  // half-width katakana
        // Overlong UTF-8 for ".." must not become "..": read as Shift_JIS kana instead.
        {"\xC0\xAE\xC0\xAE\\mods", false, true, L"ﾀｮﾀｮ\\mods", false},
        // Flagged UTF-8 but is not: Shift_JIS is not tried.
        {"mods\\\x93\xFA\x96\x7B\x8C\xEA.txt", true, false, L"", false},
        {"mods\\\x82\xFF.txt", false, false, L"", false},  // lead byte, invalid trail
        {"mods\\x\x81", false, false, L"", false},        // lead byte at the end
    };
    for (const Case& c : cases) {
        std::wstring wide = L"unchanged";
        bool wasUtf8 = !c.wasUtf8;
        bool decodes = DecodeEntryName(c.name, c.utf8Flag, wide, wasUtf8);
        EXPECT_EQ(c.decodes, decodes) << "\"" << c.name << "\" flag=" << c.utf8Flag;
        if (!decodes || !c.decodes) continue;
        EXPECT_EQ(std::wstring(c.wide), wide) << "\"" << c.name << "\" flag=" << c.utf8Flag;
        EXPECT_EQ(c.wasUtf8, wasUtf8) << "\"" << c.name << "\" flag=" << c.utf8Flag;
    }
}

TEST(ArchiveRules, SafeRelativePaths)
{
    struct Case {
        const wchar_t* name;
        bool safe;
    } cases[] = {
        {L"mods\\a.txt", true},
        {L"res_mods\\1.8.0.1\\gui\\a.xml", true},
        {L"mods\\.\\a.txt", true},
        {L"mods\\..a.txt", true},  // a name that starts with dots is just a name
        {L"mods\\a..\\b.txt", true},
        {L"mods\\ソ", true},
        {L"", false},
        {L"..\\mods\\a.txt", false},
        {L"../mods/a.txt", false},
        {L"mods\\..\\..\\a.txt", false},
        {L"mods\\..", false},
        {L"mods\\...\\a.txt", false},
        {L"mods\\.. \\a.txt", false},
        {L"mods\\. .\\a.txt", false},
        {L"\\mods\\a.txt", false},
        {L"/mods/a.txt", false},
        {L"C:\\mods\\a.txt", false},
        {L"C:mods\\a.txt", false},
        {L"\\\\server\\share\\mods\\a.txt", false},
        {L"\\\\?\\C:\\mods\\a.txt", false},
        {L"\\\\.\\C:\\mods\\a.txt", false},
        {L"mods\\a.txt:stream", false},
        {L"mods\\a.txt::$DATA", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.safe, IsSafeRelativePath(c.name)) << "\"" << Utf8(c.name) << "\"";
}

TEST(ArchiveRules, InsideFolder)
{
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
        bool inside;
    } cases[] = {
        {L"C:\\Games\\G\\mods\\a.txt", L"C:\\Games\\G", true},
        {L"C:\\Games\\G\\mods\\a.txt", L"C:\\Games\\G\\", true},
        {L"c:\\games\\g\\MODS\\a.txt", L"C:\\Games\\G", true},
        {L"C:\\Games\\G\\x\\..\\a.txt", L"C:\\Games\\G", true},
        {L"C:\\Games\\G/mods/a.txt", L"C:\\Games\\G", true},
        {L"C:\\Games\\G", L"C:\\Games\\G", false},
        {L"C:\\Games\\G\\", L"C:\\Games\\G", false},
        {L"C:\\Games\\G2\\a.txt", L"C:\\Games\\G", false},
        {L"C:\\Games\\G\\..\\a.txt", L"C:\\Games\\G", false},
        {L"C:\\Games\\G\\mods\\..\\..\\a.txt", L"C:\\Games\\G", false},
        {L"D:\\Games\\G\\a.txt", L"C:\\Games\\G", false},
        // A game folder at a drive root is kept without its backslash; "C:" alone would
        // be the current folder of drive C, set below to one that is not the root.
        {L"C:\\mods\\a.txt", L"C:", true},
        {L"C:\\mods\\a.txt", L"C:\\", true},
        {L"C:\\windows\\a.txt", L"C:", true},
        {L"D:\\mods\\a.txt", L"C:", false},
    };
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\windows"));
    for (const Case& c : cases)
        EXPECT_EQ(c.inside, IsInsideFolder(c.path, c.folder))
            << "\"" << Utf8(c.path) << "\" in \"" << Utf8(c.folder) << "\"";
    SetCurrentDirectoryW(current);
}

TEST(ArchiveInstaller, EveryNameContainingModsGoesBelowTheGameFolder)
{
    Install run(TestArchive(L"mapping.zip"));
    EXPECT_EQ(9, run.count) << "file entries, directory entries left out";
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(7, run.progress.filesInstalled.load());

    const char* installed[] = {
        "res_mods/1.8.0.1/gui/a.xml", "mods/1.8.0.1/b.txt", "pack/res_mods/c.xml",
        "docs/mods_list.txt",         "x/mods.txt",         "pack/mods/e.txt",
        "mods/音声/ボイス.txt",
    };
    std::string expectedLog;
    for (const char* name : installed) {
        std::wstring relative = Wide(name);
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        EXPECT_EQ(std::string(name), ReadWholeFile(run.At(relative))) << name;
        expectedLog += run.Installing(relative);
    }
    EXPECT_EQ(expectedLog, run.logText);
    EXPECT_FALSE(FileExists(run.At(L"Mods\\d.txt")));
    EXPECT_FALSE(FileExists(run.At(L"readme.txt")));
    EXPECT_FALSE(FileExists(run.At(L"mods\\empty"))) << "directory entries create nothing";
    EXPECT_FALSE(FileExists(run.At(L"mods\\ボ"))) << "a UTF-8 folder ending in 9C";
    wchar_t current[256];
    GetCurrentFile(run.progress, current);
    EXPECT_EQ(run.At(L"mods\\音声\\ボイス.txt"), current);
}

TEST(ArchiveInstaller, InfoZipFolderTree)
{
    // Info-ZIP stores the folders too, and the UTF-8 names of the file system unflagged.
    Install run(TestArchive(L"infozip_tree.zip"));
    EXPECT_EQ(4, run.count);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(3, run.progress.filesInstalled.load());
    EXPECT_EQ("pack/res_mods/1.8.0.1/gui/x.xml",
              ReadWholeFile(run.At(L"pack\\res_mods\\1.8.0.1\\gui\\x.xml")));
    EXPECT_EQ("pack/mods/1.8.0.1/y.txt", ReadWholeFile(run.At(L"pack\\mods\\1.8.0.1\\y.txt")));
    EXPECT_EQ("pack/mods/ボ/日本語.txt", ReadWholeFile(run.At(L"pack\\mods\\ボ\\日本語.txt")));
    EXPECT_FALSE(FileExists(run.At(L"pack\\readme.txt")));
    EXPECT_FALSE(FileExists(run.At(L"pack\\mods\\empty")));
    EXPECT_EQ(0u, Occurrences(run.logText, "Failed")) << run.logText;
}

// An entry the reader cannot unpack keeps the whole archive out, found in its directory
// before anything is placed; one that would not be installed anyway is never read.
TEST(ArchiveInstaller, UnsupportedMethodKeepsTheArchiveOutUnlessTheEntryIsLeftOut)
{
    Install bzip2(TestArchive(L"bzip2_middle.zip"));
    EXPECT_EQ(1, bzip2.count);
    EXPECT_FALSE(bzip2.ok);
    EXPECT_EQ(0, bzip2.progress.filesInstalled.load());
    EXPECT_EQ(std::set<std::wstring>(), Tree(bzip2.game));
    EXPECT_EQ("Failed: " + Utf8(bzip2.At(L"mods\\2.txt"))
                  + " - its data cannot be unpacked (method 12)\r\n",
              bzip2.logText);

    // LZMA, on an entry without "mods" in its name.
    Install lzma(TestArchive(L"lzma_middle.zip"));
    EXPECT_EQ(2, lzma.count);
    EXPECT_TRUE(lzma.ok) << lzma.logText;
    EXPECT_EQ(2, lzma.progress.filesInstalled.load());
    EXPECT_EQ("mods/1.txt", ReadWholeFile(lzma.At(L"mods\\1.txt")));
    EXPECT_EQ("mods/3.txt", ReadWholeFile(lzma.At(L"mods\\3.txt")));
    EXPECT_EQ(0u, Occurrences(lzma.logText, "method")) << lzma.logText;
}

TEST(ArchiveInstaller, NotArchives)
{
    for (const wchar_t* name : {L"not_a_zip.zip", L"truncated.zip", L"no_such_file.zip"}) {
        Install run(TestArchive(name));
        EXPECT_EQ(0, run.count) << Utf8(name);
        EXPECT_FALSE(run.ok) << Utf8(name);
        EXPECT_EQ("Failed: " + Utf8(TestArchive(name)) + " - not a readable zip archive\r\n",
                  run.logText);
    }
}

// An archive without entries is nothing but its end record, at offset 0, which
// minizip's unzOpen2_64 takes for no end record at all: still a valid, empty archive.
TEST(ArchiveInstaller, EmptyArchiveInstallsNothingAndSucceeds)
{
    Install run(TestArchive(L"empty.zip"));
    EXPECT_EQ(0, run.count);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(0, run.progress.filesInstalled.load());
    EXPECT_EQ("", run.logText);
    EXPECT_EQ(2u, Listing(run.game).size()) << "only . and ..";
}

// A file the archive replaces that another program holds (here a handle that shares
// reading only, as a running program's) is waited for; held for good, it keeps the whole
// archive out, found before anything is placed, and named.
TEST(ArchiveInstaller, ExistingDestinationsAndHeldOnes)
{
    Install run;
    // Written over from the start: a longer old file leaves no tail behind.
    run.scratch.Write(L"game\\mods\\1.8.0.1\\b.txt", std::string(1000, 'o'));
    run.scratch.Write(L"game\\x\\mods.txt", "held by another program");
    HANDLE lock = CreateFileW(run.At(L"x\\mods.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    DWORD started = GetTickCount();
    run.Run(TestArchive(L"mapping.zip"));
    DWORD waited = GetTickCount() - started;

    EXPECT_FALSE(run.ok);
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 6000u);
    EXPECT_EQ(0, run.progress.filesInstalled.load());
    EXPECT_EQ(std::string(1000, 'o'), ReadWholeFile(run.At(L"mods\\1.8.0.1\\b.txt")));
    EXPECT_EQ("held by another program", ReadWholeFile(run.At(L"x\\mods.txt")));
    EXPECT_FALSE(FileExists(run.At(L"pack\\mods\\e.txt")));
    EXPECT_EQ("Waiting: " + Utf8(run.At(L"x\\mods.txt")) + " - it is in use by another program\r\n"
                  "Failed: " + Utf8(run.At(L"x\\mods.txt"))
                  + " - the file is in use by another program\r\n",
              run.logText);

    // Let go of during the wait: installed, over the old files.
    HANDLE release = CreateThread(nullptr, 0, [](LPVOID handle) -> DWORD {
        Sleep(700);
        CloseHandle((HANDLE)handle);
        return 0;
    }, lock, 0, nullptr);
    run.Run(TestArchive(L"mapping.zip"));
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
    EXPECT_TRUE(run.ok) << run.logText;
    EXPECT_EQ(7, run.progress.filesInstalled.load());
    EXPECT_EQ("mods/1.8.0.1/b.txt", ReadWholeFile(run.At(L"mods\\1.8.0.1\\b.txt")));
    EXPECT_EQ("x/mods.txt", ReadWholeFile(run.At(L"x\\mods.txt")));
    EXPECT_EQ(1u, Occurrences(run.logText, "Waiting: ")) << run.logText;
    EXPECT_EQ(0u, Occurrences(run.logText, "Failed: ")) << run.logText;
}

// Every file goes through a temporary file beside it: a damaged entry over a file the
// game folder already has leaves that file as it was, and no temporary file behind. The
// walk ends there: nothing after it is placed (taking back what came before is the
// record's, tested with the install worker).
TEST(ArchiveInstaller, DamagedDataLeavesTheOldFileOrNoneAndEndsTheWalk)
{
    for (const wchar_t* bad : {L"stored_bad", L"deflated_bad", L"short"}) {
        Install run;
        std::wstring relative = std::wstring(L"mods\\") + bad + L".txt";
        run.scratch.Write(L"game\\" + relative, "the user's own file");
        run.Run(TestArchive((std::wstring(L"damaged_") + bad + L".zip").c_str()));
        EXPECT_EQ("the user's own file", ReadWholeFile(run.At(relative))) << Utf8(bad);
        for (const std::wstring& path : Tree(run.game))
            EXPECT_EQ(std::wstring::npos, path.find(L".zm~")) << Utf8(path);
        EXPECT_EQ(3, run.count);
        EXPECT_FALSE(run.ok);
        EXPECT_EQ(2, run.progress.filesInstalled.load());
        EXPECT_TRUE(FileExists(run.At(L"mods\\good.txt")));
        EXPECT_FALSE(FileExists(run.At(L"mods\\after.txt"))) << Utf8(bad);
        EXPECT_EQ(run.Installing(L"mods\\good.txt") + run.Installing(relative) + "Failed: "
                      + Utf8(run.At(relative)) + " - damaged data in the archive\r\n",
                  run.logText);
    }
}

TEST(ArchiveInstaller, NamesInShiftJisAndOddBytes)
{
    Install run;
    std::wstring archive = run.scratch.Sub(L"names.zip");
    {
        ZipWriter zip(archive);
        ASSERT_TRUE(zip.Add("mods/\x93\xFA\x96\x7B\x8C\xEA.txt", "cp932"));  // mods/日本語.txt
        ASSERT_TRUE(zip.Add("mods/\x83\x5C", "so"));  // "mods/ソ": a file, not a folder
        ASSERT_TRUE(zip.Add("mods/\x83\x5C/", ""));   // "mods/ソ/": a folder
        ASSERT_TRUE(zip.Add("/", "slash"));
        ASSERT_TRUE(zip.Add("mods/\x82\xFF.txt", "neither"));
        ASSERT_TRUE(zip.Add("mods/\x93\xFA\x96\x7B.txt", "flagged", true));
        ASSERT_TRUE(zip.Add("mods/\xE3\x83\xA6\xE3\x83\xBC.txt", "utf8"));  // ユー, unflagged
    }
    // Names that decode neither way keep the archive out, each one named.
    run.Run(archive);
    EXPECT_EQ(6, run.count);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(0, run.progress.filesInstalled.load());
    EXPECT_EQ(std::set<std::wstring>(), Tree(run.game));
    EXPECT_EQ("Skipped: mods\\\\x82\\xFF.txt - the entry name is neither UTF-8 nor "
              "Shift_JIS\r\n"
              "Skipped: mods\\\\x93\\xFA\\x96{.txt - the entry name is neither UTF-8 nor "
              "Shift_JIS\r\n",
              run.logText);

    // The others, alone, go in under their decoded names.
    std::wstring good = run.scratch.Sub(L"good_names.zip");
    {
        ZipWriter zip(good);
        ASSERT_TRUE(zip.Add("mods/\x93\xFA\x96\x7B\x8C\xEA.txt", "cp932"));
        ASSERT_TRUE(zip.Add("mods/\x83\x5C", "so"));
        ASSERT_TRUE(zip.Add("mods/\x83\x5C/", ""));
        ASSERT_TRUE(zip.Add("/", "slash"));
        ASSERT_TRUE(zip.Add("mods/\xE3\x83\xA6\xE3\x83\xBC.txt", "utf8"));
    }
    run.Run(good);
    EXPECT_TRUE(run.ok) << run.logText;
    EXPECT_EQ(3, run.progress.filesInstalled.load());
    EXPECT_EQ("cp932", ReadWholeFile(run.At(L"mods\\日本語.txt")));
    EXPECT_EQ("so", ReadWholeFile(run.At(L"mods\\ソ")));
    EXPECT_EQ("utf8", ReadWholeFile(run.At(L"mods\\ユー.txt")));
    EXPECT_EQ((std::set<std::wstring>{L"mods\\", L"mods\\日本語.txt", L"mods\\ソ",
                                      L"mods\\ユー.txt"}),
              Tree(run.game));
    EXPECT_EQ(run.Installing(L"mods\\日本語.txt") + run.Installing(L"mods\\ソ")
                  + run.Installing(L"mods\\ユー.txt"),
              run.logText);
}

TEST(ArchiveInstaller, ControlCharactersInNamesCannotForgeLogLines)
{
    Install run;
    std::wstring archive = run.scratch.Sub(L"forged.zip");
    {
        ZipWriter zip(archive);
        ASSERT_TRUE(zip.Add("mods/a\r\nInstalling: C:\\forged.txt", "x"));
        ASSERT_TRUE(zip.Add("mods/b.txt", "b"));
    }
    run.Run(archive);
    EXPECT_EQ(0u, Occurrences(run.logText, "\nInstalling: C:\\forged")) << run.logText;
    EXPECT_EQ(1u, Occurrences(run.logText, "mods\\a\\x0D\\x0AInstalling: C:\\forged.txt"))
        << run.logText;
    EXPECT_EQ(0u, Occurrences(run.logText, run.Installing(L"mods\\b.txt")))
        << "the archive was not kept out";
}

// A Shift_JIS folder whose last character has a trail byte in the lead byte range,
// as 7-Zip or Explorer on a Japanese Windows store "mods/スキン/" ("ン" is 83 93):
// still a folder. The byte before the final backslash alone cannot tell; the name
// has to be read from its start.
TEST(ArchiveInstaller, ShiftJisFolderEndingInALeadRangeTrailByte)
{
    EXPECT_TRUE(IsDirectoryEntry("mods\\\x83\x58\x83\x4C\x83\x93\\", false));
    Install run;
    std::wstring archive = run.scratch.Sub(L"skin.zip");
    {
        ZipWriter zip(archive);
        ASSERT_TRUE(zip.Add("mods/\x83\x58\x83\x4C\x83\x93/", ""));
        ASSERT_TRUE(zip.Add("mods/\x83\x58\x83\x4C\x83\x93/a.txt", "skin"));
    }
    run.Run(archive);
    EXPECT_EQ(1, run.count);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(1, run.progress.filesInstalled.load());
    EXPECT_EQ("skin", ReadWholeFile(run.At(L"mods\\スキン\\a.txt")));
    EXPECT_EQ(run.Installing(L"mods\\スキン\\a.txt"), run.logText);
}

TEST(ArchiveInstaller, NothingLandsOutsideTheGameFolder)
{
    const char* names[] = {
        "../mods/evil1.txt",
        "..\\mods\\evil2.txt",
        "mods/../../evil3_mods.txt",
        "mods\\..\\..\\evil4_mods.txt",
        "mods/.../evil5.txt",
        "mods/.. /evil6.txt",
        "/mods/evil7.txt",
        "\\mods\\evil8.txt",
        "C:\\mods\\evil9.txt",
        "C:/mods/evil10.txt",
        "C:evil11_mods.txt",
        "\\\\server\\share\\mods\\evil12.txt",
        "//server/share/mods/evil13.txt",
        "\\\\?\\C:\\mods\\evil14.txt",
        "//?/C:/mods/evil15.txt",
        "\\\\.\\C:\\mods\\evil16.txt",
        "mods/evil17.txt:stream",
        "mods/evil18.txt::$DATA",
    };
    // The game folder two levels down, so that climbing out stays within sight.
    Install run(L"a\\b\\game");
    std::wstring archive = run.scratch.Sub(L"slip.zip");
    {
        ZipWriter zip(archive);
        for (const char* name : names) ASSERT_TRUE(zip.Add(name, "evil")) << name;
        ASSERT_TRUE(zip.Add("mods/ok.txt", "ok"));
    }
    // Relative and drive-relative names resolve against the current folder: make it one
    // in sight too, on drive C: as the game folder.
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(run.scratch.MakeFolder(L"current").c_str()));
    std::set<std::wstring> scratchBefore = Tree(run.scratch.path()), cBefore = Listing(L"C:\\");
    run.Run(archive);
    SetCurrentDirectoryW(previous);

    // Refused, each of them, and with them the whole archive.
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(0, run.progress.filesInstalled.load());
    EXPECT_FALSE(FileExists(run.At(L"mods\\ok.txt")));
    scratchBefore.insert(L"installer.log");
    EXPECT_EQ(scratchBefore, Tree(run.scratch.path()));
    EXPECT_EQ(cBefore, Listing(L"C:\\"));
    EXPECT_FALSE(FileExists(L"C:\\mods"));
    for (const char* name : names) {
        std::string shown = name;
        std::replace(shown.begin(), shown.end(), '/', '\\');
        EXPECT_EQ(1u, Occurrences(run.logText, "Refused: " + shown
                                                   + " - the entry would be written outside "
                                                     "the game folder\r\n"))
            << name;
    }
    EXPECT_EQ(0u, Occurrences(run.logText, "Installing: ")) << run.logText;
}

TEST(ArchiveInstaller, LongNamesAndPaths)
{
    Install run;
    // Destinations of 255 and 256 characters: game folder, backslash, "mods\", name.
    size_t room = 255 - run.game.size() - 1 - 5;
    std::wstring archive = run.scratch.Sub(L"long.zip"), tooLong = run.scratch.Sub(L"longer.zip");
    {
        ZipWriter zip(archive);
        ASSERT_TRUE(zip.Add("mods/" + std::string(room, 'f'), "fits"));
        ASSERT_TRUE(zip.Add("mods/" + std::string(room + 1, 'o'), "over"));
        ASSERT_TRUE(zip.Add("mods/after.txt", "after"));
        ZipWriter longer(tooLong);
        ASSERT_TRUE(longer.Add("mods/" + std::string(507, 'n'), "long"));  // 512 bytes
        ASSERT_TRUE(longer.Add("mods/later.txt", "later"));
    }
    // A name past what the installer reads keeps its archive out.
    run.Run(tooLong);
    EXPECT_EQ(2, run.count);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(std::set<std::wstring>(), Tree(run.game));
    EXPECT_EQ("Skipped: mods\\" + std::string(506, 'n') + "... - the entry name is too long\r\n",
              run.logText);

    run.Run(archive);
    EXPECT_EQ(3, run.count);
    EXPECT_TRUE(run.ok) << run.logText;
    EXPECT_EQ(3, run.progress.filesInstalled.load());
    std::wstring fitting = run.At(L"mods\\" + std::wstring(room, L'f'));
    ASSERT_EQ(255u, fitting.size());
    EXPECT_EQ("fits", ReadWholeFile(fitting));
    EXPECT_EQ("over", ReadWholeFile(run.At(L"mods\\" + std::wstring(room + 1, L'o'))));
    EXPECT_EQ("after", ReadWholeFile(run.At(L"mods\\after.txt")));
    EXPECT_EQ((std::set<std::wstring>{L"mods\\", L"mods\\" + std::wstring(room, L'f'),
                                      L"mods\\" + std::wstring(room + 1, L'o'),
                                      L"mods\\after.txt"}),
              Tree(run.game));
}

// Game libraries nest deep: a destination well past MAX_PATH is installed like any other
// (written beside, then moved, each folder made on the way).
TEST(ArchiveInstaller, DestinationsPastMaxPathAreInstalled)
{
    Install run;
    std::wstring deep = L"mods";
    while (run.At(deep).size() < 320) deep += L"\\" + std::wstring(60, L'd');
    std::wstring archive = run.scratch.Sub(L"deep.zip");
    {
        ZipWriter zip(archive);
        ASSERT_TRUE(zip.Add(Utf8(deep + L"\\deep.txt"), "deep"));
    }
    run.Run(archive);
    EXPECT_TRUE(run.ok) << run.logText;
    EXPECT_EQ("deep", ReadWholeFile(run.At(deep + L"\\deep.txt")));
    EXPECT_EQ("Installing: " + Utf8(run.At(deep + L"\\deep.txt")) + "\r\n", run.logText);
}

// Small entries are written several at once, large ones streamed; the log still reads
// entry by entry in archive order, and every entry is counted once.
TEST(ArchiveInstaller, LogKeepsArchiveOrderWhileEntriesAreWrittenTogether)
{
    Install run;
    std::wstring archive = run.scratch.Sub(L"many.zip");
    std::string big(3 << 19, 'b');  // 1.5 MiB: streamed
    {
        ZipWriter zip(archive);
        for (int i = 0; i < 40; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "mods/%02d.txt", i);
            ASSERT_TRUE(zip.Add(name, i == 20 ? big : std::string(name)));
        }
    }
    run.scratch.Write(L"game\\mods\\07.txt", "old");
    run.Run(archive);

    std::string expected;
    for (int i = 0; i < 40; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"mods\\%02d.txt", i);
        expected += run.Installing(name);
    }
    EXPECT_EQ(expected, run.logText);
    EXPECT_EQ(40, run.progress.filesInstalled.load());
    EXPECT_EQ(40, run.count);
    EXPECT_TRUE(run.ok);
    EXPECT_EQ(big, ReadWholeFile(run.At(L"mods\\20.txt")));
    EXPECT_EQ("mods/39.txt", ReadWholeFile(run.At(L"mods\\39.txt")));
    EXPECT_EQ("mods/07.txt", ReadWholeFile(run.At(L"mods\\07.txt")));
    for (const std::wstring& path : Tree(run.game))
        EXPECT_EQ(std::wstring::npos, path.find(L".zm~")) << Utf8(path);
}

// A name the archive holds more than once, in any case, ends with its last entry's
// bytes, and the record names those bytes: entries written together never race for a
// destination.
TEST(ArchiveInstaller, NameGivenTwiceEndsWithTheLastEntry)
{
    Install run;
    std::wstring archive = run.scratch.Sub(L"twice.zip");
    {
        ZipWriter zip(archive);
        for (int i = 0; i < 60; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, i % 2 ? "mods/%02d.txt" : "mods/%02d.TXT", i / 2 % 3);
            ASSERT_TRUE(zip.Add(name, std::string(1000 + i * 37, (char)('a' + i % 26))));
        }
    }
    BeginRecordedInstall(run.game);
    SetRecordedMod(2);
    run.Run(archive);
    SaveRecordedInstall();
    EndRecordedInstall();
    EXPECT_TRUE(run.ok);

    InstallRecord record;
    ASSERT_TRUE(LoadRecord(run.game, record));
    EXPECT_EQ(3u, record.files.size());
    for (int last : {55, 57, 59}) {
        wchar_t name[32];
        wsprintfW(name, L"mods\\%02d.txt", last / 2 % 3);
        std::string bytes(1000 + last * 37, (char)('a' + last % 26));
        EXPECT_TRUE(bytes == ReadWholeFile(run.At(name))) << last;
        for (const RecordedFile& file : record.files) {
            if (lstrcmpiW(file.path.c_str(), name) != 0) continue;
            EXPECT_EQ(Sha256Of(bytes.data(), (DWORD)bytes.size()), file.sha256) << last;
        }
    }
}

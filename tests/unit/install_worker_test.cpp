// The install worker over a real download list: archives written by real zip tools at
// build time (tests/data/make_archives.py) and package files, copied into a download
// folder with a Japanese name, installed into a game folder, then deleted.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/install_log.h"
#include "app/state.h"
#include "mods/download/download_worker.h"
#include "mods/install/held_files_check.h"
#include "mods/install/install_worker.h"
#include "mods/mod_outcome.h"
#include "mods/journal.h"
#include "mods/record/install_record.h"
#include "mods/record/uninstaller.h"
#include "mods/sha256.h"
#include "tests/unit/test_files.h"

namespace {

const char PackageBytes[] = "SMPKG\x01\x00\xFF package body";

// The worker's globals, set as the wizard leaves them, and put back afterwards.
class InstallWorkerRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = scratch.MakeFolder(L"ゲーム");
        downloads = scratch.MakeFolder(L"ダウンロード");
        lstrcpynW(GameFolder, game.c_str(), GameFolderChars);
        GameVersion = "1.8.0.1";
        DownloadedFiles.clear();
    }
    void TearDown() override
    {
        DownloadedFiles.clear();
        GameFolder[0] = L'\0';
        GameVersion.clear();
    }
    // A download of a test archive under the name the catalogue gave it.
    std::wstring DownloadArchive(const wchar_t* testArchive, const wchar_t* name, int row = 0)
    {
        std::wstring path = downloads + L"\\" + name;
        CopyFileW(TestArchive(testArchive).c_str(), path.c_str(), FALSE);
        DownloadedFiles.push_back({path, true, row});
        return path;
    }
    std::wstring DownloadPackage(const wchar_t* name, int row = 0)
    {
        scratch.Write(std::wstring(L"ダウンロード\\") + name,
                      std::string(PackageBytes, sizeof PackageBytes - 1));
        DownloadedFiles.push_back({downloads + L"\\" + name, false, row});
        return downloads + L"\\" + name;
    }
    // Runs the worker on its own thread, as the install page does.
    std::string Run(InstallCounters& progress)
    {
        std::wstring log = scratch.Sub(L"installer.log");
        OpenInstallLog(log.c_str());
        HANDLE thread = CreateThread(nullptr, 0, InstallWorker, &progress, 0, nullptr);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000));
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(1u, code);
        CloseHandle(thread);
        CloseInstallLog();
        return ReadWholeFile(log);
    }
    std::string Line(const char* what, const std::wstring& path)
    {
        return std::string(what) + ": " + Utf8(path) + "\r\n";
    }

    ScratchFolder scratch;
    std::wstring game, downloads;
};

}  // namespace

TEST_F(InstallWorkerRun, EmptyListEndsAtOnceWithNothingLogged)
{
    InstallCounters progress;
    progress.filesInstalled = 5;
    progress.filesToInstall = 5;
    progress.failures = 5;
    std::wstring log = scratch.Sub(L"installer.log");
    OpenInstallLog(log.c_str());
    EXPECT_EQ(1u, InstallWorker(&progress));
    CloseInstallLog();
    EXPECT_EQ("", ReadWholeFile(log));
    EXPECT_EQ(0, progress.filesInstalled.load());
    EXPECT_EQ(0, progress.filesToInstall.load());
    EXPECT_EQ(0, progress.failures.load());
    EXPECT_FALSE(FileExists(game + L"\\mods"));
}

TEST_F(InstallWorkerRun, PackageGoesToTheVersionedFolderUnderItsOwnName)
{
    // No mods folder at all yet.
    std::wstring first = DownloadPackage(L"brassfinch.velloa_simple_voice_mod_2017.2.smpkg");
    InstallCounters progress;
    std::string log = Run(progress);
    std::wstring installed = game + L"\\mods\\1.8.0.1\\brassfinch.velloa_simple_voice_mod_2017.2.smpkg";
    EXPECT_EQ(std::string(PackageBytes, sizeof PackageBytes - 1), ReadWholeFile(installed));
    EXPECT_EQ(1, progress.filesInstalled.load());
    EXPECT_EQ(0, progress.filesToInstall.load()) << "a package is not an archive";
    EXPECT_EQ(0, progress.failures.load());
    EXPECT_FALSE(FileExists(first));
    EXPECT_EQ(Line("Installing", installed) + Line("Delete", first), log);

    // The versioned folder exists, with an older copy and another mod's file in it.
    DownloadedFiles.clear();
    scratch.Write(L"ゲーム\\mods\\1.8.0.1\\音声.smpkg", std::string(500, 'o'));
    scratch.Write(L"ゲーム\\mods\\1.8.0.1\\other.wotmod", "other");
    std::wstring second = DownloadPackage(L"音声.smpkg");
    InstallCounters again;
    log = Run(again);
    EXPECT_EQ(std::string(PackageBytes, sizeof PackageBytes - 1),
              ReadWholeFile(game + L"\\mods\\1.8.0.1\\音声.smpkg"));
    EXPECT_EQ("other", ReadWholeFile(game + L"\\mods\\1.8.0.1\\other.wotmod"));
    EXPECT_EQ(1, again.filesInstalled.load());
    EXPECT_EQ(0, again.failures.load());
    EXPECT_FALSE(FileExists(second));
    // The same row under a new name: the file its last install placed is stale.
    EXPECT_FALSE(FileExists(installed));
    EXPECT_EQ(Line("Installing", game + L"\\mods\\1.8.0.1\\音声.smpkg")
                  + "Removed: " + Utf8(installed) + " - the mod no longer installs it\r\n"
                  + Line("Delete", second),
              log);
}

// A download on the game's volume is moved into place; one on another volume (here a
// tmpfs under Z:) is copied. Either way the package arrives whole and the download goes.
TEST_F(InstallWorkerRun, PackageOnAnotherVolumeIsCopied)
{
    const wchar_t* otherVolume = L"Z:\\dev\\shm";
    if (GetFileAttributesW(otherVolume) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no /dev/shm";
    wchar_t name[64];
    wsprintfW(name, L"\\installer-test-%lu", GetCurrentProcessId());
    std::wstring otherGame = otherVolume + std::wstring(name);
    ASSERT_TRUE(CreateDirectoryW(otherGame.c_str(), nullptr));
    lstrcpynW(GameFolder, otherGame.c_str(), GameFolderChars);
    std::wstring download = DownloadPackage(L"音声.smpkg");
    InstallCounters progress;
    std::string log = Run(progress);

    std::wstring installed = otherGame + L"\\mods\\1.8.0.1\\音声.smpkg";
    EXPECT_EQ(std::string(PackageBytes, sizeof PackageBytes - 1), ReadWholeFile(installed));
    EXPECT_EQ(1, progress.filesInstalled.load());
    EXPECT_EQ(0, progress.failures.load());
    EXPECT_FALSE(FileExists(download));
    EXPECT_FALSE(FileExists(installed + L".zm~"));
    EXPECT_EQ(Line("Installing", installed) + Line("Delete", download), log);
    // The folder is outside the scratch folder: the pack's own uninstall takes the
    // package, its folders and the install record out again.
    UninstallCounters undone;
    UninstallSummary summary;
    EXPECT_TRUE(UninstallPack(otherGame, undone, summary));
    EXPECT_TRUE(summary.finished);
    EXPECT_TRUE(RemoveDirectoryW(otherGame.c_str()));
}

TEST_F(InstallWorkerRun, InstallsInOrderThenDeletesEveryDownload)
{
    std::wstring package = DownloadPackage(L"音声.smpkg");
    std::wstring mapping = DownloadArchive(L"mapping.zip", L"フィールド.zip");
    std::wstring html = DownloadArchive(L"not_a_zip.zip", L"qvx-8.3.5.zip");
    std::wstring bzip2 = DownloadArchive(L"bzip2_middle.zip", L"bzip2.zip");
    InstallCounters progress;
    std::string log = Run(progress);

    EXPECT_EQ(9 + 0 + 1, progress.filesToInstall.load());
    EXPECT_EQ(1 + 7 + 0 + 0, progress.filesInstalled.load());
    EXPECT_EQ(2, progress.failures.load());
    EXPECT_TRUE(FileExists(game + L"\\mods\\1.8.0.1\\音声.smpkg"));
    EXPECT_EQ("mods/音声/ボイス.txt", ReadWholeFile(game + L"\\mods\\音声\\ボイス.txt"));
    EXPECT_FALSE(FileExists(game + L"\\mods\\1.txt")) << "an archive that cannot go in whole";
    for (const std::wstring& download : {package, mapping, html, bzip2})
        EXPECT_FALSE(FileExists(download)) << Utf8(download);

    const wchar_t* fromMapping[] = {
        L"res_mods\\1.8.0.1\\gui\\a.xml", L"mods\\1.8.0.1\\b.txt", L"pack\\res_mods\\c.xml",
        L"docs\\mods_list.txt",           L"x\\mods.txt",          L"pack\\mods\\e.txt",
        L"mods\\音声\\ボイス.txt",
    };
    std::string expected = Line("Installing", game + L"\\mods\\1.8.0.1\\音声.smpkg");
    for (const wchar_t* relative : fromMapping)
        expected += Line("Installing", game + L"\\" + relative);
    expected += "Failed: " + Utf8(html) + " - not a readable zip archive\r\n";
    expected += "Failed: " + Utf8(game + L"\\mods\\2.txt")
              + " - its data cannot be unpacked (method 12)\r\n";
    for (const std::wstring& download : {package, mapping, html, bzip2})
        expected += Line("Delete", download);
    EXPECT_EQ(expected, log);
}

// What a killed run leaves, as the next run finds it: temporary files beside game
// files, named in the journal in the temporary folder.
TEST_F(InstallWorkerRun, NextRunRemovesTheTemporaryFilesAKilledRunLeft)
{
    std::wstring journal = scratch.Sub(L"installer.journal");
    std::wstring cut = game + L"\\mods\\1.8.0.1\\音声.smpkg";
    scratch.Write(L"ゲーム\\mods\\1.8.0.1\\音声.smpkg", "the old version");
    scratch.Write(L"ゲーム\\mods\\1.8.0.1\\音声.smpkg.zm~", "half of the new");
    scratch.Write(L"ゲーム\\keep.txt", "not a temporary file");
    std::wstring download = DownloadPackage(L"音声.smpkg");
    std::wstring otherDownload = DownloadPackage(L"not_in_the_catalogue.smpkg");
    scratch.Write(L"installer.journal",
                  Utf8(TemporaryFileFor(cut) + L"\r\n" + game + L"\\keep.txt\r\n" + game
                       + L"\\gone.txt.zm~\r\n" + download + L"\r\n" + otherDownload + L"\r\n"));

    // While another installer holds its journal, its files are left alone.
    HANDLE running = CreateFileW(journal.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, running);
    RemoveLeftoversOfEarlierRun(journal, {download});
    CloseHandle(running);
    EXPECT_TRUE(FileExists(TemporaryFileFor(cut)));

    std::wstring log = scratch.Sub(L"installer.log");
    OpenInstallLog(log.c_str());
    RemoveLeftoversOfEarlierRun(journal, {download});
    CloseInstallLog();
    EXPECT_FALSE(FileExists(TemporaryFileFor(cut)));
    EXPECT_FALSE(FileExists(download));
    EXPECT_TRUE(FileExists(otherDownload)) << "only the catalogue's downloads";
    EXPECT_EQ("the old version", ReadWholeFile(cut));
    EXPECT_EQ("not a temporary file", ReadWholeFile(game + L"\\keep.txt"));
    EXPECT_FALSE(FileExists(journal));
    EXPECT_EQ("Removed: " + Utf8(TemporaryFileFor(cut))
                  + " - left by an earlier run that did not finish\r\nRemoved: " + Utf8(download)
                  + " - left by an earlier run that did not finish\r\n",
              ReadWholeFile(log));
}

// A run that ends normally leaves neither temporary files nor a journal.
TEST_F(InstallWorkerRun, JournalNamesEachTemporaryFileAndGoesWithTheRun)
{
    std::wstring journal = scratch.Sub(L"installer.journal");
    UseReplaceJournal(journal);
    DownloadPackage(L"音声.smpkg");
    DownloadArchive(L"mapping.zip", L"フィールド.zip");
    InstallCounters progress;
    Run(progress);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              CreateFileW(journal.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
        << "the journal is held while the run goes on";
    EndReplaceJournal();
    UseReplaceJournal(L"");
    EXPECT_FALSE(FileExists(journal));
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((game + L"\\mods\\1.8.0.1\\*.zm~").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

// Whichever thread took each hash, the record holds the size and SHA-256 of the bytes on
// disk; an original in a folder that was there before is still kept, while files in the
// folders the run made are new.
TEST_F(InstallWorkerRun, RecordHoldsTheHashOfEveryFilePlaced)
{
    scratch.MakeFolder(L"ゲーム\\res_mods");
    scratch.MakeFolder(L"ゲーム\\res_mods\\1.8.0.1");
    scratch.MakeFolder(L"ゲーム\\res_mods\\1.8.0.1\\gui");
    scratch.Write(L"ゲーム\\res_mods\\1.8.0.1\\gui\\a.xml", "the game's own");
    DownloadPackage(L"音声.smpkg");
    DownloadArchive(L"mapping.zip", L"フィールド.zip");
    InstallCounters progress;
    Run(progress);
    EXPECT_EQ(0, progress.failures.load());

    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    EXPECT_EQ(1u + 7u, record.files.size());
    for (const RecordedFile& file : record.files) {
        std::string sha256;
        unsigned long long size = 0;
        ASSERT_TRUE(HashFile(game + L"\\" + file.path, sha256, size)) << Utf8(file.path);
        EXPECT_EQ(sha256, file.sha256) << Utf8(file.path);
        EXPECT_EQ(size, file.size) << Utf8(file.path);
        EXPECT_EQ(file.path == L"res_mods\\1.8.0.1\\gui\\a.xml", file.replacedOriginal)
            << Utf8(file.path);
    }
    EXPECT_EQ("the game's own",
              ReadWholeFile(BackupPathFor(game, L"res_mods\\1.8.0.1\\gui\\a.xml")));
}

// A package is recorded with the hash its download took as the bytes arrived, unless
// the file has changed size since: then it is read again.
TEST_F(InstallWorkerRun, PackageKeepsTheHashTakenAsItArrived)
{
    const unsigned long long size = sizeof PackageBytes - 1;
    DownloadPackage(L"音声.smpkg");
    DownloadedFiles.back().sha256 = std::string(64, 'b');  // stands for the download's hash
    DownloadedFiles.back().size = size;
    DownloadPackage(L"changed.smpkg");
    DownloadedFiles.back().sha256 = std::string(64, 'b');
    DownloadedFiles.back().size = size + 1;
    DownloadedFiles.back().row = 2;
    InstallCounters progress;
    Run(progress);
    EXPECT_EQ(0, progress.failures.load());

    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    ASSERT_EQ(2u, record.files.size());
    EXPECT_EQ(L"mods\\1.8.0.1\\音声.smpkg", record.files[0].path);
    EXPECT_EQ(std::string(64, 'b'), record.files[0].sha256);
    EXPECT_EQ(Sha256Of(PackageBytes, (DWORD)size), record.files[1].sha256);
    EXPECT_EQ(size, record.files[1].size);
}

// A mod goes in whole or not at all. An update damaged half-way, after it replaced files
// of its earlier install and of the game and added new ones, is taken back out to the
// folder as it was before the run, record included; the other mod goes on; and the
// uninstall gives back the game as it was before either.
TEST_F(InstallWorkerRun, AModThatCannotGoInWholeIsTakenBackOut)
{
    for (int i = 0; i < 4; ++i)
        scratch.Write(L"ゲーム\\res_mods\\1.8.0.1\\gui\\orig\\" + std::to_wstring(i) + L".xml",
                      "game " + std::to_string(i));
    auto beforeAll = FolderState(game);
    DownloadArchive(L"whole_first.zip", L"fieldwatch.zip", 1);
    InstallCounters first;
    Run(first);
    ASSERT_EQ(0, first.failures.load());
    auto afterFirst = FolderState(game);
    InstallRecord recordAfterFirst;
    ASSERT_TRUE(LoadRecord(game, recordAfterFirst));

    DownloadedFiles.clear();
    DownloadPackage(L"音声.smpkg");
    DownloadArchive(L"update_damaged.zip", L"fieldwatch.zip", 1);
    InstallCounters update;
    std::string log = Run(update);
    EXPECT_EQ(1, update.failures.load());
    EXPECT_EQ(ModStage::InstallFailed, ModOutcomes[1].stage);
    EXPECT_EQ(InstallFailure::DamagedData, ModOutcomes[1].installFailure);
    EXPECT_EQ(game + L"\\mods\\1.8.0.1\\fw\\bad.txt", ModOutcomes[1].failedFile);
    EXPECT_EQ(10, ModOutcomes[1].filesPutBack);
    EXPECT_EQ(ModStage::Installed, ModOutcomes[0].stage);
    EXPECT_EQ(1u, Occurrences(log, "Failed: " + Utf8(game) + "\\mods\\1.8.0.1\\fw\\bad.txt"
                                      " - damaged data in the archive\r\n"))
        << log;
    EXPECT_EQ(1u, Occurrences(log, "Rolled back: fieldwatch - 10 files put back (damaged data in "
                                   "the archive)\r\n"))
        << log;

    // The mod's paths and the record's own folder as after the first run; the package in.
    auto afterUpdate = FolderState(game);
    std::wstring package = L"mods\\1.8.0.1\\音声.smpkg";
    EXPECT_EQ(std::string(PackageBytes, sizeof PackageBytes - 1), afterUpdate[package]);
    afterUpdate.erase(package);
    for (auto& entry : {std::wstring(L"ZelkorsModsPack\\installed.txt"),
                        std::wstring(L"ZelkorsModsPack\\installing.txt")}) {
        afterUpdate.erase(entry);
        afterFirst.erase(entry);
    }
    EXPECT_EQ(afterFirst, afterUpdate);
    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    std::vector<std::string> lines, linesAfterFirst;
    for (const RecordedFile& file : record.files)
        if (file.mod == L"fieldwatch") lines.push_back(FileLine(file));
    for (const RecordedFile& file : recordAfterFirst.files) linesAfterFirst.push_back(FileLine(file));
    EXPECT_EQ(linesAfterFirst, lines);

    UninstallCounters undone;
    UninstallSummary summary;
    EXPECT_TRUE(UninstallPack(game, undone, summary));
    EXPECT_TRUE(summary.finished);
    EXPECT_EQ(beforeAll, FolderState(game));
}

// In the wizard a file held for good is asked about before anything of its mod is placed:
// Retry after the program let go installs the mod; no retry leaves that mod out whole,
// the file named, while the other mod goes on.
TEST_F(InstallWorkerRun, HeldFileIsAskedAboutAndRetryOrLeaveOut)
{
    scratch.Write(L"ゲーム\\x\\mods.txt", "the game's own");
    std::wstring held = game + L"\\x\\mods.txt";
    static HANDLE holder;
    static std::vector<std::wstring> asked;
    static bool letGo;
    holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    AskToRetryHeldFiles = [](int row, const std::vector<std::wstring>& files,
                             const std::vector<std::wstring>&) {
        asked.push_back(std::to_wstring(row) + L" " + files.at(0));
        if (letGo) CloseHandle(holder);
        return letGo;
    };
    for (bool retry : {false, true}) {
        letGo = retry;
        asked.clear();
        DownloadedFiles.clear();
        DownloadArchive(L"mapping.zip", L"fieldwatch.zip", 1);
        DownloadPackage(L"音声.smpkg", 2);
        InstallCounters progress;
        std::string log = Run(progress);
        EXPECT_EQ(std::vector<std::wstring>{L"1 " + held}, asked);
        EXPECT_EQ(retry ? ModStage::Installed : ModStage::InstallFailed, ModOutcomes[1].stage);
        EXPECT_EQ(ModStage::Installed, ModOutcomes[2].stage);
        EXPECT_EQ(retry ? "x/mods.txt" : "the game's own", ReadWholeFile(held));
        EXPECT_EQ(retry, FileExists(game + L"\\pack\\mods\\e.txt"));
        EXPECT_EQ(retry ? 0u : 1u, Occurrences(log, "Failed: " + Utf8(held)
                                                   + " - the file is in use by another program\r\n"))
            << log;
        EXPECT_EQ(0u, Occurrences(log, "Rolled back")) << "nothing of it was placed";
        if (!retry) {
            EXPECT_EQ(InstallFailure::InUse, ModOutcomes[1].installFailure);
            EXPECT_EQ(held, ModOutcomes[1].failedFile);
        }
    }
    AskToRetryHeldFiles = nullptr;
}

// A package is one file, placed whole or not at all already; held for good, it is left as
// it was, named, and unattended nobody is asked.
TEST_F(InstallWorkerRun, HeldPackageIsLeftAsItWas)
{
    scratch.Write(L"ゲーム\\mods\\1.8.0.1\\音声.smpkg", "the earlier package");
    std::wstring held = game + L"\\mods\\1.8.0.1\\音声.smpkg";
    HANDLE holder = CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    std::wstring download = DownloadPackage(L"音声.smpkg");
    InstallCounters progress;
    std::string log = Run(progress);
    CloseHandle(holder);
    EXPECT_EQ(1, progress.failures.load());
    EXPECT_EQ("the earlier package", ReadWholeFile(held));
    EXPECT_EQ(InstallFailure::InUse, ModOutcomes[0].installFailure);
    EXPECT_EQ("Waiting: " + Utf8(held) + " - it is in use by another program\r\n"
                  + "Failed: " + Utf8(held) + " - the file is in use by another program\r\n"
                  + Line("Delete", download),
              log);
}

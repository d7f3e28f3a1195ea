// The install record: its text form read back, what a kill leaves of it, the paths an
// uninstall may touch, and a recorded install undone in process, on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "app/install_log.h"
#include "mods/catalog.h"
#include "mods/install/file_replace.h"
#include "mods/record/install_record.h"
#include "mods/record/recorded_install.h"
#include "mods/sha256.h"
#include "mods/record/uninstaller.h"
#include "tests/unit/test_files.h"

namespace {

const std::string HashA(64, 'a'), HashB(64, 'b');

RecordedFile File(const wchar_t* path, const std::string& hash, bool replaced)
{
    RecordedFile file;
    file.path = path;
    file.mod = L"qvx";
    file.size = 12;
    file.sha256 = hash;
    file.replacedOriginal = replaced;
    if (replaced) {
        file.originalSize = 7;
        file.originalSha256 = HashB;
    }
    return file;
}

std::string Sha256Hex(const std::string& bytes)
{
    Sha256 hash;
    hash.Start();
    hash.Add(bytes.data(), (DWORD)bytes.size());
    return hash.FinishHex();
}

void WriteAt(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

bool Place(const std::wstring& path, const std::string& bytes)
{
    FileReplace replace;
    if (!BeginReplace(path, replace)) return false;
    WriteReplace(replace, bytes.data(), (DWORD)bytes.size());
    return CommitReplace(replace, bytes.size()) == CommitResult::Done;
}

}  // namespace

TEST(InstallRecord, TextFormReadsBackLineForLine)
{
    InstallRecord record;
    record.files = {File(L"qvx-8.3.5\\mods\\コア.smpkg", HashA, false),
                    File(L"res_mods\\1.8.0.1\\設定.xml", HashA, true)};
    record.folders = {{L"qvx-8.3.5", L"qvx"}};
    InstallRecord read;
    ApplyRecordLines(FormatRecord(record), read);
    ASSERT_EQ(2u, read.files.size());
    EXPECT_EQ(record.files[0].path, read.files[0].path);
    EXPECT_FALSE(read.files[0].replacedOriginal);
    EXPECT_EQ(L"qvx", read.files[1].mod);
    EXPECT_EQ(12u, read.files[1].size);
    EXPECT_TRUE(read.files[1].replacedOriginal);
    EXPECT_EQ(7u, read.files[1].originalSize);
    EXPECT_EQ(HashB, read.files[1].originalSha256);
    ASSERT_EQ(1u, read.folders.size());
    EXPECT_EQ(L"qvx-8.3.5", read.folders[0].path);
}

TEST(InstallRecord, LaterLinesOverrideAndACutLastLineIsLeftOut)
{
    InstallRecord record;
    std::string lines = FileLine(File(L"mods\\a.smpkg", HashA, false))
                      + FileLine(File(L"MODS\\A.SMPKG", HashB, false))  // the same file
                      + FileLine(File(L"mods\\gone.smpkg", HashA, false))
                      + ForgetFileLine(L"mods\\gone.smpkg")
                      + "file\tqvx\t12\tnot-a-hash\tnew\t-\t-\tmods\\bad.smpkg\r\n"
                      + "file\tqvx\t12\r\n"
                      + FileLine(File(L"mods\\cut.smpkg", HashA, false));
    lines.resize(lines.size() - 5);
    ApplyRecordLines(lines, record);
    ASSERT_EQ(1u, record.files.size());
    EXPECT_EQ(L"MODS\\A.SMPKG", record.files[0].path);
    EXPECT_EQ(HashB, record.files[0].sha256);
}

TEST(InstallRecord, UninstallTouchesOnlyPathsInsideTheGameFolderAndOutsideTheRecord)
{
    ScratchFolder scratch;
    std::wstring game = scratch.MakeFolder(L"ゲーム");
    EXPECT_TRUE(IsUndoablePath(game, L"res_mods\\1.8.0.1\\a.xml"));
    for (const wchar_t* refused : {L"..\\outside.txt", L"mods\\..\\..\\x.txt", L"C:\\x.txt",
                                   L"\\x.txt", L"ZelkorsModsPack\\installed.txt",
                                   L"zelkorsmodspack", L"mods\\... \\x"})
        EXPECT_FALSE(IsUndoablePath(game, refused)) << Utf8(refused);
    EXPECT_NE(BackupPathFor(game, L"a\\x.xml"), BackupPathFor(game, L"b\\x.xml"));
    EXPECT_EQ(PathKey(BackupPathFor(game, L"a\\x.xml")), PathKey(BackupPathFor(game, L"A\\X.xml")));
}

TEST(InstallRecord, RecordedInstallIsUndoneExceptWhatChanged)
{
    ScratchFolder scratch;
    std::wstring game = scratch.MakeFolder(L"ゲーム");
    scratch.MakeFolder(L"ゲーム\\res_mods");
    scratch.Write(L"ゲーム\\res_mods\\original.xml", "original");
    OpenInstallLog(scratch.Sub(L"installer.log").c_str());

    BeginRecordedInstall(game);
    SetRecordedMod(1);
    CreateFolderRecorded(game + L"\\res_mods\\new\\deep");
    EXPECT_TRUE(Place(game + L"\\res_mods\\original.xml", "pack v1"));
    EXPECT_TRUE(Place(game + L"\\res_mods\\new\\deep\\a.xml", "pack a"));
    EXPECT_TRUE(Place(game + L"\\res_mods\\new\\b.xml", "pack b"));
    EndRecordedInstall();
    // A second run replaces the pack's own file: the original stays the first one.
    BeginRecordedInstall(game);
    SetRecordedMod(1);
    EXPECT_TRUE(Place(game + L"\\res_mods\\original.xml", "pack v2"));
    EndRecordedInstall();

    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    ASSERT_EQ(3u, record.files.size());
    EXPECT_EQ(2u, record.folders.size());
    EXPECT_EQ("original", ReadWholeFile(BackupPathFor(game, L"res_mods\\original.xml")));

    scratch.Write(L"ゲーム\\res_mods\\new\\b.xml", "changed by hand");
    UninstallCounters progress;
    UninstallSummary summary;
    ASSERT_TRUE(UninstallPack(game, progress, summary));
    CloseInstallLog();
    EXPECT_EQ(1, summary.removed);
    EXPECT_EQ(1, summary.restored);
    EXPECT_EQ(1, summary.kept);
    EXPECT_TRUE(summary.finished);
    EXPECT_EQ("original", ReadWholeFile(game + L"\\res_mods\\original.xml"));
    EXPECT_EQ("changed by hand", ReadWholeFile(game + L"\\res_mods\\new\\b.xml"));
    EXPECT_FALSE(FileExists(game + L"\\res_mods\\new\\deep"));
    EXPECT_FALSE(FileExists(RecordFolderOf(game)));
    EXPECT_FALSE(UninstallPack(game, progress, summary));  // nothing left to undo
}

TEST(InstallRecord, FileInUseStaysRecordedAndAPathOutsideIsRefused)
{
    ScratchFolder scratch;
    std::wstring game = scratch.MakeFolder(L"game");
    scratch.MakeFolder(L"game\\mods");
    scratch.Write(L"outside.txt", "not the pack's");
    OpenInstallLog(scratch.Sub(L"installer.log").c_str());
    BeginRecordedInstall(game);
    SetRecordedMod(0);
    EXPECT_TRUE(Place(game + L"\\mods\\busy.smpkg", "pack"));
    EndRecordedInstall();
    // A record line that leads out of the game folder, as a hand edit could write.
    RecordedFile outside = File(L"..\\outside.txt", HashA, false);
    std::string line = FileLine(outside);
    HANDLE pending = CreateFileW(PendingFileOf(game).c_str(), FILE_APPEND_DATA, 0, nullptr,
                                 OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(pending, line.data(), (DWORD)line.size(), &written, nullptr);
    CloseHandle(pending);

    HANDLE busy = CreateFileW((game + L"\\mods\\busy.smpkg").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    UninstallCounters progress;
    UninstallSummary first;
    ASSERT_TRUE(UninstallPack(game, progress, first));
    CloseHandle(busy);
    EXPECT_EQ(1, first.left);
    EXPECT_EQ(1, first.refused);
    EXPECT_FALSE(first.finished);
    EXPECT_EQ("not the pack's", ReadWholeFile(scratch.Sub(L"outside.txt")));
    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    ASSERT_EQ(1u, record.files.size());
    EXPECT_EQ(L"mods\\busy.smpkg", record.files[0].path);

    // Once the file is free, a second uninstall finishes the job.
    UninstallSummary second;
    ASSERT_TRUE(UninstallPack(game, progress, second));
    CloseInstallLog();
    EXPECT_EQ(1, second.removed);
    EXPECT_TRUE(second.finished);
    EXPECT_FALSE(FileExists(game + L"\\mods\\busy.smpkg"));
    EXPECT_TRUE(FileExists(game + L"\\mods"));  // it was there before
}

TEST(InstallRecord, NotesAfterASaveAndAfterACutLineSurviveACrash)
{
    ScratchFolder scratch;
    std::wstring game = scratch.MakeFolder(L"game");
    OpenInstallLog(scratch.Sub(L"installer.log").c_str());
    // A killed run's last line, cut short.
    scratch.MakeFolder(L"game\\ZelkorsModsPack");
    std::string cut = FileLine(File(L"mods\\cut.smpkg", HashA, false));
    scratch.Write(L"game\\ZelkorsModsPack\\installing.txt", cut.substr(0, 20));

    BeginRecordedInstall(game);
    SetRecordedMod(0);
    EXPECT_TRUE(Place(game + L"\\first.smpkg", "first mod"));
    SaveRecordedInstall();  // after each mod
    SetRecordedMod(1);
    EXPECT_TRUE(Place(game + L"\\second.smpkg", "second mod"));
    ClosePendingLines();  // killed here: the record was saved once, before the second mod
    CloseInstallLog();

    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    ASSERT_EQ(2u, record.files.size());
    EXPECT_EQ(L"first.smpkg", record.files[0].path);
    EXPECT_EQ(L"second.smpkg", record.files[1].path);
}

TEST(InstallRecord, WhatACrashLeftAtAPathIsUndoneOrNamed)
{
    ScratchFolder scratch;
    std::wstring game = scratch.MakeFolder(L"game");
    OpenInstallLog(scratch.Sub(L"installer.log").c_str());
    std::string original = "original", earlier = "pack v1", later = "pack v2", hand = "by hand";
    auto recorded = [&](const wchar_t* path, const std::string& bytes) {
        RecordedFile file = File(path, Sha256Hex(bytes), true);
        file.size = bytes.size();
        file.originalSize = original.size();
        file.originalSha256 = Sha256Hex(original);
        return file;
    };
    auto backup = [&](const wchar_t* path) {
        CreateDirectoryW(RecordFolderOf(game).c_str(), nullptr);
        CreateDirectoryW((RecordFolderOf(game) + L"\\backup").c_str(), nullptr);
        WriteAt(BackupPathFor(game, path), original);
    };
    // Cut between the note of v2 and its move: v1 is still there, and the pack's.
    std::string lines =
        FileLine(recorded(L"cut.xml", earlier)) + ReplacingLine(recorded(L"cut.xml", later));
    scratch.Write(L"game\\cut.xml", earlier);
    backup(L"cut.xml");
    // Cut between the note and the backup: the original never left.
    lines += FileLine(recorded(L"unmoved.xml", later));
    scratch.Write(L"game\\unmoved.xml", original);
    // The pack's file with no original to put back; a changed one whose original stays.
    lines += FileLine(recorded(L"lost.xml", later)) + FileLine(recorded(L"changed.xml", later));
    scratch.Write(L"game\\lost.xml", later);
    scratch.Write(L"game\\changed.xml", hand);
    backup(L"changed.xml");
    scratch.Write(L"game\\ZelkorsModsPack\\installing.txt", lines);

    InstallRecord record;
    ASSERT_TRUE(LoadRecord(game, record));
    InstallRecord saved;
    ApplyRecordLines(FormatRecord(record), saved);  // what a save keeps of the cut placement
    EXPECT_EQ(Sha256Hex(earlier), saved.files[0].earlierSha256);

    UninstallCounters progress;
    UninstallSummary summary;
    ASSERT_TRUE(UninstallPack(game, progress, summary));
    CloseInstallLog();
    EXPECT_EQ(1, summary.restored);
    EXPECT_EQ(1, summary.kept);
    EXPECT_EQ(1, summary.left);
    EXPECT_EQ(1, summary.missing);
    EXPECT_FALSE(summary.finished);
    EXPECT_EQ(original, ReadWholeFile(game + L"\\cut.xml"));
    EXPECT_EQ(original, ReadWholeFile(game + L"\\unmoved.xml"));
    EXPECT_EQ(later, ReadWholeFile(game + L"\\lost.xml"));
    EXPECT_EQ(original, ReadWholeFile(BackupPathFor(game, L"changed.xml")));
    ASSERT_TRUE(LoadRecord(game, record));
    ASSERT_EQ(1u, record.files.size());
    EXPECT_EQ(L"changed.xml", record.files[0].path);
}

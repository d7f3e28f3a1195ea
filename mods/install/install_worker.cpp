#include "mods/install/install_worker.h"

#include <aclapi.h>
#include <string>
#include <vector>

#include "app/install_log.h"
#include "app/long_path.h"
#include "app/state.h"
#include "mods/catalog.h"
#include "mods/download/download_worker.h"
#include "mods/install/archive_entries.h"
#include "mods/install/archive_installer.h"
#include "mods/files_in_use.h"
#include "mods/install/file_replace.h"
#include "mods/install/held_files_check.h"
#include "mods/install/room_to_install.h"
#include "mods/mod_outcome.h"
#include "mods/record/mod_rollback.h"
#include "mods/record/recorded_install.h"
#include "mods/sha256.h"
#include "mods/worker_pause.h"

namespace {

// The name part of the path itself, extension included: GetFileTitleW would drop
// the extension for a user who hides known extensions in Explorer.
std::wstring FileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool CopyFileData(HANDLE source, FileReplace& replace)
{
    std::vector<char> buffer(1024 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, buffer.data(), (DWORD)buffer.size(), &read, nullptr)) return false;
        if (read == 0) return true;
        if (!WriteReplace(replace, buffer.data(), read)) return false;
    }
}

// A download was hashed as it arrived, and a pinned row's checked against its pin; one
// that has changed size since, or came some other way, is read once for the record.
bool PackageHash(const wchar_t* packagePath, std::string& sha256, unsigned long long& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(packagePath).c_str(), GetFileExInfoStandard, &data))
        return false;
    size = (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
    for (const DownloadedFile& file : DownloadedFiles)
        if (!file.sha256.empty() && file.path == packagePath && file.size == size) {
            sha256 = file.sha256;
            return true;
        }
    for (const ModEntry& mod : ModCatalog)
        if (mod.sha256[0] && FileNameOf(packagePath) == mod.fileName) {
            sha256 = mod.sha256;
            for (char& c : sha256) c = (char)tolower((unsigned char)c);
            return true;
        }
    return HashFile(packagePath, sha256, size);
}

enum class Moving { Moved, NotMoved, InUse };

// The download is deleted once installed, so on the same volume it is moved into
// place rather than copied: one rename, as safe as the copy's own final rename. A
// moved file brings the permissions of the temporary folder along; it is made to
// take those of its new folder instead, as a copied file would. NotMoved when it
// could not be moved, for instance to another volume.
Moving MoveDownloadIntoPlace(const wchar_t* packagePath, const std::wstring& destination)
{
    WaitWhileWorkersPaused();
    std::string sha256;
    unsigned long long size = 0;
    if (RecordingInstall() && !PackageHash(packagePath, sha256, size)) return Moving::NotMoved;
    if (!NoteFileBeforePlacing(destination, size, sha256)) return Moving::NotMoved;
    if (!FlushRecordedLines() || !KeepBeforePlacing(destination)) {
        PlacementEnded(destination, false);
        return Moving::NotMoved;
    }
    std::wstring from = SystemPath(packagePath), to = SystemPath(destination);
    HeldResult moved = RetryWhileHeld(destination, [&] {
        return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    });
    PlacementEnded(destination, moved == HeldResult::Done);
    if (moved != HeldResult::Done) return moved == HeldResult::Held ? Moving::InUse : Moving::NotMoved;
    ACL inheritOnly;
    if (InitializeAcl(&inheritOnly, sizeof inheritOnly, ACL_REVISION))
        SetNamedSecurityInfoW(&to[0], SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &inheritOnly, nullptr);
    return Moving::Moved;
}

bool Failed(InstallAttempt& attempt, InstallFailure failure, const std::wstring& file)
{
    attempt.failure = failure;
    attempt.failedFile = file;
    return false;
}

// Copies the download beside its destination, then moves the copy into place.
bool CopyPackage(const wchar_t* packagePath, const std::wstring& destination,
                 InstallAttempt& attempt)
{
    HANDLE source = INVALID_HANDLE_VALUE;
    LARGE_INTEGER size;
    // A virus scanner may still be reading the download.
    RetryWhileHeld(packagePath, [&] {
        source = CreateFileW(SystemPath(packagePath).c_str(), GENERIC_READ, 0, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        return source != INVALID_HANDLE_VALUE;
    });
    if (source == INVALID_HANDLE_VALUE || !GetFileSizeEx(source, &size)) {
        if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
        LogWrite(L"Failed: %ls - the download could not be opened\n", packagePath);
        return Failed(attempt, InstallFailure::Unreadable, packagePath);
    }
    FileReplace replace;
    if (!BeginReplace(destination, replace)) {
        AbortReplace(replace);
        CloseHandle(source);
        LogWrite(L"Failed: %ls - the file could not be created\n", destination.c_str());
        return Failed(attempt, InstallFailure::WriteFailed, destination);
    }
    bool copied = CopyFileData(source, replace);
    CloseHandle(source);
    if (!copied) {
        AbortReplace(replace);
        LogWrite(L"Failed: %ls - the file could not be written\n", destination.c_str());
        return Failed(attempt, InstallFailure::WriteFailed, destination);
    }
    switch (CommitReplace(replace, (unsigned long long)size.QuadPart)) {
    case CommitResult::Done:
        return true;
    case CommitResult::WrongSize:
        LogWrite(L"Failed: %ls - the file could not be written\n", destination.c_str());
        return Failed(attempt, InstallFailure::WriteFailed, destination);
    case CommitResult::InUse:
        LogInUse(destination);
        return Failed(attempt, InstallFailure::InUse, destination);
    case CommitResult::NotMoved:
    default:
        LogNotReplaced(destination);
        return Failed(attempt, InstallFailure::NotReplaced, destination);
    }
}

bool PlacePackage(const wchar_t* packagePath, InstallCounters& progress, InstallAttempt& attempt)
{
    std::wstring folder = std::wstring(GameFolder) + L"\\mods\\"
                        + std::wstring(GameVersion.begin(), GameVersion.end());
    std::wstring destination = folder + L"\\" + FileNameOf(packagePath);
    if (!NoDestinationHeld({FullPathOf(destination)}, attempt)) return false;
    attempt.placingBegun = true;
    LogWrite(L"Installing: %ls\n", destination.c_str());
    SetCurrentFile(progress, destination.c_str());
    WaitWhileWorkersPaused();
    CreateFolderRecorded(folder);
    Moving moved = MoveDownloadIntoPlace(packagePath, destination);
    if (moved == Moving::InUse) {
        LogInUse(destination);
        return Failed(attempt, InstallFailure::InUse, destination);
    }
    if (moved == Moving::NotMoved && !CopyPackage(packagePath, destination, attempt)) return false;
    progress.filesInstalled.fetch_add(1);
    return true;
}

// The reason a mod was taken back out, for the log.
const wchar_t* FailureText(InstallFailure failure)
{
    switch (failure) {
    case InstallFailure::NoRoom: return L"not enough free space";
    case InstallFailure::InUse: return L"a file is in use by another program";
    case InstallFailure::Refused: return L"an entry's name cannot be installed";
    case InstallFailure::Unreadable: return L"the archive cannot be read";
    case InstallFailure::DamagedData: return L"damaged data in the archive";
    case InstallFailure::WriteFailed: return L"a file could not be written";
    case InstallFailure::NotReplaced: return L"a file could not be replaced";
    case InstallFailure::None:
    default: return L"it did not install whole";
    }
}

// A mod that did not go in whole is taken back out. Returns the files put back.
int TakeBackOut(int row, const InstallAttempt& attempt)
{
    int left = 0;
    int putBack = RollBackRecordedMod(left);
    if (left == 0)
        LogWrite(L"Rolled back: %ls - %d files put back (%ls)\n", ModCatalog[row].key, putBack,
                 FailureText(attempt.failure));
    else
        LogWrite(L"Rolled back: %ls - %d files put back, %d left in use (%ls)\n",
                 ModCatalog[row].key, putBack, left, FailureText(attempt.failure));
    return putBack;
}

void NoteOutcome(int row, bool installed, const InstallAttempt& attempt, int filesFailed,
                 int putBack)
{
    ModOutcome& outcome = ModOutcomes[row];
    outcome.stage = installed ? ModStage::Installed : ModStage::InstallFailed;
    outcome.installFailure = installed ? InstallFailure::None : attempt.failure;
    outcome.filesFailed = attempt.failure == InstallFailure::InUse ? attempt.filesHeld : filesFailed;
    outcome.diskFull = attempt.failure == InstallFailure::NoRoom;
    outcome.failedFile = attempt.failedFile;
    outcome.filesPutBack = putBack;
}

}  // namespace

bool InstallPackage(const wchar_t* packagePath, InstallCounters& progress, InstallAttempt* attempt)
{
    InstallAttempt unused;
    bool installed = PlacePackage(packagePath, progress, attempt ? *attempt : unused);
    if (!installed) progress.filesFailed.fetch_add(1);
    return installed;
}

DWORD WINAPI InstallWorker(LPVOID counters)
{
    InstallCounters& progress = *static_cast<InstallCounters*>(counters);
    progress.filesInstalled = 0;
    progress.filesToInstall = 0;
    progress.failures = 0;
    progress.filesFailed = 0;

    int total = 0;
    for (const DownloadedFile& file : DownloadedFiles) total += CountArchiveFiles(file.path.c_str());
    progress.filesToInstall = total;
    if (DownloadedFiles.empty()) return 1;

    // Each mod's files go into the record as they are placed; the record is saved
    // after each mod.
    BeginRecordedInstall(GameFolder);
    for (const DownloadedFile& file : DownloadedFiles) {
        int filesFailedBefore = progress.filesFailed;
        SetRecordedMod(file.row);
        InstallAttempt attempt;
        attempt.row = file.row;
        // A mod half installed can break the client worse than none: a drive too
        // small for all of it gets none of it, and one that fails on the way is taken
        // back out.
        bool room = RoomToInstall(file.path, file.isArchive, GameFolder);
        if (!room) attempt.failure = InstallFailure::NoRoom;
        bool installed = room && (file.isArchive
                                      ? ArchiveInstaller(file.path.c_str(), GameFolder, progress, &attempt)
                                      : InstallPackage(file.path.c_str(), progress, &attempt));
        int putBack = 0;
        if (!installed) progress.failures.fetch_add(1);
        if (!installed && attempt.placingBegun) putBack = TakeBackOut(file.row, attempt);
        // Only a mod that went in whole shows which of its earlier files are stale.
        if (installed) RemoveFilesNoLongerInstalled(file.row);
        SaveRecordedInstall();
        if (installed) ForgetKeptEarlierBytes();
        NoteOutcome(file.row, installed, attempt, progress.filesFailed - filesFailedBefore, putBack);
    }
    EndRecordedInstall();
    DeleteDownloadedFiles();
    return 1;
}

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
#include "mods/install/file_replace.h"
#include "mods/install/room_to_install.h"
#include "mods/mod_outcome.h"
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

// The download is deleted once installed, so on the same volume it is moved into
// place rather than copied: one rename, as safe as the copy's own final rename. A
// moved file brings the permissions of the temporary folder along; it is made to
// take those of its new folder instead, as a copied file would. False when it could
// not be moved, for instance to another volume.
bool MoveDownloadIntoPlace(const wchar_t* packagePath, const std::wstring& destination)
{
    WaitWhileWorkersPaused();
    std::string sha256;
    unsigned long long size = 0;
    if (RecordingInstall() && !PackageHash(packagePath, sha256, size)) return false;
    if (!NoteFileBeforePlacing(destination, size, sha256)) return false;
    bool moved = MoveFileExW(SystemPath(packagePath).c_str(), SystemPath(destination).c_str(),
                             MOVEFILE_REPLACE_EXISTING)
              != FALSE;
    PlacementEnded(destination, moved);
    if (!moved) return false;
    ACL inheritOnly;
    std::wstring placed = SystemPath(destination);
    if (InitializeAcl(&inheritOnly, sizeof inheritOnly, ACL_REVISION))
        SetNamedSecurityInfoW(&placed[0], SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &inheritOnly, nullptr);
    return true;
}

// Copies the download beside its destination, then moves the copy into place.
bool CopyPackage(const wchar_t* packagePath, const std::wstring& destination)
{
    HANDLE source = CreateFileW(SystemPath(packagePath).c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    if (source == INVALID_HANDLE_VALUE || !GetFileSizeEx(source, &size)) {
        if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
        LogWrite(L"Failed: %ls - the download could not be opened\n", packagePath);
        return false;
    }
    FileReplace replace;
    if (!BeginReplace(destination, replace)) {
        AbortReplace(replace);
        CloseHandle(source);
        LogWrite(L"Failed: %ls - the file could not be created\n", destination.c_str());
        return false;
    }
    bool copied = CopyFileData(source, replace);
    CloseHandle(source);
    if (!copied) {
        AbortReplace(replace);
        LogWrite(L"Failed: %ls - the file could not be written\n", destination.c_str());
        return false;
    }
    switch (CommitReplace(replace, (unsigned long long)size.QuadPart)) {
    case CommitResult::Done:
        return true;
    case CommitResult::WrongSize:
        LogWrite(L"Failed: %ls - the file could not be written\n", destination.c_str());
        return false;
    case CommitResult::NotMoved:
    default:
        LogNotReplaced(destination);
        return false;
    }
}

bool PlacePackage(const wchar_t* packagePath, InstallCounters& progress)
{
    std::wstring folder = std::wstring(GameFolder) + L"\\mods\\"
                        + std::wstring(GameVersion.begin(), GameVersion.end());
    std::wstring destination = folder + L"\\" + FileNameOf(packagePath);
    LogWrite(L"Installing: %ls\n", destination.c_str());
    SetCurrentFile(progress, destination.c_str());
    WaitWhileWorkersPaused();
    CreateFolderRecorded(folder);
    if (!MoveDownloadIntoPlace(packagePath, destination) && !CopyPackage(packagePath, destination))
        return false;
    progress.filesInstalled.fetch_add(1);
    return true;
}

}  // namespace

bool InstallPackage(const wchar_t* packagePath, InstallCounters& progress)
{
    bool installed = PlacePackage(packagePath, progress);
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
        // A mod half installed can break the client worse than none: a drive too
        // small for all of it gets none of it.
        bool room = RoomToInstall(file.path, file.isArchive, GameFolder);
        bool installed = room && (file.isArchive
                                      ? ArchiveInstaller(file.path.c_str(), GameFolder, progress)
                                      : InstallPackage(file.path.c_str(), progress));
        if (!installed) progress.failures.fetch_add(1);
        // Only a mod that went in whole shows which of its earlier files are stale.
        if (installed) RemoveFilesNoLongerInstalled(file.row);
        SaveRecordedInstall();
        ModOutcome& outcome = ModOutcomes[file.row];
        outcome.stage = installed ? ModStage::Installed : ModStage::InstallFailed;
        outcome.filesFailed = progress.filesFailed - filesFailedBefore;
        outcome.diskFull = !room;
    }
    EndRecordedInstall();
    DeleteDownloadedFiles();
    return 1;
}

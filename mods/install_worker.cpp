#include "mods/install_worker.h"

#include <shlobj.h>
#include <string>

#include "app/install_log.h"
#include "app/state.h"
#include "mods/archive_installer.h"
#include "mods/download_worker.h"
#include "mods/worker_pause.h"

InstallCounters InstallProgress;

void SetCurrentFile(InstallCounters& progress, const wchar_t* path)
{
    AcquireSRWLockExclusive(&progress.currentFileLock);
    lstrcpynW(progress.currentFile, path, 256);
    ReleaseSRWLockExclusive(&progress.currentFileLock);
}

void GetCurrentFile(InstallCounters& progress, wchar_t (&path)[256])
{
    AcquireSRWLockShared(&progress.currentFileLock);
    lstrcpynW(path, progress.currentFile, 256);
    ReleaseSRWLockShared(&progress.currentFileLock);
}

namespace {

// The name part of the path itself, extension included: GetFileTitleW would drop
// the extension for a user who hides known extensions in Explorer.
std::wstring FileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool CopyFileData(HANDLE source, HANDLE destination)
{
    char buffer[2048];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, buffer, sizeof buffer, &read, nullptr)) return false;
        if (read == 0) return true;
        WaitWhileWorkersPaused();
        DWORD written = 0;
        if (!WriteFile(destination, buffer, read, &written, nullptr) || written != read)
            return false;
    }
}

}  // namespace

bool InstallPackage(const wchar_t* packagePath, InstallCounters& progress)
{
    std::wstring folder = std::wstring(GameFolder) + L"\\mods\\"
                        + std::wstring(GameVersion.begin(), GameVersion.end());
    std::wstring destination = folder + L"\\" + FileNameOf(packagePath);
    LogWrite(L"Installing: %ls\n", destination.c_str());
    if (destination.size() >= 256) {
        LogWrite(L"Failed: %ls - the path is too long\n", destination.c_str());
        return false;
    }
    SetCurrentFile(progress, destination.c_str());

    HANDLE source = CreateFileW(packagePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        LogWrite(L"Failed: %ls - the download could not be opened\n", packagePath);
        return false;
    }
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    HANDLE target = CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        CloseHandle(source);
        LogWrite(L"Failed: %ls - the file could not be created\n", destination.c_str());
        return false;
    }
    bool copied = CopyFileData(source, target);
    CloseHandle(target);
    CloseHandle(source);
    if (!copied) {
        DeleteFileW(destination.c_str());
        LogWrite(L"Failed: %ls - the file could not be written\n", destination.c_str());
        return false;
    }
    progress.filesInstalled.fetch_add(1);
    return true;
}

DWORD WINAPI InstallWorker(LPVOID counters)
{
    InstallCounters& progress = *static_cast<InstallCounters*>(counters);
    progress.filesInstalled = 0;
    progress.filesToInstall = 0;
    progress.failures = 0;

    int total = 0;
    for (const DownloadedFile& file : DownloadedFiles) total += CountArchiveFiles(file.path.c_str());
    progress.filesToInstall = total;
    if (DownloadedFiles.empty()) return 1;

    for (const DownloadedFile& file : DownloadedFiles) {
        bool installed = file.isArchive
                       ? ArchiveInstaller(file.path.c_str(), GameFolder, progress)
                       : InstallPackage(file.path.c_str(), progress);
        if (!installed) progress.failures.fetch_add(1);
    }
    for (const DownloadedFile& file : DownloadedFiles) {
        LogWrite(L"Delete: %ls\n", file.path.c_str());
        DeleteFileW(file.path.c_str());
    }
    return 1;
}

#pragma once
// The thread that installs what the download worker fetched, then deletes the
// downloads.
#include <windows.h>
#include <atomic>
#include <cstdint>

// Shared with the install page without a lock for the counters; currentFile is
// display text behind a slim lock so the page never reads it half written.
struct InstallCounters {
    std::atomic<int32_t> filesInstalled{0};
    std::atomic<int32_t> filesToInstall{0};
    std::atomic<int32_t> failures{0};  // things that should have been installed and were not
    wchar_t currentFile[256] = L"";
    SRWLOCK currentFileLock = SRWLOCK_INIT;
};
extern InstallCounters InstallProgress;

void SetCurrentFile(InstallCounters& progress, const wchar_t* path);
void GetCurrentFile(InstallCounters& progress, wchar_t (&path)[256]);

// Thread entry; the argument is an InstallCounters*. Exit code 1 whatever happened.
DWORD WINAPI InstallWorker(LPVOID counters);

// Copies a downloaded package into GameFolder\mods\GameVersion under its own file
// name, creating that folder when it is missing. False when it was not installed.
bool InstallPackage(const wchar_t* packagePath, InstallCounters& progress);

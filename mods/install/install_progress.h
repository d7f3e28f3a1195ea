#pragma once
// The install worker's counters, shared with the install page: written by the worker
// and the archive installer it calls, read by the page on its timer.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>

#include "mods/mod_outcome.h"

// The counters need no lock; currentFile is display text behind a slim lock so the
// page never reads it half written.
struct InstallCounters {
    std::atomic<int32_t> filesInstalled{0};
    std::atomic<int32_t> filesToInstall{0};
    std::atomic<int32_t> failures{0};  // downloads that did not install completely
    std::atomic<int32_t> filesFailed{0};  // files that should have been installed and were not
    wchar_t currentFile[256] = L"";
    SRWLOCK currentFileLock = SRWLOCK_INIT;
};
extern InstallCounters InstallProgress;

// One mod's install as its installer reports it to the worker.
struct InstallAttempt {
    int row = -1;  // the catalogue row, named in a question about held files
    InstallFailure failure = InstallFailure::None;
    std::wstring failedFile;  // the file that could not be placed, or the first held one
    int filesHeld = 0;
    bool placingBegun = false;  // past the checks: files or folders may have been placed
};

void SetCurrentFile(InstallCounters& progress, const wchar_t* path);
void GetCurrentFile(InstallCounters& progress, wchar_t (&path)[256]);

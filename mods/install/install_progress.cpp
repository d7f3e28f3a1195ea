#include "mods/install/install_progress.h"

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

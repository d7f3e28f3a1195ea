#pragma once
// The thread that installs what the download worker fetched, then deletes the
// downloads.
#include <windows.h>

#include "mods/install/install_progress.h"

// Thread entry; the argument is an InstallCounters*. Exit code 1 whatever happened.
DWORD WINAPI InstallWorker(LPVOID counters);

// Copies a downloaded package into GameFolder\mods\GameVersion under its own file
// name, creating that folder when it is missing. False when it was not installed;
// attempt then says why.
bool InstallPackage(const wchar_t* packagePath, InstallCounters& progress,
                    InstallAttempt* attempt = nullptr);

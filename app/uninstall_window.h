#pragma once
// The window an uninstall shows while it works: the file count and a bar.
#include <windows.h>

#include "mods/record/uninstaller.h"

// Runs work on a thread of its own behind the window; returns once it has ended.
void RunBehindProgressWindow(HINSTANCE instance, UninstallCounters& progress,
                             LPTHREAD_START_ROUTINE work, void* parameter);

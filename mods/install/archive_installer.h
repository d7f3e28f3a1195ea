#pragma once
// Installing a zip archive: every file entry whose name contains "mods" is written
// to the game folder under the archive's own path for it, small files by the write
// pool, large ones streamed, each through a temporary file beside its destination.
#include "mods/install/install_progress.h"

// Extracts the selected entries below gameFolder, logging each one, once its directory
// shows that every one of them can go in and none of the files they replace is held by
// another program. Returns false when anything that should have been installed was not:
// the archive did not open, an entry's name was refused (a path leading outside the game
// folder, or bytes that are neither UTF-8 nor Shift_JIS), a file it replaces is held, or
// an entry could not be read or written; then the walk ends at that entry, and attempt
// says why and whether anything was placed, for the caller to take it back out.
bool ArchiveInstaller(const wchar_t* archivePath, const wchar_t* gameFolder,
                      InstallCounters& progress, InstallAttempt* attempt = nullptr);

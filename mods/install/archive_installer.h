#pragma once
// Installing a zip archive: every file entry whose name contains "mods" is written
// to the game folder under the archive's own path for it, small files by the write
// pool, large ones streamed, each through a temporary file beside its destination.
#include "mods/install/install_progress.h"

// Extracts the selected entries below gameFolder, logging each one. Returns false
// when anything that should have been installed was not: the archive did not open,
// an entry could not be read or written, or its name was refused (a path leading
// outside the game folder, or bytes that are neither UTF-8 nor Shift_JIS).
bool ArchiveInstaller(const wchar_t* archivePath, const wchar_t* gameFolder,
                      InstallCounters& progress);

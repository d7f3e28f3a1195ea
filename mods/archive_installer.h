#pragma once
// Installing a zip archive: every file entry whose name contains "mods" is written
// to the game folder under the archive's own path for it.
#include <string>

#include "mods/install_progress.h"

// File entries that can be opened, stopping at the first that cannot; 0 for a file
// that is not a zip archive.
int CountArchiveFiles(const wchar_t* archivePath);

// Extracts the selected entries below gameFolder, logging each one. Returns false
// when anything that should have been installed was not: the archive did not open,
// an entry could not be read or written, or its name was refused (a path leading
// outside the game folder, or bytes that are neither UTF-8 nor Shift_JIS).
bool ArchiveInstaller(const wchar_t* archivePath, const wchar_t* gameFolder,
                      InstallCounters& progress);

// Rules on one entry name, as stored in the archive with "/" already turned into
// "\\". Exposed for the tests.
bool IsDirectoryEntry(const char* name, bool nameIsUtf8);
bool IsSelectedEntry(const char* name);
// The wide form of a stored name: UTF-8 when flagged or valid as such, otherwise
// strict Shift_JIS. False when neither decodes.
bool DecodeEntryName(const char* name, bool utf8Flag, std::wstring& wide, bool& wasUtf8);
// True when a relative entry path cannot leave the folder it is joined to: not
// absolute, no drive, UNC or device prefix, no ".." component, no ":".
bool IsSafeRelativePath(const std::wstring& name);
// True when path, made absolute and normalised, lies inside folder.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

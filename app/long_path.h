#pragma once
// Paths of any length. Windows refuses a path past MAX_PATH in a file-system call
// unless it has the \\?\ form, and game libraries nest deep: every absolute path the
// program hands to the file system goes through SystemPath, while the log and the
// user see the plain form. (Wine takes long plain paths, so only the forms are tested.)
#include <string>

// The path made absolute and normalised, at any length; empty when it cannot be.
std::wstring FullPathOf(const std::wstring& path);

// The form a file-system call takes: the full path while every call takes it plainly
// (CreateDirectoryW stops 12 characters short of MAX_PATH), else the \\?\ form, or
// \\?\UNC\ for a share. A path already in that form is left as it is.
std::wstring SystemPath(const std::wstring& path);

// The running program's path and the temporary folder (with its closing backslash),
// however long; empty when the system cannot say.
std::wstring RunningProgramPath();
std::wstring TemporaryFolder();

// Whether anything, a folder, or a file is at path, whatever its length.
bool PathExists(const std::wstring& path);
bool IsExistingFolder(const std::wstring& path);
bool IsExistingFile(const std::wstring& path);

// Makes folder and each missing folder above it, one level at a time (the shell's own
// call stops at MAX_PATH). False when the folder is not there afterwards.
bool CreateFolderTree(const std::wstring& folder);

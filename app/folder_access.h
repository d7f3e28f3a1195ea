#pragma once
// Whether the installer may write where it is about to: a game folder under Program
// Files, or on a read-only drive, is found before anything is downloaded, not file by
// file once every download has been made.
#include <string>

// Creates and deletes a file in folder. False, with the system's reason, when it cannot.
bool CanWriteIn(const std::wstring& folder, std::wstring& reason);

// The game folder, and the versioned mods folder and the record folder where they
// exist (version may be empty). False, with the folder that failed and the reason.
bool CanWriteGameFolder(const std::wstring& gameFolder, const std::string& version,
                        std::wstring& failedFolder, std::wstring& reason);

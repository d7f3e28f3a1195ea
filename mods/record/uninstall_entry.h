#pragma once
// The pack's entry in Apps & Features, one per game folder, for this user only
// (HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\<key>), and the copy of the
// installer in the record folder that the entry runs: the setup exe the user
// downloaded may be long gone.
#include <string>

// The entry's key name below the Uninstall key.
std::wstring UninstallKeyName(const std::wstring& gameFolder);
// <record folder>\uninstall.exe
std::wstring UninstallerPathOf(const std::wstring& gameFolder);

// Copies the running exe into the record folder (beside, then renamed), unless it is
// that copy. False when it could not.
bool KeepUninstallerCopy(const std::wstring& gameFolder);
// Writes every value of the entry; installedBytes gives its estimated size.
bool WriteUninstallEntry(const std::wstring& gameFolder, unsigned long long installedBytes);
bool UninstallEntryExists(const std::wstring& gameFolder);
void DeleteUninstallEntry(const std::wstring& gameFolder);

#include "mods/record/uninstall_entry.h"

#include <windows.h>

#include "app/long_path.h"
#include "app/state.h"
#include "mods/game_path.h"
#include "mods/record/install_record.h"
#include "mods/sha256.h"

namespace {

const wchar_t UninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring KeyPath(const std::wstring& gameFolder)
{
    return UninstallRoot + UninstallKeyName(gameFolder);
}

bool SetText(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                          (DWORD)((value.size() + 1) * sizeof(wchar_t)))
        == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, (const BYTE*)&value, sizeof value)
        == ERROR_SUCCESS;
}

std::wstring Today()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[16];
    wsprintfW(date, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return date;
}

// The folder without the backslash a drive root keeps: /DIR="D:\" would end in an
// escaped quote on a command line.
std::wstring FolderForCommandLine(const std::wstring& gameFolder)
{
    std::wstring folder = FullFolder(gameFolder);
    if (folder.size() > 3) folder.pop_back();
    return folder;
}

}  // namespace

std::wstring UninstallKeyName(const std::wstring& gameFolder)
{
    // One key per folder: a hash of its name, as Windows compares names.
    std::wstring folder = PathKey(FullFolder(gameFolder));
    Sha256 hash;
    hash.Start();
    hash.Add(folder.data(), (DWORD)(folder.size() * sizeof(wchar_t)));
    std::string hex = hash.FinishHex().substr(0, 16);
    return L"ZelkorsModsPack_" + std::wstring(hex.begin(), hex.end());
}

std::wstring UninstallerPathOf(const std::wstring& gameFolder)
{
    return RecordFolderOf(gameFolder) + L"\\uninstall.exe";
}

bool KeepUninstallerCopy(const std::wstring& gameFolder)
{
    std::wstring self = RunningProgramPath(), copy = UninstallerPathOf(gameFolder);
    if (self.empty()) return false;
    if (CompareStringOrdinal(self.c_str(), -1, copy.c_str(), -1, TRUE) == CSTR_EQUAL) return true;
    CreateDirectoryW(SystemPath(RecordFolderOf(gameFolder)).c_str(), nullptr);
    std::wstring beside = SystemPath(copy + L".new");
    if (!CopyFileW(SystemPath(self).c_str(), beside.c_str(), FALSE)) {
        DeleteFileW(beside.c_str());
        return false;
    }
    if (MoveFileExW(beside.c_str(), SystemPath(copy).c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileW(beside.c_str());
    return false;
}

bool WriteUninstallEntry(const std::wstring& gameFolder, unsigned long long installedBytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(gameFolder).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return false;
    std::wstring program = L"\"" + UninstallerPathOf(gameFolder) + L"\"";
    std::wstring command = program + L" /UNINSTALL /DIR=\"" + FolderForCommandLine(gameFolder) + L"\"";
    unsigned long long kib = (installedBytes + 1023) / 1024;
    bool written = SetText(key, L"DisplayName", ProductName)
                && SetText(key, L"DisplayVersion", ProductVersion)
                && SetText(key, L"Publisher", Publisher)
                && SetText(key, L"InstallLocation", FolderForCommandLine(gameFolder))
                && SetText(key, L"DisplayIcon", UninstallerPathOf(gameFolder) + L",0")
                && SetText(key, L"UninstallString", command)
                && SetText(key, L"QuietUninstallString", command + L" /VERYSILENT")
                && SetNumber(key, L"EstimatedSize", kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)kib)
                && SetText(key, L"InstallDate", Today())
                && SetNumber(key, L"NoModify", 1) && SetNumber(key, L"NoRepair", 1);
    RegCloseKey(key);
    return written;
}

bool UninstallEntryExists(const std::wstring& gameFolder)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(gameFolder).c_str(), 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void DeleteUninstallEntry(const std::wstring& gameFolder)
{
    RegDeleteKeyW(HKEY_CURRENT_USER, KeyPath(gameFolder).c_str());
}

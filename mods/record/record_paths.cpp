#include "mods/record/record_paths.h"

#include <windows.h>

#include "app/long_path.h"
#include "mods/record/record_text.h"
#include "mods/sha256.h"

const wchar_t RecordFolderName[] = L"ZelkorsModsPack";

std::wstring FullGameFolder(const std::wstring& gameFolder)
{
    std::wstring folder = FullPathOf(gameFolder + L"\\");
    if (folder.empty()) return folder;
    if (folder.back() != L'\\') folder += L'\\';
    return folder;
}

std::wstring RecordFolderOf(const std::wstring& gameFolder)
{
    return FullGameFolder(gameFolder) + RecordFolderName;
}

std::wstring RecordFileOf(const std::wstring& gameFolder)
{
    return RecordFolderOf(gameFolder) + L"\\installed.txt";
}

std::wstring PendingFileOf(const std::wstring& gameFolder)
{
    return RecordFolderOf(gameFolder) + L"\\installing.txt";
}

std::wstring BackupPathFor(const std::wstring& gameFolder, const std::wstring& relative)
{
    Sha256 hash;
    hash.Start();
    std::string key = RecordUtf8(PathKey(relative));
    hash.Add(key.data(), (DWORD)key.size());
    std::string hex = hash.FinishHex().substr(0, 16);
    size_t slash = relative.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
    return RecordFolderOf(gameFolder) + L"\\backup\\" + std::wstring(hex.begin(), hex.end()) + L"-"
         + name;
}

bool RelativeToGame(const std::wstring& fullGameFolder, const std::wstring& path,
                    std::wstring& relative)
{
    std::wstring full = FullPathOf(path);
    size_t prefix = fullGameFolder.size();
    if (fullGameFolder.empty() || full.size() <= prefix
        || CompareStringOrdinal(full.c_str(), (int)prefix, fullGameFolder.c_str(), (int)prefix,
                                TRUE)
               != CSTR_EQUAL)
        return false;
    relative = full.substr(prefix);
    return IsRecordablePath(relative);
}

bool RecordExists(const std::wstring& gameFolder)
{
    return GetFileAttributesW(SystemPath(RecordFileOf(gameFolder)).c_str())
               != INVALID_FILE_ATTRIBUTES
        || GetFileAttributesW(SystemPath(PendingFileOf(gameFolder)).c_str())
               != INVALID_FILE_ATTRIBUTES;
}

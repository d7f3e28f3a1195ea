#include "mods/record/record_paths.h"

#include <windows.h>

#include "app/long_path.h"
#include "mods/game_path.h"
#include "mods/record/record_text.h"
#include "mods/sha256.h"

const wchar_t RecordFolderName[] = L"ZelkorsModsPack";

std::wstring RecordFolderOf(const std::wstring& gameFolder)
{
    return FullFolder(gameFolder) + RecordFolderName;
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
    std::string key = RecordUtf8(PathKey(relative));
    std::string hex = Sha256Of(key.data(), (DWORD)key.size()).substr(0, 16);
    size_t slash = relative.find_last_of(L'\\');
    std::wstring name = slash == std::wstring::npos ? relative : relative.substr(slash + 1);
    return RecordFolderOf(gameFolder) + L"\\backup\\" + std::wstring(hex.begin(), hex.end()) + L"-"
         + name;
}

std::wstring EarlierBytesPathFor(const std::wstring& gameFolder, const std::wstring& relative)
{
    return BackupPathFor(gameFolder, relative) + L".earlier";
}

bool RelativeToGame(const std::wstring& fullGameFolder, const std::wstring& path,
                    std::wstring& relative)
{
    std::wstring full = FullPathOf(path);
    if (!IsInsideFullFolder(full, fullGameFolder)) return false;
    relative = full.substr(fullGameFolder.size());
    return IsRecordablePath(relative);
}

bool RecordExists(const std::wstring& gameFolder)
{
    return PathExists(RecordFileOf(gameFolder)) || PathExists(PendingFileOf(gameFolder));
}

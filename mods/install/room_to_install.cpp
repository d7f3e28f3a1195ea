#include "mods/install/room_to_install.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/free_space.h"
#include "mods/install/archive_entries.h"
#include "mods/install/archive_file.h"
#include "mods/record/uninstall_entry.h"

namespace {

// In the form SystemPath gives a short path, whatever the length of this one.
std::wstring VolumeOf(const std::wstring& path)
{
    std::wstring system = SystemPath(path);
    std::wstring volume(system.size() + 2, L'\0');
    if (!GetVolumePathNameW(system.c_str(), &volume[0], (DWORD)volume.size())) return L"";
    volume.resize(wcslen(volume.c_str()));
    if (volume.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + volume.substr(7);
    if (volume.compare(0, 4, L"\\\\?\\") == 0) return volume.substr(4);
    return volume;
}

bool OnOneVolume(const std::wstring& a, const std::wstring& b)
{
    std::wstring first = VolumeOf(a), second = VolumeOf(b);
    return !first.empty()
        && CompareStringOrdinal(first.c_str(), -1, second.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The entries the archive installer writes, by the central directory alone.
unsigned long long ArchiveEntryBytes(const std::wstring& path)
{
    unzFile archive = OpenArchiveForReading(path.c_str());
    if (!archive) return 0;
    unsigned long long bytes = 0;
    unz_file_info64 info;
    char name[512];
    while (unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0)
           == UNZ_OK) {
        name[info.size_filename < sizeof name ? info.size_filename : sizeof name - 1] = '\0';
        for (char* c = name; *c; ++c)
            if (*c == '/') *c = '\\';
        bool directory = std::strlen(name) >= 2 && name[std::strlen(name) - 1] == '\\';
        if (!directory && IsSelectedEntry(name)) bytes += info.uncompressed_size;
        if (unzGoToNextFile(archive) != UNZ_OK) break;
    }
    unzClose(archive);
    return bytes;
}

}  // namespace

unsigned long long BytesToInstall(const std::wstring& downloadPath, bool isArchive,
                                  const std::wstring& gameFolder)
{
    unsigned long long bytes = isArchive ? ArchiveEntryBytes(downloadPath)
                             : OnOneVolume(downloadPath, gameFolder) ? 0
                                                                     : FileSizeOf(downloadPath);
    if (!PathExists(UninstallerPathOf(gameFolder))) bytes += FileSizeOf(RunningProgramPath());
    return bytes;
}

bool RoomToInstall(const std::wstring& downloadPath, bool isArchive,
                   const std::wstring& gameFolder)
{
    unsigned long long free = 0;
    if (!FreeBytesFor(gameFolder, free)) return true;  // no figure: the writes decide
    unsigned long long needed = BytesToInstall(downloadPath, isArchive, gameFolder);
    if (needed <= free) return true;
    LogWrite(L"Failed: %ls - not enough free space on the game folder's drive (%ls bytes "
             L"needed, %ls free)\n",
             downloadPath.c_str(), GroupedDigits(needed).c_str(), GroupedDigits(free).c_str());
    return false;
}

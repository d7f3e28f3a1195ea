#include "mods/free_space.h"

#include <windows.h>

#include <string>

#include "app/long_path.h"

unsigned long long FileSizeOf(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (unsigned long long)data.nFileSizeHigh << 32 | data.nFileSizeLow;
}

std::wstring GroupedDigits(unsigned long long value)
{
    std::wstring digits = std::to_wstring(value), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += L',';
        out += digits[i];
    }
    return out;
}

bool FreeBytesFor(const std::wstring& folder, unsigned long long& free)
{
    ULARGE_INTEGER available;
    std::wstring path = folder.empty() || folder.back() == L'\\' ? folder : folder + L"\\";
    if (!GetDiskFreeSpaceExW(SystemPath(path).c_str(), &available, nullptr, nullptr)) return false;
    free = available.QuadPart;
    return true;
}

bool RoomToDownload(const std::wstring& path, unsigned long long finalSize,
                    std::wstring& refusal)
{
    size_t slash = path.find_last_of(L'\\');
    unsigned long long free = 0, onDisk = FileSizeOf(path);
    if (slash == std::wstring::npos || !FreeBytesFor(path.substr(0, slash + 1), free))
        return true;  // no figure: the writes decide
    unsigned long long needed = finalSize > onDisk ? finalSize - onDisk : 0;
    if (needed <= free) return true;
    refusal = L"Failed: " + path + L" - not enough free space on the temporary folder's drive ("
            + GroupedDigits(needed) + L" bytes needed, " + GroupedDigits(free) + L" free)";
    return false;
}

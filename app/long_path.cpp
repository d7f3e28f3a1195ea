#include "app/long_path.h"

#include <windows.h>

namespace {

constexpr size_t PlainPathChars = MAX_PATH - 12;
const wchar_t LongPrefix[] = L"\\\\?\\";
const wchar_t LongSharePrefix[] = L"\\\\?\\UNC\\";

bool HasLongPrefix(const std::wstring& path)
{
    return path.compare(0, 4, LongPrefix) == 0;
}

// Calls that fill a buffer and, when it is too small, say how large it must be.
template <typename Fill>
std::wstring GrowingBuffer(Fill fill)
{
    std::wstring text(MAX_PATH, L'\0');
    for (int tries = 0; tries < 8; ++tries) {
        DWORD length = fill(&text[0], (DWORD)text.size());
        if (length == 0) return std::wstring();
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length > text.size() ? length + 1 : text.size() * 2);
    }
    return std::wstring();
}

}  // namespace

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsExistingFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsExistingFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FullPathOf(const std::wstring& path)
{
    if (path.empty()) return std::wstring();
    return GrowingBuffer([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
}

std::wstring SystemPath(const std::wstring& path)
{
    if (HasLongPrefix(path)) return path;
    std::wstring full = FullPathOf(path);
    if (full.size() < PlainPathChars) return full.empty() ? path : full;
    if (full.compare(0, 2, L"\\\\") == 0) return LongSharePrefix + full.substr(2);
    return LongPrefix + full;
}

std::wstring RunningProgramPath()
{
    // GetModuleFileNameW cuts the path to fit and returns the buffer's size: the buffer
    // then doubles.
    return GrowingBuffer([](wchar_t* buffer, DWORD size) {
        return GetModuleFileNameW(nullptr, buffer, size);
    });
}

std::wstring TemporaryFolder()
{
    return GrowingBuffer([](wchar_t* buffer, DWORD size) { return GetTempPathW(size, buffer); });
}

bool CreateFolderTree(const std::wstring& folder)
{
    std::wstring full = FullPathOf(folder);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    if (full.empty() || IsExistingFolder(full)) return !full.empty();
    // Down from the deepest folder that is there, one level at a time.
    size_t at = full.size();
    while (at != std::wstring::npos && at > 2 && !IsExistingFolder(full.substr(0, at)))
        at = full.rfind(L'\\', at - 1);
    for (at = full.find(L'\\', at + 1);; at = full.find(L'\\', at + 1)) {
        std::wstring level = full.substr(0, at);
        if (!CreateDirectoryW(SystemPath(level).c_str(), nullptr)
            && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (at == std::wstring::npos) return true;
    }
}

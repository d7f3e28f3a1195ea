#include "mods/game_path.h"

#include <windows.h>

#include "app/long_path.h"

std::wstring FullFolder(const std::wstring& folder)
{
    std::wstring full = FullPathOf(folder + L"\\");
    if (!full.empty() && full.back() != L'\\') full += L'\\';
    return full;
}

bool IsInsideFullFolder(const std::wstring& fullPath, const std::wstring& fullFolder)
{
    return !fullPath.empty() && !fullFolder.empty() && fullPath.size() > fullFolder.size()
        && CompareStringOrdinal(fullPath.c_str(), (int)fullFolder.size(), fullFolder.c_str(),
                                (int)fullFolder.size(), TRUE) == CSTR_EQUAL;
}

bool IsSafeRelativePath(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/') return false;
    if (name.find(L':') != std::wstring::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of(L"\\/", start);
        std::wstring part = name.substr(start, end == std::wstring::npos ? end : end - start);
        // Windows drops trailing dots and blanks, so "..." and ". ." may act as "..".
        if (part.size() >= 2 && part.find_first_not_of(L". ") == std::wstring::npos)
            return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder)
{
    return IsInsideFullFolder(FullPathOf(path), FullFolder(folder));
}

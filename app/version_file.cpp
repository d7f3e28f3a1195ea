#include "app/version_file.h"

#include <windows.h>
#include <cstring>
#include <vector>

#include "app/long_path.h"
#include "app/state.h"

bool ParseVersionText(const char* text, std::string& version)
{
    static const char openTag[] = "<version>";
    static const char closeTag[] = "</version>";
    const char* open = std::strstr(text, openTag);
    if (!open) return false;
    const char* inner = open + sizeof openTag - 1;
    const char* close = std::strstr(inner, closeTag);
    if (!close) return false;

    // The game writes a blank after the tag, then "v.", the version and " #build".
    if (close - inner < 1) return false;
    std::string element(inner + 1, close);
    size_t hash = element.find('#');
    if (hash == std::string::npos) return false;
    // "v." plus at least one version character plus the blank before the "#".
    if (hash < 4) return false;
    version = element.substr(2, hash - 2 - 1);
    return true;
}

bool ReadVersionFile(const wchar_t* folder, std::string& version)
{
    // An empty folder would name the root of the current drive.
    if (folder[0] == L'\0') return false;
    std::wstring path = std::wstring(folder) + L"\\version.xml";
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;

    LARGE_INTEGER size;
    bool fits = GetFileSizeEx(file, &size) && size.QuadPart <= (LONGLONG)MaxVersionFileBytes;
    std::vector<char> text;
    if (fits) {
        // One byte more than the file, zero-filled, so the text is terminated.
        text.assign((size_t)size.QuadPart + 1, '\0');
        DWORD read = 0;
        fits = ReadFile(file, text.data(), (DWORD)size.QuadPart, &read, nullptr) != FALSE;
    }
    CloseHandle(file);
    return fits && ParseVersionText(text.data(), version);
}

void VersionFileReader()
{
    for (const wchar_t* candidate : CandidateFolders) {
        if (candidate[0] == L'\0') continue;
        std::string version;
        if (ReadVersionFile(candidate, version)
            && lstrlenW(candidate) < GameFolderChars) {
            GameVersion = version;
            lstrcpynW(GameFolder, candidate, GameFolderChars);
            return;
        }
    }
    GameVersion.clear();
}

bool VersionFileReader(const wchar_t* folder)
{
    std::wstring stored(folder);
    if (!stored.empty() && stored.back() == L'\\') stored.pop_back();
    if (stored.size() >= (size_t)GameFolderChars) return false;

    std::string version;
    if (!ReadVersionFile(folder, version)) return false;
    GameVersion = version;
    lstrcpynW(GameFolder, stored.c_str(), GameFolderChars);
    return true;
}

bool IsRequiredGameVersion(const std::string& version)
{
    return version.size() == std::strlen(RequiredGameVersion)
        && std::memcmp(version.data(), RequiredGameVersion, version.size()) == 0;
}

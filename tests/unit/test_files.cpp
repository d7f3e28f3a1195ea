#include "tests/unit/test_files.h"

#include <windows.h>
#include <shlobj.h>

#include "app/long_path.h"

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    root = std::wstring(temp) + L"unit-" + std::to_wstring(GetCurrentProcessId()) + L"-"
         + std::to_wstring(++counter);
    SHCreateDirectoryExW(nullptr, root.c_str(), nullptr);
}

// Not the shell's delete: under Wine it cuts paths past MAX_PATH short and then goes on
// deleting in the current folder.
static void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(SystemPath(folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(SystemPath(path).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(SystemPath(folder).c_str());
}

static void AddState(const std::wstring& root, const std::wstring& relative,
                     std::map<std::wstring, std::string>& state)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(SystemPath(root + L"\\" + relative + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            state[relative + name + L"\\"] = std::string();
            AddState(root, relative + name + L"\\", state);
        } else {
            state[relative + name] = ReadWholeFile(root + L"\\" + relative + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

std::map<std::wstring, std::string> FolderState(const std::wstring& root)
{
    std::map<std::wstring, std::string> state;
    AddState(root, L"", state);
    return state;
}

ScratchFolder::~ScratchFolder()
{
    RemoveTree(root);
}

std::wstring ScratchFolder::MakeFolder(const std::wstring& name) const
{
    std::wstring folder = Sub(name);
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return folder;
}

void ScratchFolder::Write(const std::wstring& relative, const std::string& bytes) const
{
    std::wstring path = Sub(relative);
    std::wstring parent = path.substr(0, path.rfind(L'\\'));
    SHCreateDirectoryExW(nullptr, parent.c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring BuildFile(const std::wstring& relative)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder = exe;
    folder.erase(folder.rfind(L'\\'));
    return folder.substr(0, folder.rfind(L'\\')) + L"\\" + relative;
}

std::wstring TestArchive(const wchar_t* name)
{
    static std::wstring folder = [] {
        char unixPath[1024];
        DWORD length = GetEnvironmentVariableA("ARCHIVE_TESTDATA", unixPath, sizeof unixPath);
        typedef wchar_t*(CDECL * DosName)(const char*);
        DosName toDos = (DosName)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                       "wine_get_dos_file_name");
        if (length > 0 && length < sizeof unixPath && unixPath[0] == '/' && toDos) {
            wchar_t* dos = toDos(unixPath);
            std::wstring path = dos ? dos : L"";
            HeapFree(GetProcessHeap(), 0, dos);
            return path;
        }
        return BuildFile(L"testdata");
    }();
    return folder + L"\\" + name;
}

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &bytes[0], size, nullptr,
                        nullptr);
    return bytes;
}

size_t Occurrences(const std::string& text, const std::string& piece)
{
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

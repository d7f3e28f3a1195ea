#include "app/folder_access.h"

#include <windows.h>

#include "app/long_path.h"
#include "mods/record/install_record.h"

namespace {

// The system's words for an error, in English where the system has them (the log's
// language), else in the user's; with the number, for a search.
std::wstring SystemReason(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER
                      | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (!FormatMessageW(flags, nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                        (LPWSTR)&text, 0, nullptr))
        FormatMessageW(flags, nullptr, error, 0, (LPWSTR)&text, 0, nullptr);
    std::wstring reason = text ? text : L"";
    if (text) LocalFree(text);
    while (!reason.empty() && (iswspace(reason.back()) || reason.back() == L'.')) reason.pop_back();
    return (reason.empty() ? L"" : reason + L", ") + L"error " + std::to_wstring(error);
}

}  // namespace

bool CanWriteIn(const std::wstring& folder, std::wstring& reason)
{
    std::wstring probe = folder + L"\\~ZelkorsModsPack-" + std::to_wstring(GetCurrentProcessId())
                       + L".tmp";
    // Deleted on close, so that a crash meanwhile leaves nothing behind either.
    HANDLE file = CreateFileW(SystemPath(probe).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN
                                  | FILE_FLAG_DELETE_ON_CLOSE,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = SystemReason(GetLastError());
        return false;
    }
    CloseHandle(file);
    if (!PathExists(probe)
        || DeleteFileW(SystemPath(probe).c_str()))
        return true;
    reason = SystemReason(GetLastError());
    return false;
}

bool CanWriteGameFolder(const std::wstring& gameFolder, const std::string& version,
                        std::wstring& failedFolder, std::wstring& reason)
{
    std::wstring folders[] = {gameFolder,
                              gameFolder + L"\\mods\\" + std::wstring(version.begin(), version.end()),
                              RecordFolderOf(gameFolder)};
    for (size_t i = 0; i < 3; ++i) {
        if (i > 0 && (!IsExistingFolder(folders[i]) || (i == 1 && version.empty()))) continue;
        if (!CanWriteIn(folders[i], reason)) {
            failedFolder = folders[i];
            return false;
        }
    }
    return true;
}

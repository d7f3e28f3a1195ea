#include "mods/files_in_use.h"

#include <restartmanager.h>

#include <algorithm>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/worker_pause.h"

namespace {

constexpr DWORD FirstPauseMs = 50;
constexpr DWORD LongestPauseMs = 800;
// How many held files a question names before it says how many more there are.
constexpr size_t NamedFilesAtMost = 5;

using StartSession = decltype(&RmStartSession);
using RegisterResources = decltype(&RmRegisterResources);
using GetList = decltype(&RmGetList);
using EndSession = decltype(&RmEndSession);

// The Restart Manager's answer for one session over paths.
std::vector<std::wstring> AskRestartManager(HMODULE library, const std::vector<std::wstring>& paths)
{
    auto start = (StartSession)(void*)GetProcAddress(library, "RmStartSession");
    auto add = (RegisterResources)(void*)GetProcAddress(library, "RmRegisterResources");
    auto list = (GetList)(void*)GetProcAddress(library, "RmGetList");
    auto end = (EndSession)(void*)GetProcAddress(library, "RmEndSession");
    std::vector<std::wstring> programs;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (!start || !add || !list || !end || start(&session, 0, key) != ERROR_SUCCESS) return programs;
    std::vector<LPCWSTR> names;
    for (const std::wstring& path : paths) names.push_back(path.c_str());
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    std::vector<RM_PROCESS_INFO> found;
    if (add(session, (UINT)names.size(), names.data(), 0, nullptr, 0, nullptr) == ERROR_SUCCESS
        && list(session, &needed, &count, nullptr, &reasons) == ERROR_MORE_DATA && needed > 0) {
        found.resize(needed);
        count = needed;
        if (list(session, &needed, &count, found.data(), &reasons) != ERROR_SUCCESS) count = 0;
    }
    end(session);
    for (UINT i = 0; i < count && i < found.size(); ++i) {
        std::wstring name = found[i].strAppName;
        if (!name.empty() && std::find(programs.begin(), programs.end(), name) == programs.end())
            programs.push_back(name);
    }
    return programs;
}

}  // namespace

bool IsHeldError(DWORD error, const std::wstring& path)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES
        && !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// Between tries the worker still stops for a question the user is being asked.
bool WaitForHeldFiles(HeldWait& wait)
{
    ULONGLONG now = GetTickCount64();
    if (wait.deadline == 0) {
        wait.deadline = now + HeldWaitMs;
        wait.pause = FirstPauseMs;
    }
    if (now >= wait.deadline) return false;
    Sleep(std::min<ULONGLONG>(wait.pause, wait.deadline - now));
    wait.pause = std::min(wait.pause * 2, LongestPauseMs);
    WaitWhileWorkersPaused();
    return true;
}

HeldResult RetryWhileHeld(const std::wstring& path, HeldWait& wait,
                          const std::function<bool()>& attempt)
{
    bool logged = false;
    for (;;) {
        if (attempt()) return HeldResult::Done;
        DWORD error = GetLastError();
        if (!IsHeldError(error, path)) return HeldResult::Failed;
        bool waiting = wait.deadline == 0 || GetTickCount64() < wait.deadline;
        if (waiting && !logged)
            LogWrite(L"Waiting: %ls - it is in use by another program\n", path.c_str());
        logged = logged || waiting;
        if (!WaitForHeldFiles(wait)) {
            SetLastError(error);
            return HeldResult::Held;
        }
    }
}

HeldResult RetryWhileHeld(const std::wstring& path, const std::function<bool()>& attempt)
{
    HeldWait wait;
    return RetryWhileHeld(path, wait, attempt);
}

bool IsFileHeld(const std::wstring& path)
{
    HANDLE file = CreateFileW(SystemPath(path).c_str(), DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

std::vector<std::wstring> ProgramsHolding(const std::vector<std::wstring>& paths)
{
    if (paths.empty()) return {};
    // Loaded only when a file is held: most runs never need it.
    HMODULE library = LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) return {};
    std::vector<std::wstring> programs = AskRestartManager(library, paths);
    FreeLibrary(library);
    return programs;
}

std::wstring HeldByText(const std::vector<std::wstring>& programs)
{
    std::wstring text;
    for (const std::wstring& program : programs) text += (text.empty() ? L", held by " : L", ") + program;
    return text;
}

std::wstring HeldFilesList(const std::vector<std::wstring>& paths,
                           const std::vector<std::wstring>& programs)
{
    std::wstring text;
    for (size_t i = 0; i < paths.size() && i < NamedFilesAtMost; ++i) text += paths[i] + L"\n";
    if (paths.size() > NamedFilesAtMost)
        text += L"ほか " + std::to_wstring(paths.size() - NamedFilesAtMost) + L" 個\n";
    if (!programs.empty()) {
        text += L"\n使用しているプログラム:";
        for (const std::wstring& program : programs) text += L" " + program;
        text += L"\n";
    }
    return text;
}

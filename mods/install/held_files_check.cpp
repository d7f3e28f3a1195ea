#include "mods/install/held_files_check.h"

#include <windows.h>

#include <unordered_map>
#include <unordered_set>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/files_in_use.h"
#include "mods/record/recorded_install.h"
#include "mods/record/record_text.h"

bool (*AskToRetryHeldFiles)(int row, const std::vector<std::wstring>& files,
                            const std::vector<std::wstring>& programs) = nullptr;

namespace {

// How many held files the log names with the programs holding each; asking for them
// takes a moment per file.
constexpr size_t NamedWithProgramsAtMost = 20;

// The names of the files in a folder; false when it is not there.
bool ListFolder(const std::wstring& folder, std::unordered_set<std::wstring>& names)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(SystemPath(folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(PathKey(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

// Which destinations a file is at now. Each folder is listed once, rather than each name
// asked for: under Wine a name that is not there costs a scan of its folder, and most of
// a mod's files are new. Folders this run made hold only its own files.
std::vector<std::wstring> ExistingAmong(const std::vector<std::wstring>& paths)
{
    std::unordered_map<std::wstring, std::unordered_set<std::wstring>> listed;
    std::vector<std::wstring> existing;
    for (const std::wstring& path : paths) {
        size_t cut = path.rfind(L'\\');
        if (cut == std::wstring::npos) continue;
        std::wstring folder = path.substr(0, cut);
        std::wstring key = PathKey(folder);
        auto names = listed.find(key);
        if (names == listed.end()) {
            names = listed.emplace(key, std::unordered_set<std::wstring>()).first;
            if (!IsInFolderMadeThisRun(path)) ListFolder(folder, names->second);
        }
        if (names->second.count(PathKey(path.substr(cut + 1)))) existing.push_back(path);
    }
    return existing;
}

std::vector<std::wstring> HeldAmong(const std::vector<std::wstring>& paths)
{
    std::vector<std::wstring> held;
    for (const std::wstring& path : paths)
        if (IsFileHeld(path)) held.push_back(path);
    return held;
}

void LogHeld(const std::vector<std::wstring>& held)
{
    for (size_t i = 0; i < held.size(); ++i) {
        std::wstring by = i < NamedWithProgramsAtMost ? HeldByText(ProgramsHolding({held[i]}))
                                                      : std::wstring();
        LogWrite(L"Failed: %ls - the file is in use by another program%ls\n", held[i].c_str(),
                 by.c_str());
    }
}

}  // namespace

bool NoDestinationHeld(const std::vector<std::wstring>& fullDestinations, InstallAttempt& attempt)
{
    std::vector<std::wstring> held = HeldAmong(ExistingAmong(fullDestinations));
    for (const std::wstring& path : held)
        LogWrite(L"Waiting: %ls - it is in use by another program\n", path.c_str());
    HeldWait wait;
    while (!held.empty() && WaitForHeldFiles(wait)) held = HeldAmong(held);
    while (!held.empty() && AskToRetryHeldFiles
           && AskToRetryHeldFiles(attempt.row, held, ProgramsHolding(held)))
        held = HeldAmong(held);
    if (held.empty()) return true;
    LogHeld(held);
    attempt.failure = InstallFailure::InUse;
    attempt.failedFile = held.front();
    attempt.filesHeld = (int)held.size();
    return false;
}

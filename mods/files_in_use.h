#pragma once
// Files another program holds open: a game launcher, an overlay, an editor with a
// config open, a virus scanner reading a file just written. Windows then refuses to
// replace, move or delete them. Such a hold is often a moment long, so a refused call is
// tried again for a while; one that lasts is found before a mod's first file is placed
// and named, with the programs holding it where the system can tell.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// How long a held file is waited for before it counts as in use.
constexpr DWORD HeldWaitMs = 3000;

// Whether a failed call's error means that another program holds path: a sharing or
// lock violation, or access denied on a file that is not read-only.
bool IsHeldError(DWORD error, const std::wstring& path);

// One wait, shared by the calls that use it: its time starts with the first refusal,
// so that many held files together cost one wait, not one each.
struct HeldWait {
    ULONGLONG deadline = 0;
    DWORD pause = 0;
};

// Pauses before the next try at held files: false, at once, when the wait is over.
bool WaitForHeldFiles(HeldWait& wait);

enum class HeldResult { Done, Held, Failed };
// Makes attempt (which returns false with the system's last error set) until it
// succeeds, fails for another reason, or path is still held when the wait is over,
// with a short growing pause between tries. The log says once for path that it waited.
HeldResult RetryWhileHeld(const std::wstring& path, HeldWait& wait,
                          const std::function<bool()>& attempt);
// With a wait of its own.
HeldResult RetryWhileHeld(const std::wstring& path, const std::function<bool()>& attempt);

// Whether another program holds an existing file so that it cannot be replaced now: an
// open for DELETE that shares everything is refused. False for a file that is not there.
bool IsFileHeld(const std::wstring& path);

// The programs holding any of paths, by their names, as the Restart Manager tells them;
// empty where it cannot tell (Wine's names none).
std::vector<std::wstring> ProgramsHolding(const std::vector<std::wstring>& paths);

// ", held by A, B" for the log, or nothing when no program is known.
std::wstring HeldByText(const std::vector<std::wstring>& programs);
// The files for a question box, a few of them and then how many more, and the
// programs, when known, on a line of their own.
std::wstring HeldFilesList(const std::vector<std::wstring>& paths,
                           const std::vector<std::wstring>& programs);

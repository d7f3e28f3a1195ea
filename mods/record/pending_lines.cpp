#include "mods/record/pending_lines.h"

#include <windows.h>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/record/record_paths.h"

namespace {

std::wstring pendingPath;
HANDLE pending = INVALID_HANDLE_VALUE;
bool unflushed = false;  // lines written since the last flush
CRITICAL_SECTION pendingLock;
INIT_ONCE pendingLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitPendingLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&pendingLock);
    return TRUE;
}

// Lines a killed run left stay; a last one it cut short is ended first, with an empty
// line, so that it does not swallow this run's first.
HANDLE OpenPendingFile(const std::wstring& path)
{
    CreateDirectoryW(SystemPath(path.substr(0, path.rfind(L'\\'))).c_str(), nullptr);
    HANDLE file = CreateFileW(SystemPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    DWORD written = 0;
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart > 0)
        WriteFile(file, "\r\n", 2, &written, nullptr);
    return file;
}

// Closes the file of the pending lines, removes it when remove names it, and ends the
// keeping of lines when endRun.
void ClosePendingFile(const wchar_t* remove, bool endRun)
{
    InitOnceExecuteOnce(&pendingLockOnce, InitPendingLock, nullptr, nullptr);
    EnterCriticalSection(&pendingLock);
    if (pending != INVALID_HANDLE_VALUE) CloseHandle(pending);
    pending = INVALID_HANDLE_VALUE;
    unflushed = false;
    if (remove) DeleteFileW(SystemPath(remove).c_str());
    if (endRun) pendingPath.clear();
    LeaveCriticalSection(&pendingLock);
}

}  // namespace

void OpenPendingLines(const std::wstring& gameFolder)
{
    ClosePendingLines();
    pendingPath = PendingFileOf(gameFolder);
}

bool AppendPendingLine(const std::string& line)
{
    if (pendingPath.empty()) return true;
    EnterCriticalSection(&pendingLock);
    if (pending == INVALID_HANDLE_VALUE) pending = OpenPendingFile(pendingPath);
    DWORD written = 0;
    bool whole = pending != INVALID_HANDLE_VALUE
              && WriteFile(pending, line.data(), (DWORD)line.size(), &written, nullptr)
              && written == line.size();
    unflushed = unflushed || written > 0;
    LeaveCriticalSection(&pendingLock);
    return whole;
}

bool FlushPendingLines()
{
    if (pendingPath.empty()) return true;
    EnterCriticalSection(&pendingLock);
    bool flushed = !unflushed || (pending != INVALID_HANDLE_VALUE && FlushFileBuffers(pending));
    if (unflushed && pending != INVALID_HANDLE_VALUE) CountDiskFlush();
    unflushed = unflushed && !flushed;
    LeaveCriticalSection(&pendingLock);
    return flushed;
}

void DiscardPendingLines(const std::wstring& gameFolder)
{
    ClosePendingFile(PendingFileOf(gameFolder).c_str(), true);
}

void ClosePendingLines()
{
    ClosePendingFile(nullptr, true);
}

void PendingLinesSaved(const std::wstring& gameFolder)
{
    ClosePendingFile(PendingFileOf(gameFolder).c_str(), false);
}

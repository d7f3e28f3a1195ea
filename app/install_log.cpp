#include "app/install_log.h"

#include <windows.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "app/long_path.h"

// The C runtime's locale cannot be trusted to produce UTF-8 (msvcrt refuses
// "ja_JP.UTF-8" and then drops every non-ASCII character), so the log converts
// its text itself and writes the bytes straight to the file. Each line reaches the
// file at once, which also leaves a useful log behind if the process dies.
static HANDLE logFile = INVALID_HANDLE_VALUE;
static std::wstring logPath;
static CRITICAL_SECTION logLock;
static INIT_ONCE logLockOnce = INIT_ONCE_STATIC_INIT;
// With INSTALLER_LOG_TIMES set, every write starts with the wall-clock time in Unix
// milliseconds and the flushes to the disk so far, "[1712345678901.2 7] ", so that a
// benchmark can tell where a run's time went. Read once, when the log opens.
static bool stampTimes = false;
static std::atomic<unsigned> diskFlushes{0};

static BOOL CALLBACK InitLogLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&logLock);
    return TRUE;
}

bool OpenInstallLog(const wchar_t* path)
{
    InitOnceExecuteOnce(&logLockOnce, InitLogLock, nullptr, nullptr);
    CloseInstallLog();
    // Readers may share writing too: an editor opened on it during the run must not
    // be refused.
    logFile = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (logFile != INVALID_HANDLE_VALUE) logPath = path;
    stampTimes = GetEnvironmentVariableW(L"INSTALLER_LOG_TIMES", nullptr, 0) > 0;
    return logFile != INVALID_HANDLE_VALUE;
}

void CloseInstallLog()
{
    if (logFile == INVALID_HANDLE_VALUE) return;
    CloseHandle(logFile);
    logFile = INVALID_HANDLE_VALUE;
    logPath.clear();
}

const wchar_t* InstallLogPath()
{
    return logPath.c_str();
}

bool InstallLogIsOpen()
{
    return logFile != INVALID_HANDLE_VALUE;
}

std::string EncodeLogText(const std::wstring& text)
{
    std::wstring crlf;
    crlf.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n') crlf += L'\r';
        crlf += c;
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, crlf.data(), (int)crlf.size(), nullptr, 0,
                                   nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, crlf.data(), (int)crlf.size(), &bytes[0], size, nullptr,
                        nullptr);
    return bytes;
}

static std::wstring FormatWide(const wchar_t* format, va_list args)
{
    std::wstring text(256, L'\0');
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int n = vswprintf(&text[0], text.size(), format, copy);
        va_end(copy);
        // Runtimes differ on a text that does not fit: -1, or the length it needs.
        if (n >= 0 && (size_t)n < text.size()) {
            text.resize(n);
            return text;
        }
        if (text.size() > (1u << 20)) return std::wstring();
        text.resize(n >= 0 ? (size_t)n + 1 : text.size() * 2);
    }
}

std::wstring EscapeControlCharacters(const std::wstring& text)
{
    std::wstring safe;
    safe.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool lineEnd = c == L'\n' && i + 1 == text.size();
        bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
        if (!control || lineEnd) {
            safe += c;
            continue;
        }
        wchar_t escaped[8];
        wsprintfW(escaped, c <= 0xFF ? L"\\x%02X" : L"\\u%04X", (unsigned)c);
        safe += escaped;
    }
    return safe;
}

static std::wstring TimeStamp()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long ticks = (unsigned long long)now.dwHighDateTime << 32 | now.dwLowDateTime;
    unsigned long long tenthsMs = (ticks - 116444736000000000ull) / 1000;  // since 1970
    wchar_t stamp[48];
    swprintf(stamp, 48, L"[%llu.%u %u] ", tenthsMs / 10, (unsigned)(tenthsMs % 10),
             diskFlushes.load());
    return stamp;
}

void CountDiskFlush()
{
    diskFlushes.fetch_add(1);
}

void LogWrite(const wchar_t* format, ...)
{
    if (logFile == INVALID_HANDLE_VALUE) return;
    va_list args;
    va_start(args, format);
    std::wstring text = FormatWide(format, args);
    va_end(args);

    // Names come from archives and paths: none of them may start a line of its own.
    std::string bytes = EncodeLogText(EscapeControlCharacters(text));
    if (stampTimes) bytes = EncodeLogText(TimeStamp()) + bytes;
    EnterCriticalSection(&logLock);
    DWORD written = 0;
    if (!bytes.empty()) WriteFile(logFile, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    LeaveCriticalSection(&logLock);
}

#include "app/preflight.h"

#include <windows.h>
#include <tlhelp32.h>
#include <wininet.h>

bool IsGameClientRunning()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
         more = Process32NextW(snapshot, &entry)) {
        running = lstrcmpiW(entry.szExeFile, L"steelmarch.exe") == 0;
    }
    CloseHandle(snapshot);
    return running;
}

bool HasInternetConnection()
{
    DWORD kind = 0;
    return InternetGetConnectedState(&kind, 0) != FALSE;
}

bool LimitDllSearchToSystem()
{
    // Looked up at run time: Windows 7 has it only with an update.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
    SetDllDirectoryW(L"");
    return false;
}

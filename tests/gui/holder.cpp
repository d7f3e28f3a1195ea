// Plays another program that holds a game file open, as a running launcher, an editor
// or a virus scanner does: opens FILE for reading, sharing reading only, writes READY
// once it holds it, and lets go when RELEASE appears or after MS milliseconds.
//   holder.exe FILE READY RELEASE MS
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) return 2;
    HANDLE held = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    ULONGLONG until = GetTickCount64() + wcstoul(argv[4], nullptr, 10);
    while (GetTickCount64() < until && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES)
        Sleep(10);
    CloseHandle(held);
    return 0;
}

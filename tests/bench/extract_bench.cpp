// Times ArchiveInstaller for one archive into a folder and reports the process's
// peak working set: "files=N ms=N peak_kib=N ok=0|1". With --record the install is
// recorded as the installer records it (its record, its copy, its entry), with
// --journal FILE its temporary files are noted in that journal.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "app/install_log.h"
#include "mods/install/archive_installer.h"
#include "mods/install/install_worker.h"
#include "mods/journal.h"
#include "mods/record/recorded_install.h"

int wmain(int argc, wchar_t** argv)
{
    bool record = false;
    const wchar_t* journal = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (lstrcmpW(argv[i], L"--record") == 0) record = true;
        else if (lstrcmpW(argv[i], L"--journal") == 0 && i + 1 < argc) journal = argv[++i];
        else argc = 0;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: extract_bench ARCHIVE GAMEFOLDER LOGFILE [--record] "
                             "[--journal FILE]\n");
        return 2;
    }
    OpenInstallLog(argv[3]);
    if (journal) UseReplaceJournal(journal);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (record) {
        BeginRecordedInstall(argv[2]);
        SetRecordedMod(2);
    }
    bool ok = ArchiveInstaller(argv[1], argv[2], InstallProgress);
    if (record) EndRecordedInstall();
    if (journal) EndReplaceJournal();
    QueryPerformanceCounter(&end);
    CloseInstallLog();
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    double ms = 1000.0 * (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    std::printf("files=%d ms=%.1f peak_kib=%llu ok=%d\n", InstallProgress.filesInstalled.load(), ms,
                (unsigned long long)(memory.PeakWorkingSetSize / 1024), ok ? 1 : 0);
    return ok ? 0 : 1;
}

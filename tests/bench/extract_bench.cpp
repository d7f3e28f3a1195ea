// Times ArchiveInstaller for one archive into a folder and reports the process's
// peak working set: "files=N ms=N peak_kib=N ok=0|1".
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "app/install_log.h"
#include "mods/archive_installer.h"
#include "mods/install_worker.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: extract_bench ARCHIVE GAMEFOLDER LOGFILE\n");
        return 2;
    }
    OpenInstallLog(argv[3]);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool ok = ArchiveInstaller(argv[1], argv[2], InstallProgress);
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

// Times HttpDownloadToFile for one URL: "bytes=N ms=N ok=0|1".
#include <windows.h>

#include <cstdio>

#include "mods/http_download.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_bench URL OUTFILE\n");
        return 2;
    }
    Counter received{0}, total{0}, cancel{0};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool ok = HttpDownloadToFile(argv[1], argv[2], received, total, cancel);
    QueryPerformanceCounter(&end);
    double ms = 1000.0 * (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    std::printf("bytes=%u ms=%.1f ok=%d\n", received.load(), ms, ok ? 1 : 0);
    return ok ? 0 : 1;
}

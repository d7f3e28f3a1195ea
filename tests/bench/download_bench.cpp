// Times HttpDownloadToFile for one URL, then what the same file costs to write in
// 64 KiB pieces (the download's largest read) alone, so the read's share shows:
// "bytes=N ms=N ok=0|1 chunk_us=N write_us=N".
#include <windows.h>

#include <cstdio>
#include <vector>

#include "mods/download/http_download.h"

static double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

// The loop's other work per chunk: the write, the counter and the pause check.
constexpr DWORD Piece = 64 * 1024;

static double WriteOnlyMs(const wchar_t* path, uint64_t bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<char> chunk(Piece, 'x');
    Counter counter{0};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (uint64_t done = 0; done < bytes; done += Piece) {
        DWORD written = 0;
        WriteFile(file, chunk.data(), Piece, &written, nullptr);
        counter.fetch_add(written, std::memory_order_relaxed);
    }
    QueryPerformanceCounter(&end);
    CloseHandle(file);
    return Milliseconds(start, end);
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: download_bench URL OUTFILE\n");
        return 2;
    }
    ByteCounter received{0}, total{0};
    Counter cancel{0};
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    bool ok = HttpDownloadToFile(argv[1], argv[2], received, total, cancel);
    QueryPerformanceCounter(&end);
    double ms = Milliseconds(start, end);
    double chunks = received.load() / (double)Piece;
    double writeMs = WriteOnlyMs(argv[2], received.load());
    DeleteFileW(argv[2]);
    std::printf("bytes=%llu ms=%.1f ok=%d chunk_us=%.2f write_us=%.2f\n", (unsigned long long)received.load(), ms,
                ok ? 1 : 0, chunks > 0 ? 1000.0 * ms / chunks : 0.0,
                chunks > 0 ? 1000.0 * writeMs / chunks : 0.0);
    return ok ? 0 : 1;
}

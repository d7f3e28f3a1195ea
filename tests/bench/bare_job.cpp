// The installer's job done the plainest way, as the yardstick scripts/bench_job.py
// holds the installer to: a WinINet reader with 64 KiB reads into the temporary
// folder, then a minizip extractor straight into the game folder (an archive) or a
// move into the versioned mods folder (a package), then the download deleted. No
// temporary files, no record, no checks beyond minizip's own CRC.
//     bare_job URL FILENAME GAMEFOLDER zip|package
// A URL of "-" takes the file already in the temporary folder, to time the rest alone.
// prints "fetch_ms=N install_ms=N delete_ms=N files=N bytes=N ok=0|1".
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdio>
#include <string>
#include <vector>

#include <minizip/unzip.h>
#include <minizip/iowin32.h>  // after unzip.h, which defines what it uses

namespace {

constexpr DWORD ReadBytes = 64 * 1024;

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * (double)counter.QuadPart / (double)frequency.QuadPart;
}

bool Fetch(const wchar_t* url, const std::wstring& path, unsigned long long& bytes)
{
    HINTERNET root = InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = root ? InternetOpenUrlW(root, url, nullptr, 0,
                                                INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE,
                                                0)
                             : nullptr;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = request && file != INVALID_HANDLE_VALUE;
    std::vector<char> buffer(ReadBytes);
    bytes = 0;
    while (ok) {
        DWORD read = 0, written = 0;
        ok = InternetReadFile(request, buffer.data(), ReadBytes, &read) != FALSE;
        if (!ok || read == 0) break;
        ok = WriteFile(file, buffer.data(), read, &written, nullptr) && written == read;
        bytes += read;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (request) InternetCloseHandle(request);
    if (root) InternetCloseHandle(root);
    return ok && bytes > 0;
}

std::wstring Wide(const char* utf8)
{
    int chars = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring text(chars > 0 ? chars - 1 : 0, L'\0');
    if (chars > 1) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &text[0], chars);
    return text;
}

bool ExtractCurrent(unzFile archive, const std::wstring& path, std::vector<char>& buffer)
{
    if (unzOpenCurrentFile(archive) != UNZ_OK) return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    while (ok) {
        int read = unzReadCurrentFile(archive, buffer.data(), (unsigned)buffer.size());
        DWORD written = 0;
        if (read <= 0) {
            ok = read == 0;
            break;
        }
        ok = WriteFile(file, buffer.data(), (DWORD)read, &written, nullptr)
          && written == (DWORD)read;
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return unzCloseCurrentFile(archive) == UNZ_OK && ok;
}

bool Extract(const std::wstring& zip, const std::wstring& game, int& files)
{
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    unzFile archive = unzOpen2_64(zip.c_str(), &functions);
    if (!archive) return false;
    std::vector<char> buffer(ReadBytes);
    std::wstring lastFolder;
    bool ok = true;
    files = 0;
    for (int more = unzGoToFirstFile(archive); ok && more == UNZ_OK;
         more = unzGoToNextFile(archive)) {
        char name[512];
        unz_file_info64 info;
        ok = unzGetCurrentFileInfo64(archive, &info, name, sizeof name, nullptr, 0, nullptr, 0)
          == UNZ_OK;
        std::wstring path = game + L"\\" + Wide(name);
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        std::wstring folder = path.substr(0, path.rfind(L'\\'));
        if (folder != lastFolder) {
            SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
            lastFolder = folder;
        }
        if (ok && path.back() != L'\\') {
            ok = ExtractCurrent(archive, path, buffer);
            ++files;
        }
    }
    unzClose(archive);
    return ok;
}

bool MoveIntoMods(const std::wstring& download, const std::wstring& game, const wchar_t* name)
{
    std::wstring folder = game + L"\\mods\\1.8.0.1";
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return MoveFileExW(download.c_str(), (folder + L"\\" + name).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
        != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: bare_job URL FILENAME GAMEFOLDER zip|package\n");
        return 2;
    }
    bool isZip = lstrcmpW(argv[4], L"zip") == 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring download = std::wstring(temp) + argv[2];
    unsigned long long bytes = 0;
    int files = 0;

    double start = Now();
    bool ok = lstrcmpW(argv[1], L"-") == 0 || Fetch(argv[1], download, bytes);
    double fetched = Now();
    ok = ok && (isZip ? Extract(download, argv[3], files)
                      : MoveIntoMods(download, argv[3], argv[2]));
    if (!isZip) files = ok ? 1 : 0;
    double installed = Now();
    DeleteFileW(download.c_str());
    double deleted = Now();
    std::printf("fetch_ms=%.1f install_ms=%.1f delete_ms=%.1f files=%d bytes=%llu ok=%d\n",
                fetched - start, installed - fetched, deleted - installed, files, bytes,
                ok ? 1 : 0);
    return ok ? 0 : 1;
}

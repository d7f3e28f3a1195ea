#include "mods/http_download.h"

#include <wininet.h>

#include "mods/worker_pause.h"

DWORD HttpTimeoutMs = 30000;

namespace {

constexpr DWORD ChunkBytes = 4096;

struct UrlParts {
    INTERNET_SCHEME scheme;
    INTERNET_PORT port;
    wchar_t host[256];
    wchar_t target[256];  // path and query
};

bool SplitUrl(const wchar_t* url, UrlParts& parts)
{
    URL_COMPONENTSW components = {};
    components.dwStructSize = sizeof components;
    components.lpszHostName = parts.host;
    components.dwHostNameLength = 256;
    components.lpszUrlPath = parts.target;
    components.dwUrlPathLength = 256;
    if (!InternetCrackUrlW(url, (DWORD)lstrlenW(url), 0, &components)) return false;
    parts.scheme = components.nScheme;
    parts.port = components.nPort;
    return true;
}

DWORD RequestFlags(INTERNET_SCHEME scheme)
{
    switch (scheme) {
    case INTERNET_SCHEME_HTTP:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    case INTERNET_SCHEME_HTTPS:
        return INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;
    default:
        return 0;
    }
}

// Set on the root for the connection and again on the request: Wine applies send
// and receive time-outs only from the request handle.
void SetTimeouts(HINTERNET handle)
{
    DWORD timeout = HttpTimeoutMs;
    InternetSetOptionW(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionW(handle, INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionW(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

// The body goes to the file chunk by chunk. True when it ended at the end of the
// data, with every byte read also written.
bool CopyBody(HINTERNET request, HANDLE file, Counter& bytesReceived,
              const Counter& cancelRequested)
{
    static_assert(ChunkBytes <= 65536, "a chunk lives on the worker's stack");
    char buffer[ChunkBytes];
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, buffer, ChunkBytes, &read)) return false;
        WaitWhileWorkersPaused();
        DWORD written = 0;
        if (read > 0 && (!WriteFile(file, buffer, read, &written, nullptr) || written != read))
            return false;
        bytesReceived.fetch_add(written, std::memory_order_relaxed);
        if (cancelRequested.load(std::memory_order_relaxed)) return false;
        if (read == 0) return true;
    }
}

// Status and length are read before the status is judged, so a refused answer's
// announced length stays visible in bytesTotal.
bool ReceiveIntoFile(HINTERNET request, const wchar_t* localPath, Counter& bytesReceived,
                     Counter& bytesTotal, const Counter& cancelRequested)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
        return false;
    DWORD length = 0;
    size = sizeof length;
    bool announced = HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                    &length, &size, nullptr) != FALSE;
    bytesTotal = announced ? length : 0;
    if (status != 200) return false;

    HANDLE file = CreateFileW(localPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytesReceived = 0;
    bool whole = CopyBody(request, file, bytesReceived, cancelRequested);
    // A cut connection looks like the end of the data; only the length tells.
    if (announced && bytesReceived.load() != length) whole = false;
    CloseHandle(file);
    if (!whole) DeleteFileW(localPath);
    return whole;
}

}  // namespace

bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, Counter& bytesReceived,
                        Counter& bytesTotal, const Counter& cancelRequested)
{
    bytesTotal = 0;
    UrlParts parts;
    if (!SplitUrl(url, parts)) return false;
    DWORD flags = RequestFlags(parts.scheme);

    HINTERNET root = InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!root) return false;
    SetTimeouts(root);
    bool done = false;
    HINTERNET connection = InternetConnectW(root, parts.host, parts.port, nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    if (connection) {
        HINTERNET request = HttpOpenRequestW(connection, L"GET", parts.target, nullptr, nullptr,
                                             nullptr, flags, 0);
        if (request) {
            SetTimeouts(request);
            if (HttpSendRequestW(request, nullptr, 0, nullptr, 0))
                done = ReceiveIntoFile(request, localPath, bytesReceived, bytesTotal,
                                       cancelRequested);
            InternetCloseHandle(request);
        }
        InternetCloseHandle(connection);
    }
    InternetCloseHandle(root);
    return done;
}

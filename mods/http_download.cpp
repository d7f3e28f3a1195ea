#include "mods/http_download.h"

#include <wininet.h>

#include <memory>
#include <string>
#include <vector>

#include "mods/worker_pause.h"

#ifndef HTTP_TIMEOUT_MS
#define HTTP_TIMEOUT_MS 30000
#endif
DWORD HttpTimeoutMs = HTTP_TIMEOUT_MS;

namespace {

constexpr DWORD ChunkBytes = 4096;
constexpr DWORD PollMs = 20;

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

// One transfer, run on a thread of its own so that the caller can stop waiting for
// it: WinINet's time-outs do not cover the TLS handshake, and under Wine closing the
// handles does not end a blocked call. Once abandoned, the transfer thread never
// touches the file or the caller's counters again: every file operation happens
// under the lock, after a look at the flag, and the counters are its own. Its
// WinINet handles are its own too, closed by it alone whenever its blocked call
// returns. Shared by the two threads; the last one done with it frees it.
struct Transfer {
    std::wstring localPath;
    UrlParts url;
    std::atomic<uint32_t> received{0};
    std::atomic<uint32_t> total{0};
    std::atomic<bool> cancel{false};
    std::atomic<DWORD> lastSignOfLife{0};
    std::vector<char> buffer = std::vector<char>(ChunkBytes);

    CRITICAL_SECTION lock;
    bool abandoned = false;
    bool finished = false;
    bool result = false;
    HANDLE file = INVALID_HANDLE_VALUE;

    Transfer() { InitializeCriticalSection(&lock); }
    ~Transfer() { DeleteCriticalSection(&lock); }
};

class Locked {
public:
    explicit Locked(Transfer& t) : t(t) { EnterCriticalSection(&t.lock); }
    ~Locked() { LeaveCriticalSection(&t.lock); }

private:
    Transfer& t;
};

struct InternetHandles {
    HINTERNET root = nullptr, connection = nullptr, request = nullptr;
    ~InternetHandles()
    {
        if (request) InternetCloseHandle(request);
        if (connection) InternetCloseHandle(connection);
        if (root) InternetCloseHandle(root);
    }
};

void SignOfLife(Transfer& t)
{
    t.lastSignOfLife = GetTickCount();
}

// Under the lock: ends the file, keeping it only when whole.
void CloseFile(Transfer& t, bool keep)
{
    if (t.file == INVALID_HANDLE_VALUE) return;
    CloseHandle(t.file);
    t.file = INVALID_HANDLE_VALUE;
    if (!keep) DeleteFileW(t.localPath.c_str());
}

bool CreateLocalFile(Transfer& t)
{
    Locked hold(t);
    if (t.abandoned) return false;
    t.file = CreateFileW(t.localPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    return t.file != INVALID_HANDLE_VALUE;
}

bool WriteChunk(Transfer& t, DWORD count)
{
    Locked hold(t);
    if (t.abandoned) return false;
    DWORD written = 0;
    if (count > 0 && (!WriteFile(t.file, t.buffer.data(), count, &written, nullptr)
                      || written != count))
        return false;
    t.received.fetch_add(written, std::memory_order_relaxed);
    return true;
}

// The body goes to the file chunk by chunk. True when it ended at the end of the
// data, with every byte read also written.
bool CopyBody(Transfer& t, HINTERNET request)
{
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request, t.buffer.data(), ChunkBytes, &read)) return false;
        SignOfLife(t);
        WaitWhileWorkersPaused();
        if (!WriteChunk(t, read)) return false;
        if (t.cancel.load(std::memory_order_relaxed)) return false;
        if (read == 0) return true;
    }
}

// Status and length are read before the status is judged, so a refused answer's
// announced length stays visible in bytesTotal.
bool ReceiveIntoFile(Transfer& t, HINTERNET request)
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
    t.total = announced ? length : 0;
    if (status != 200) return false;

    if (!CreateLocalFile(t)) return false;
    bool whole = CopyBody(t, request);
    // A cut connection looks like the end of the data; only the length tells.
    return whole && (!announced || t.received.load() == length);
}

bool OpenAndSend(Transfer& t, InternetHandles& handles)
{
    handles.root = InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!handles.root) return false;
    SetTimeouts(handles.root);
    handles.connection = InternetConnectW(handles.root, t.url.host, t.url.port, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
    if (!handles.connection) return false;
    handles.request = HttpOpenRequestW(handles.connection, L"GET", t.url.target, nullptr,
                                       nullptr, nullptr, RequestFlags(t.url.scheme), 0);
    if (!handles.request) return false;
    SetTimeouts(handles.request);
    SignOfLife(t);
    bool sent = HttpSendRequestW(handles.request, nullptr, 0, nullptr, 0) != FALSE;
    SignOfLife(t);
    return sent;
}

DWORD WINAPI TransferThread(LPVOID argument)
{
    std::unique_ptr<std::shared_ptr<Transfer>> share(
        static_cast<std::shared_ptr<Transfer>*>(argument));
    Transfer& t = **share;
    bool whole;
    {
        InternetHandles handles;
        whole = OpenAndSend(t, handles) && ReceiveIntoFile(t, handles.request);
    }
    Locked hold(t);
    if (!t.abandoned) {
        CloseFile(t, whole);
        t.result = whole;
        t.finished = true;
    }
    return 0;
}

// Gives a transfer up unless it has just finished; then its own result stands. What
// it wrote so far is removed.
bool Abandon(Transfer& t)
{
    Locked hold(t);
    if (t.finished) return t.result;
    t.abandoned = true;
    CloseFile(t, false);
    return false;
}

bool WaitForTransfer(HANDLE thread, Transfer& t, Counter& bytesReceived, Counter& bytesTotal,
                     const Counter& cancelRequested)
{
    bool cancelSeen = false;
    DWORD cancelSeenAt = 0;
    for (;;) {
        bool ended = WaitForSingleObject(thread, PollMs) == WAIT_OBJECT_0;
        bytesReceived = t.received.load();
        bytesTotal = t.total.load();
        if (ended) return t.result;

        DWORD now = GetTickCount();
        // The transfer is held on purpose while the user is asked a question.
        if (WorkersArePaused()) SignOfLife(t);
        if (!cancelSeen && cancelRequested.load()) {
            cancelSeen = true;
            cancelSeenAt = now;
            t.cancel = true;
        }
        bool stalled = now - t.lastSignOfLife.load() > HttpTimeoutMs + StallMarginMs;
        bool cancelOverdue = cancelSeen && now - cancelSeenAt > CancelGraceMs;
        if (stalled || cancelOverdue) return Abandon(t);
    }
}

}  // namespace

bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, Counter& bytesReceived,
                        Counter& bytesTotal, const Counter& cancelRequested)
{
    bytesTotal = 0;
    auto transfer = std::make_shared<Transfer>();
    Transfer& t = *transfer;
    if (!SplitUrl(url, t.url)) return false;
    t.localPath = localPath;
    t.cancel = cancelRequested.load() != 0;
    SignOfLife(t);

    auto* threadsShare = new std::shared_ptr<Transfer>(transfer);
    HANDLE thread = CreateThread(nullptr, 0, TransferThread, threadsShare, 0, nullptr);
    if (!thread) {
        delete threadsShare;
        return false;
    }
    bool done = WaitForTransfer(thread, t, bytesReceived, bytesTotal, cancelRequested);
    CloseHandle(thread);
    return done;
}

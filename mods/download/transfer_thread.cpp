#include "mods/download/transfer_thread.h"

#include <cwchar>

#include "mods/download/transfer_file.h"
#include "mods/download/web_page.h"
#include "mods/free_space.h"
#include "mods/worker_pause.h"

namespace {

// A read costs about as much whatever its size, so small reads held the speed far
// below the line's; but a read returns only once it is full, so on a slow line a
// large one would hold the progress (and the cancel) for seconds. The size follows
// the rate: doubled while reads come back at once, halved when one takes long.
constexpr DWORD MinReadBytes = 4 * 1024;
constexpr DWORD FirstReadBytes = 16 * 1024;
constexpr DWORD QuickReadMs = 10;
constexpr DWORD SlowReadMs = 50;

DWORD NextReadSize(DWORD size, DWORD tookMs)
{
    if (tookMs < QuickReadMs && size < MaxReadBytes) return size * 2;
    if (tookMs > SlowReadMs && size > MinReadBytes) return size / 2;
    return size;
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

TryEnd Failed(Transfer& t, DownloadFailure failure)
{
    t.failure = failure;
    return IsRetried(failure) ? TryEnd::Retry : TryEnd::Fail;
}

// The URL a request went to last: WinINet follows redirects by itself.
std::wstring FinalUrl(HINTERNET request)
{
    wchar_t url[2048] = L"";
    DWORD size = sizeof url;
    if (!request || !InternetQueryOptionW(request, INTERNET_OPTION_URL, url, &size)) return L"";
    return url;
}

// Under Wine WinINet follows a redirect from https to plain http too.
bool RedirectedToPlainHttp(const Transfer& t, HINTERNET request)
{
    return t.url.scheme == INTERNET_SCHEME_HTTPS
        && _wcsnicmp(FinalUrl(request).c_str(), L"http:", 5) == 0;
}

// The host a redirect may have led to.
std::wstring HostAsked(const Transfer& t, HINTERNET request)
{
    UrlParts parts;
    std::wstring url = FinalUrl(request);
    return !url.empty() && SplitUrl(url.c_str(), parts) ? parts.host : t.url.host;
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
    std::wstring headers = RangeHeaders(t.resume);
    SignOfLife(t);
    bool sent = HttpSendRequestW(handles.request, headers.empty() ? nullptr : headers.c_str(),
                                 (DWORD)headers.size(), nullptr, 0)
             != FALSE;
    SignOfLife(t);
    return sent;
}

// The body goes to the file as it arrives, the file made once its first bytes are in
// and are not a web page (those of a continued body were looked at by the first try).
// Done when it ended at the end of the data, with every byte read also written.
TryEnd CopyBody(Transfer& t, HINTERNET request, bool append)
{
    DWORD size = FirstReadBytes;
    WebPageSniffer sniffer;
    bool opened = false;
    for (;;) {
        DWORD read = 0;
        DWORD start = GetTickCount();
        if (!InternetReadFile(request, t.buffer.data(), size, &read))
            return Failed(t, DownloadFailure::ConnectionCut);
        size = NextReadSize(size, GetTickCount() - start);
        SignOfLife(t);
        if (!append && SniffWebPage(sniffer, t.buffer.data(), read, read == 0))
            return Failed(t, DownloadFailure::WebPage);
        if (!opened && !OpenLocalFile(t, append)) return Failed(t, DownloadFailure::LocalFile);
        opened = true;
        switch (WriteChunk(t, read)) {
        case Written::Abandoned:
            return TryEnd::Retry;  // the waiting side has decided already
        case Written::Failed:
            return Failed(t, DownloadFailure::LocalFile);
        case Written::Yes:
            break;
        }
        if (t.cancel.load(std::memory_order_relaxed)) return Failed(t, DownloadFailure::Cancelled);
        if (read == 0) return TryEnd::Done;
    }
}

// Reads the answer: 200 is the file from its start; 206 continues the bytes on disk
// only when it starts where they end and is of the same whole.
TryEnd ReceiveIntoFile(Transfer& t, HINTERNET request)
{
    if (RedirectedToPlainHttp(t, request)) return Failed(t, DownloadFailure::Downgraded);
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                        nullptr))
        return Failed(t, DownloadFailure::Other);
    t.status = status;
    t.statusText = QueryText(request, HTTP_QUERY_STATUS_TEXT);
    AnswerHead head;
    t.answerFault = ReadAnswerHead(request, head);
    if (t.answerFault != AnswerFault::None) return Failed(t, DownloadFailure::InvalidAnswer);
    uint64_t length = head.length;
    bool announced = head.lengthAnnounced;
    bool append = false;
    if (status == 206 && t.resume.from > 0) {
        if (!ContinuesResume(request, t.resume)) {
            t.rangeRefused = true;
            return Failed(t, DownloadFailure::Other);
        }
        append = true;
        t.answer = t.resume;
        t.lengthKnown = true;
    } else if (status == 200) {
        t.restarted = t.resume.from > 0;
        t.answer = ResumePoint{0, announced ? length : 0, Validator(request)};
        t.lengthKnown = announced;
    } else {
        t.total = announced ? length : 0;
        return Failed(t, DownloadFailure::HttpStatus);
    }
    t.total = t.answer.total;
    t.answered = true;
    if (IsWebPageType(QueryText(request, HTTP_QUERY_CONTENT_TYPE)))
        return Failed(t, DownloadFailure::WebPage);
    if (t.lengthKnown && !RoomToDownload(t.localPath, t.answer.total, t.refusal))
        return Failed(t, DownloadFailure::DiskFull);
    TryEnd end = CopyBody(t, request, append);
    // A cut connection looks like the end of the data; only the length tells.
    if (end == TryEnd::Done && t.lengthKnown && t.received.load() != t.answer.total)
        return Failed(t, DownloadFailure::CutShort);
    return end;
}

TryEnd RunTry(Transfer& t)
{
    InternetHandles handles;
    if (!OpenAndSend(t, handles)) {
        t.error = GetLastError();
        t.hostAsked = HostAsked(t, handles.request);
        return Failed(t, FailureOf(t.error));
    }
    t.hostAsked = HostAsked(t, handles.request);
    return ReceiveIntoFile(t, handles.request);
}

DWORD WINAPI TransferThread(LPVOID argument)
{
    std::unique_ptr<std::shared_ptr<Transfer>> share(
        static_cast<std::shared_ptr<Transfer>*>(argument));
    Transfer& t = **share;
    TryEnd end = RunTry(t);
    Locked hold(t);
    if (!t.abandoned) {
        CloseLocalFile(t);
        t.end = end;
        t.finished = true;
    }
    return 0;
}

// Gives a try up unless it has just finished; then its own end stands. The bytes it
// wrote stay for the next try.
TryEnd Abandon(Transfer& t, DownloadFailure why)
{
    Locked hold(t);
    if (t.finished) return t.end;
    t.abandoned = true;
    CloseLocalFile(t);
    t.failure = why;
    return IsRetried(why) ? TryEnd::Retry : TryEnd::Fail;
}

}  // namespace

std::shared_ptr<Transfer> StartTry(const UrlParts& url, const wchar_t* localPath,
                                   const ResumePoint& resume, BackgroundSha256* hash, bool cancel,
                                   HANDLE& thread)
{
    auto transfer = std::make_shared<Transfer>();
    Transfer& t = *transfer;
    t.url = url;
    t.localPath = localPath;
    t.resume = resume;
    t.hash = hash;
    t.received = resume.from;
    t.total = resume.total;
    t.cancel = cancel;
    SignOfLife(t);
    auto* threadsShare = new std::shared_ptr<Transfer>(transfer);
    thread = CreateThread(nullptr, 0, TransferThread, threadsShare, 0, nullptr);
    if (!thread) {
        delete threadsShare;
        t.failure = DownloadFailure::Other;
        t.end = TryEnd::Fail;
    }
    return transfer;
}

TryEnd WaitForTransfer(HANDLE thread, Transfer& t, ByteCounter& bytesReceived,
                       ByteCounter& bytesTotal, const Counter& cancelRequested)
{
    bool cancelSeen = false;
    DWORD cancelSeenAt = 0;
    for (;;) {
        bool ended = WaitForSingleObject(thread, PollMs) == WAIT_OBJECT_0;
        if (!ended) WriteHeldBytes(t);
        bytesReceived = t.received.load();
        bytesTotal = t.total.load();
        if (ended) return t.end;

        DWORD now = GetTickCount();
        // The transfer is held on purpose while the user is asked a question.
        if (WorkersArePaused()) SignOfLife(t);
        if (!cancelSeen && cancelRequested.load()) {
            cancelSeen = true;
            cancelSeenAt = now;
            t.cancel = true;
        }
        if (now - t.lastSignOfLife.load() > HttpTimeoutMs + StallMarginMs)
            return Abandon(t, DownloadFailure::TimedOut);
        if (cancelSeen && now - cancelSeenAt > CancelGraceMs)
            return Abandon(t, DownloadFailure::Cancelled);
    }
}

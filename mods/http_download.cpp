#include "mods/http_download.h"

#include <wininet.h>

#include <cstring>
#include <cwchar>
#include <memory>

#include "app/long_path.h"
#include "mods/free_space.h"
#include "mods/http_answer.h"
#include "mods/background_hash.h"
#include "mods/web_page.h"
#include "mods/worker_pause.h"

#ifndef HTTP_TIMEOUT_MS
#define HTTP_TIMEOUT_MS 30000
#endif
DWORD HttpTimeoutMs = HTTP_TIMEOUT_MS;
#ifndef RETRY_DELAY_UNIT_MS
#define RETRY_DELAY_UNIT_MS 1000
#endif
DWORD RetryDelayUnitMs = RETRY_DELAY_UNIT_MS;

namespace {

// A read costs about as much whatever its size, so small reads held the speed far
// below the line's; but a read returns only once it is full, so on a slow line a
// large one would hold the progress (and the cancel) for seconds. The size follows
// the rate: doubled while reads come back at once, halved when one takes long.
constexpr DWORD MinReadBytes = 4 * 1024;
constexpr DWORD FirstReadBytes = 16 * 1024;
constexpr DWORD MaxReadBytes = 1024 * 1024;
constexpr DWORD QuickReadMs = 10;
constexpr DWORD SlowReadMs = 50;
constexpr DWORD PollMs = 20;
// What is read while a question holds the download, kept to be written once it is
// answered: the reading goes on meanwhile, so that a server that lets a paused
// connection catch up (nginx's limit_rate) sends it at once, and the answer finds the
// bytes here rather than in a read that has yet to return. Past this, reading waits too.
constexpr size_t HeldBytesAtMost = 8 * 1024 * 1024;

DWORD NextReadSize(DWORD size, DWORD tookMs)
{
    if (tookMs < QuickReadMs && size < MaxReadBytes) return size * 2;
    if (tookMs > SlowReadMs && size > MinReadBytes) return size / 2;
    return size;
}

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

DownloadFailure FailureOf(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
        return DownloadFailure::NameNotResolved;
    case ERROR_INTERNET_CANNOT_CONNECT:
        return DownloadFailure::CouldNotConnect;
    case ERROR_INTERNET_TIMEOUT:
        return DownloadFailure::TimedOut;
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
        return DownloadFailure::ConnectionCut;
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
        return DownloadFailure::Downgraded;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return DownloadFailure::Untrusted;
    default:
        return DownloadFailure::Other;
    }
}

// What a bad network does is tried again; an answer, a name that does not resolve, a
// certificate or a redirect to plain http will not change on the next try.
bool IsRetried(DownloadFailure failure)
{
    switch (failure) {
    case DownloadFailure::CouldNotConnect:
    case DownloadFailure::TimedOut:
    case DownloadFailure::ConnectionCut:
    case DownloadFailure::CutShort:
    case DownloadFailure::Other:
        return true;
    default:
        return false;
    }
}

// Where a try starts: at zero, or after the bytes already on disk, asking for the rest
// of the answer they came from.
struct ResumePoint {
    uint64_t from = 0;
    uint64_t total = 0;      // that answer's length
    std::wstring validator;  // its ETag, else its Last-Modified
};

enum class TryEnd { Done, Retry, Fail };

// One try, run on a thread of its own so that the caller can stop waiting for it:
// WinINet's time-outs do not cover the TLS handshake, and under Wine closing the
// handles does not end a blocked call. Once abandoned, the transfer thread never
// touches the file, the hash or the caller's counters again: every file operation
// happens under the lock, after a look at the flag, and the counters are its own. Its
// WinINet handles are its own too, closed by it alone whenever its blocked call
// returns. Shared by the two threads; the last one done with it frees it.
struct Transfer {
    UrlParts url;
    std::wstring localPath;
    ResumePoint resume;
    BackgroundSha256* hash = nullptr;

    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> cancel{false};
    std::atomic<DWORD> lastSignOfLife{0};
    std::vector<char> buffer = std::vector<char>(MaxReadBytes);
    std::vector<char> held;  // read while paused, not written yet; under the lock
    bool heldNotWritten = false;  // writing the held bytes failed

    // Written by the transfer thread before it ends; read once it has.
    TryEnd end = TryEnd::Retry;
    DownloadFailure failure = DownloadFailure::None;
    DWORD status = 0;
    bool answered = false;      // a 200 or a usable 206 came
    bool rangeRefused = false;  // a 206 for other bytes than those asked for
    bool restarted = false;     // the rest was asked for and the whole file came
    ResumePoint answer;         // the length and validator of the bytes on disk
    bool lengthKnown = false;
    AnswerFault answerFault = AnswerFault::None;
    std::wstring refusal;  // the log's line for a try refused before writing

    CRITICAL_SECTION lock;
    bool abandoned = false;
    bool finished = false;
    bool fileMade = false;
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

TryEnd Failed(Transfer& t, DownloadFailure failure)
{
    t.failure = failure;
    return IsRetried(failure) ? TryEnd::Retry : TryEnd::Fail;
}

std::wstring QueryText(HINTERNET request, DWORD info)
{
    std::wstring text;
    QueryHeaderText(request, info, 0, text);
    return text;
}

std::wstring Validator(HINTERNET request)
{
    std::wstring etag = QueryText(request, HTTP_QUERY_ETAG);
    return etag.empty() ? QueryText(request, HTTP_QUERY_LAST_MODIFIED) : etag;
}

// WinINet follows redirects by itself, and under Wine also from https to plain http.
bool RedirectedToPlainHttp(const Transfer& t, HINTERNET request)
{
    if (t.url.scheme != INTERNET_SCHEME_HTTPS) return false;
    wchar_t finalUrl[2048] = L"";
    DWORD size = sizeof finalUrl;
    if (!InternetQueryOptionW(request, INTERNET_OPTION_URL, finalUrl, &size)) return false;
    return _wcsnicmp(finalUrl, L"http:", 5) == 0;
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
    std::wstring headers;
    if (t.resume.from > 0)
        headers = L"Range: bytes=" + std::to_wstring(t.resume.from) + L"-\r\nIf-Range: "
                + t.resume.validator + L"\r\n";
    SignOfLife(t);
    bool sent = HttpSendRequestW(handles.request, headers.empty() ? nullptr : headers.c_str(),
                                 (DWORD)headers.size(), nullptr, 0)
             != FALSE;
    SignOfLife(t);
    return sent;
}

// Under the lock: ends the file, keeping it when it may be continued.
void CloseFile(Transfer& t)
{
    if (t.file == INVALID_HANDLE_VALUE) return;
    CloseHandle(t.file);
    t.file = INVALID_HANDLE_VALUE;
}

// A new file, or the one on disk cut back to the bytes that are continued.
bool OpenLocalFile(Transfer& t, bool append)
{
    Locked hold(t);
    if (t.abandoned) return false;
    t.file = CreateFileW(SystemPath(t.localPath).c_str(), GENERIC_WRITE, 0, nullptr,
                         append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (t.file == INVALID_HANDLE_VALUE) return false;
    t.fileMade = true;
    if (append) {
        LARGE_INTEGER at;
        at.QuadPart = (LONGLONG)t.resume.from;
        if (!SetFilePointerEx(t.file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(t.file)) {
            CloseFile(t);
            return false;
        }
    } else if (t.hash && !t.hash->Start()) {
        CloseFile(t);
        return false;
    }
    t.received = append ? t.resume.from : 0;
    return true;
}

enum class Written { Yes, Failed, Abandoned };

// Under the lock.
Written WriteLocked(Transfer& t, const char* bytes, size_t count)
{
    if (t.abandoned) return Written::Abandoned;
    DWORD written = 0;
    if (count > 0 && (!WriteFile(t.file, bytes, (DWORD)count, &written, nullptr)
                      || written != count))
        return Written::Failed;
    if (t.hash) t.hash->Add(bytes, written);
    t.received.fetch_add(written, std::memory_order_relaxed);
    return Written::Yes;
}

// Under the lock.
Written WriteHeld(Transfer& t)
{
    if (t.heldNotWritten) return Written::Failed;
    if (t.held.empty()) return Written::Yes;
    Written written = WriteLocked(t, t.held.data(), t.held.size());
    if (written == Written::Yes) t.held.clear();
    return written;
}

// Under the lock: the held bytes go first, then count bytes of the buffer.
Written WriteInOrder(Transfer& t, DWORD count)
{
    Written held = WriteHeld(t);
    return held == Written::Yes ? WriteLocked(t, t.buffer.data(), count) : held;
}

// While the workers are paused a chunk is held, unless the held bytes are at their
// bound or the body has ended (count 0): then the reading waits for the answer too.
Written WriteChunk(Transfer& t, DWORD count)
{
    {
        Locked hold(t);
        if (!WorkersArePaused()) return WriteInOrder(t, count);
        if (count > 0 && t.held.size() + count <= HeldBytesAtMost) {
            t.held.insert(t.held.end(), t.buffer.data(), t.buffer.data() + count);
            return t.abandoned ? Written::Abandoned : Written::Yes;
        }
    }
    WaitWhileWorkersPaused();
    Locked hold(t);
    return WriteInOrder(t, count);
}

// Called by the waiting side: once the question is answered, the held bytes are
// written at once, whatever read the transfer thread is blocked in.
void WriteHeldBytes(Transfer& t)
{
    if (WorkersArePaused()) return;
    Locked hold(t);
    if (!t.held.empty() && WriteHeld(t) == Written::Failed) t.heldNotWritten = true;
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
    AnswerHead head;
    t.answerFault = ReadAnswerHead(request, head);
    if (t.answerFault != AnswerFault::None) return Failed(t, DownloadFailure::InvalidAnswer);
    uint64_t length = head.length;
    bool announced = head.lengthAnnounced;
    bool append = false;
    if (status == 206 && t.resume.from > 0) {
        uint64_t first = 0, total = 0;
        if (!ParseContentRange(QueryText(request, HTTP_QUERY_CONTENT_RANGE), first, total)
            || first != t.resume.from || total != t.resume.total) {
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
    if (!OpenAndSend(t, handles)) return Failed(t, FailureOf(GetLastError()));
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
        CloseFile(t);
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
    CloseFile(t);
    t.failure = why;
    return IsRetried(why) ? TryEnd::Retry : TryEnd::Fail;
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

// The wait before the next try; the question holds it like a transfer, and a cancel
// ends it. False when cancelled.
bool WaitBeforeRetry(DWORD delayMs, const Counter& cancelRequested)
{
    DWORD waited = 0;
    while (waited < delayMs) {
        if (cancelRequested.load()) return false;
        Sleep(PollMs);
        if (!WorkersArePaused()) waited += PollMs;
    }
    return !cancelRequested.load();
}

// Where the next try starts: after the bytes on disk when the server can be asked for
// the rest of the same answer (its length and a validator are known), else at zero.
ResumePoint NextStart(const Transfer& t, const ResumePoint& previous)
{
    if (t.rangeRefused) return ResumePoint();
    ResumePoint next = t.answered ? t.answer : previous;
    next.from = t.received.load();
    if (next.from == 0 || next.total == 0 || next.validator.empty()) return ResumePoint();
    return next;
}

std::wstring TryText(int tryNumber)
{
    return L"try " + std::to_wstring(tryNumber) + L" of " + std::to_wstring(DownloadTries);
}

std::wstring RetryNote(const std::wstring& path, const Transfer& t, int tryNumber,
                       const ResumePoint& next)
{
    return L"Retrying: " + path + L" - " + DescribeFailure(t.failure) + L" at byte "
         + std::to_wstring(t.received.load()) + L" (" + TryText(tryNumber) + L"); the next "
         + (next.from > 0 ? L"asks for the rest from byte " + std::to_wstring(next.from)
                          : std::wstring(L"starts over"));
}

}  // namespace

bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, ByteCounter& bytesReceived,
                        ByteCounter& bytesTotal, const Counter& cancelRequested,
                        const char* sha256Hex, DownloadReport* report, bool hashBytes)
{
    DownloadReport unused;
    DownloadReport& r = report ? *report : unused;
    r = DownloadReport();
    bytesTotal = 0;
    UrlParts parts;
    if (!SplitUrl(url, parts)) {
        r.failure = DownloadFailure::Other;
        return false;
    }
    const std::wstring path = localPath;
    bool pinned = sha256Hex && *sha256Hex;
    BackgroundSha256 hash;
    ResumePoint resume;
    bool fileMade = false;
    for (int tryNumber = 1;; ++tryNumber) {
        HANDLE thread = nullptr;
        std::shared_ptr<Transfer> transfer = StartTry(parts, localPath, resume,
                                                      pinned || hashBytes ? &hash : nullptr,
                                                      cancelRequested.load() != 0, thread);
        Transfer& t = *transfer;
        std::wstring refusal;
        TryEnd end = thread ? WaitForTransfer(thread, t, bytesReceived, bytesTotal,
                                              cancelRequested)
                            : t.end;
        if (thread) CloseHandle(thread);
        {
            Locked hold(t);
            fileMade = fileMade || t.fileMade;
            if (t.finished) refusal = t.refusal;  // an abandoned try may still write it
        }
        r.httpStatus = t.status;
        if (t.restarted)
            r.notes.push_back(L"Restarting: " + path + L" - the server sent the whole file again ("
                              + TryText(tryNumber) + L")");
        if (end == TryEnd::Done) {
            if (pinned || hashBytes) r.sha256 = hash.FinishHex();
            if (!pinned || _stricmp(r.sha256.c_str(), sha256Hex) == 0) return true;
            r.failure = DownloadFailure::HashMismatch;
            r.notes.push_back(L"Failed: " + path + L" - SHA-256 mismatch: expected "
                              + std::wstring(sha256Hex, sha256Hex + std::strlen(sha256Hex))
                              + L", got " + std::wstring(r.sha256.begin(), r.sha256.end()));
            break;
        }
        r.failure = cancelRequested.load() ? DownloadFailure::Cancelled : t.failure;
        if (end == TryEnd::Fail || r.failure == DownloadFailure::Cancelled) {
            if (!refusal.empty()) r.notes.push_back(refusal);
            if (r.failure == DownloadFailure::Downgraded || r.failure == DownloadFailure::WebPage)
                r.notes.push_back(L"Failed: " + path + L" - " + DescribeFailure(r.failure));
            if (r.failure == DownloadFailure::InvalidAnswer)
                r.notes.push_back(L"Failed: " + path + L" - " + DescribeFailure(r.failure) + L": "
                                  + DescribeAnswerFault(t.answerFault));
            break;
        }
        if (tryNumber == DownloadTries) {
            r.notes.push_back(L"Failed: " + path + L" - " + DescribeFailure(r.failure)
                              + L", after " + std::to_wstring(DownloadTries) + L" tries");
            break;
        }
        resume = NextStart(t, resume);
        r.notes.push_back(RetryNote(path, t, tryNumber, resume));
        if (!WaitBeforeRetry(RetryDelayUnitMs << (tryNumber - 1), cancelRequested)) {
            r.failure = DownloadFailure::Cancelled;
            break;
        }
    }
    if (fileMade) DeleteFileW(SystemPath(localPath).c_str());
    return false;
}

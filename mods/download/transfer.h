#pragma once
// What one try of a download shares between its transfer thread and the side that
// waits for it: the URL, where the try starts, what it has received and how it ended,
// under a lock of its own.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mods/download/background_hash.h"
#include "mods/download/download_failure.h"
#include "mods/download/download_limits.h"
#include "mods/download/http_answer.h"
#include "mods/download/resume.h"

// The largest read of a body (see NextReadSize), the size of a try's buffer.
constexpr DWORD MaxReadBytes = 1024 * 1024;
// How often the waiting side looks at a try, and a wait before a retry at a cancel.
constexpr DWORD PollMs = 20;

// What is read while a question holds the download, kept to be written once it is
// answered: the reading goes on meanwhile, so that a server that lets a paused
// connection catch up (nginx's limit_rate) sends it at once, and the answer finds the
// bytes here rather than in a read that has yet to return. Past this, reading waits too.
constexpr size_t HeldBytesAtMost = 8 * 1024 * 1024;

struct UrlParts {
    INTERNET_SCHEME scheme;
    INTERNET_PORT port;
    wchar_t host[256];
    wchar_t target[256];  // path and query
};

// False when url is not one WinINet can take apart.
bool SplitUrl(const wchar_t* url, UrlParts& parts);

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
    std::wstring statusText;    // the answer's reason phrase
    std::wstring hostAsked;     // where the request went last, redirects followed
    DWORD error = 0;            // WinINet's, when sending the request failed
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

#pragma once
// One HTTP or HTTPS download into one local file, chunk by chunk, with progress
// counters the user-interface thread reads and a cancel flag it may raise. A
// connection that breaks, stalls or ends short is tried again, continuing from the
// bytes already on disk where the server allows it.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

using Counter = std::atomic<uint32_t>;
using ByteCounter = std::atomic<uint64_t>;

// Connect, send and receive time-outs, so that a stalled server cannot hold the
// wizard for ever. A transfer that shows no sign of life for this long plus
// StallMarginMs is given up, whatever WinINet is blocked in.
extern DWORD HttpTimeoutMs;
constexpr DWORD StallMarginMs = 2000;
// After a confirmed cancel no transfer is waited for longer than this.
constexpr DWORD CancelGraceMs = 1000;
// The first try and three more, after 1, 2 and 4 units (a unit is a second; test
// builds shorten it).
constexpr int DownloadTries = 4;
extern DWORD RetryDelayUnitMs;

// Why a download failed, for the log and the user.
enum class DownloadFailure {
    None,
    HttpStatus,       // the server answered with an error status
    NameNotResolved,  // the host name does not resolve
    CouldNotConnect,
    TimedOut,         // no sign of life for the time-out
    ConnectionCut,    // reset or broken while the body came
    CutShort,         // the body ended before its announced length
    Untrusted,        // the TLS certificate is not trusted or names another host
    Downgraded,       // an https URL redirected to plain http
    InvalidAnswer,    // no status line, not HTTP/1.x, or a length given twice or unreadable
    HashMismatch,     // the bytes are not those the pack was built with
    LocalFile,        // the file in the temporary folder could not be written
    DiskFull,         // the temporary folder's drive cannot take the announced length
    WebPage,          // a web page came instead of the file (a sign-in or error page)
    Cancelled,
    Other,
};

struct DownloadReport {
    DownloadFailure failure = DownloadFailure::None;
    DWORD httpStatus = 0;              // of the last answer
    std::vector<std::wstring> notes;   // lines for the log: retries, mismatches
    std::string sha256;  // of the bytes, lower-case hex, when they were hashed
};

// True only when the server answered 200 (or 206 to a resume) and the whole body is
// in the file: when the length was announced, exactly that many bytes, and when
// sha256Hex names a hash (64 hex digits), bytes with that SHA-256. Those bytes, or all
// bytes when hashBytes, are hashed as they arrive, on a thread of their own, into the
// report's sha256. Any failure
// removes the partial file. A first try that ends before writing (a status other than
// 200, an announced length the drive has no room for) leaves any older file of that
// name untouched. bytesTotal is 0 when no length was announced.
bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, ByteCounter& bytesReceived,
                        ByteCounter& bytesTotal, const Counter& cancelRequested,
                        const char* sha256Hex = nullptr, DownloadReport* report = nullptr,
                        bool hashBytes = false);

// Short English text for a failure, as the log writes it ("connection cut", ...).
const wchar_t* DescribeFailure(DownloadFailure failure);

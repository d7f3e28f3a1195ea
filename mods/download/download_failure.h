#pragma once
// Why a download failed, in the words of the log, and which failures a later try may
// mend: what a bad network does, not what the server or its certificate says.
#include <windows.h>

#include <string>

// Why a download failed, for the log and the user.
enum class DownloadFailure {
    None,
    HttpStatus,       // the server answered with an error status
    NameNotResolved,  // the host name does not resolve
    CouldNotConnect,
    TimedOut,         // no sign of life for the time-out
    ConnectionCut,    // reset or broken while the body came
    CutShort,         // the body ended before its announced length
    Untrusted,        // the TLS certificate is not from an authority the machine trusts
    CertificateOtherHost,  // it is issued for another host
    CertificateDate,       // it has expired or is not yet valid (often: a wrong clock)
    CertificateRevoked,
    CertificateInvalid,    // any other certificate error
    Downgraded,       // an https URL redirected to plain http
    InvalidAnswer,    // no status line, not HTTP/1.x, or a length given twice or unreadable
    HashMismatch,     // the bytes are not those the pack was built with
    LocalFile,        // the file in the temporary folder could not be written
    DiskFull,         // the temporary folder's drive cannot take the announced length
    WebPage,          // a web page came instead of the file (a sign-in or error page)
    Cancelled,
    Other,
};

// Short English text for a failure, as the log writes it ("connection cut", ...).
const wchar_t* DescribeFailure(DownloadFailure failure);
// What the log's "Failed:" line says beyond DescribeFailure: the server's answer, the
// host asked for.
struct FailureDetails {
    DWORD httpStatus = 0;
    std::wstring statusText;  // "Not Found"
    std::wstring host;
    DWORD error = 0;  // WinINet's, when a call failed
};
// The reason of a download's "Failed: PATH - REASON" line.
std::wstring ExplainFailure(DownloadFailure failure, const FailureDetails& details);
// The failure a WinINet error stands for.
DownloadFailure FailureOf(DWORD error);
// Whether a try that ended so is followed by another.
bool IsRetried(DownloadFailure failure);

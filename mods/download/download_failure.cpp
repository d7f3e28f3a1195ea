#include "mods/download/download_failure.h"

#include <wininet.h>

const wchar_t* DescribeFailure(DownloadFailure failure)
{
    switch (failure) {
    case DownloadFailure::None: return L"no failure";
    case DownloadFailure::HttpStatus: return L"the server answered with an error";
    case DownloadFailure::NameNotResolved: return L"the host name does not resolve";
    case DownloadFailure::CouldNotConnect: return L"no connection to the server";
    case DownloadFailure::TimedOut: return L"no answer within the time-out";
    case DownloadFailure::ConnectionCut: return L"the connection was cut";
    case DownloadFailure::CutShort: return L"the body ended before its announced length";
    case DownloadFailure::Untrusted: return L"the server's certificate is not trusted";
    case DownloadFailure::Downgraded: return L"redirected from https to plain http";
    case DownloadFailure::InvalidAnswer: return L"the server's answer was not valid";
    case DownloadFailure::HashMismatch: return L"the SHA-256 does not match";
    case DownloadFailure::LocalFile: return L"the file could not be written";
    case DownloadFailure::DiskFull: return L"not enough free space on the temporary folder's drive";
    case DownloadFailure::WebPage: return L"the server sent a web page instead of the file";
    case DownloadFailure::Cancelled: return L"cancelled";
    case DownloadFailure::Other: break;
    }
    return L"the request failed";
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

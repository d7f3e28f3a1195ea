#include "mods/http_download.h"

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

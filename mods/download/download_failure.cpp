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
    case DownloadFailure::Untrusted:
        return L"the server's certificate is not from a trusted authority";
    case DownloadFailure::CertificateOtherHost:
        return L"the server's certificate is issued for another host";
    case DownloadFailure::CertificateDate:
        return L"the server's certificate has expired or is not yet valid; check the computer's "
               L"date and time";
    case DownloadFailure::CertificateRevoked: return L"the server's certificate has been revoked";
    case DownloadFailure::CertificateInvalid: return L"the server's certificate is not valid";
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

// For an administrator who looks the error up: " (ERROR_INTERNET_INVALID_CA)".
static std::wstring CertificateErrorName(DWORD error)
{
    switch (error) {
    case ERROR_INTERNET_INVALID_CA: return L" (ERROR_INTERNET_INVALID_CA)";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: return L" (ERROR_INTERNET_SEC_CERT_CN_INVALID)";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return L" (ERROR_INTERNET_SEC_CERT_DATE_INVALID)";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return L" (ERROR_INTERNET_SEC_CERT_REV_FAILED)";
    case ERROR_INTERNET_SEC_CERT_NO_REV: return L" (ERROR_INTERNET_SEC_CERT_NO_REV)";
    case ERROR_INTERNET_SEC_CERT_REVOKED: return L" (ERROR_INTERNET_SEC_CERT_REVOKED)";
    case ERROR_INTERNET_SEC_CERT_ERRORS: return L" (ERROR_INTERNET_SEC_CERT_ERRORS)";
    case ERROR_INTERNET_SEC_INVALID_CERT: return L" (ERROR_INTERNET_SEC_INVALID_CERT)";
    default: return L"";
    }
}

std::wstring ExplainFailure(DownloadFailure failure, const FailureDetails& details)
{
    switch (failure) {
    case DownloadFailure::HttpStatus:
        return L"the server answered " + std::to_wstring(details.httpStatus)
             + (details.statusText.empty() ? L"" : L" " + details.statusText);
    case DownloadFailure::NameNotResolved:
        return L"the host name " + details.host + L" does not resolve";
    case DownloadFailure::CertificateOtherHost:
        return L"the server's certificate is issued for another host than " + details.host
             + CertificateErrorName(details.error);
    case DownloadFailure::Untrusted:
        if (details.error == ERROR_INTERNET_SEC_CERT_REV_FAILED)
            return L"the server's certificate is not from a trusted authority, or its issuer "
                   L"could not be checked" + CertificateErrorName(details.error);
        [[fallthrough]];
    case DownloadFailure::CertificateDate:
    case DownloadFailure::CertificateRevoked:
    case DownloadFailure::CertificateInvalid:
        return DescribeFailure(failure) + CertificateErrorName(details.error);
    default:
        return DescribeFailure(failure);
    }
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
    // WinINet gives REV_FAILED too for a chain it cannot build: an issuer it does not
    // know, as when a server sends its certificate without the authority's.
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        return DownloadFailure::Untrusted;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
        return DownloadFailure::CertificateOtherHost;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
        return DownloadFailure::CertificateDate;
    case ERROR_INTERNET_SEC_CERT_REVOKED:
        return DownloadFailure::CertificateRevoked;
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
        return DownloadFailure::CertificateInvalid;
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

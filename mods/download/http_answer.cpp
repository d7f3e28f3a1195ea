#include "mods/download/http_answer.h"

#include <cwchar>
#include <cwctype>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

bool IsHttp1(const std::wstring& version)
{
    return version.size() == 8 && StartsWith(version, L"HTTP/1.") && iswdigit(version[7]);
}

// WinINet takes an answer that does not begin with a status line for an old HTTP/0.9
// one: it reports status 200 and version "HTTP/1.0" of its own making, no header field
// at all, and whatever came as the body. An HTTP/1.0 server that sends its status
// line and not a single header field looks the same, and is refused along with it.
bool LacksStatusLine(HINTERNET request, const std::wstring& version)
{
    std::wstring raw;
    if (version != L"HTTP/1.0" || !QueryHeaderText(request, HTTP_QUERY_RAW_HEADERS_CRLF, 0, raw))
        return false;
    size_t lineEnd = raw.find(L"\r\n");
    return lineEnd == std::wstring::npos
        || raw.find_first_not_of(L"\r\n", lineEnd) == std::wstring::npos;
}

std::wstring Trimmed(const std::wstring& text)
{
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

// HTTP treats conflicting or unreadable lengths as an error: which one would say
// where the body ends? A length given twice is refused even when both agree.
AnswerFault ReadLength(HINTERNET request, AnswerHead& head)
{
    std::wstring text, second;
    if (!QueryHeaderText(request, HTTP_QUERY_CONTENT_LENGTH, 0, text)) return AnswerFault::None;
    if (QueryHeaderText(request, HTTP_QUERY_CONTENT_LENGTH, 1, second))
        return AnswerFault::LengthRepeated;
    std::wstring number = Trimmed(text);
    const wchar_t* at = number.c_str();
    if (!ParseNumber(at, head.length) || *at != L'\0') return AnswerFault::LengthNotNumber;
    head.lengthAnnounced = true;
    return AnswerFault::None;
}

}  // namespace

bool QueryHeaderText(HINTERNET request, DWORD info, DWORD index, std::wstring& text)
{
    text.assign(256, L'\0');
    DWORD bytes = (DWORD)(text.size() * sizeof(wchar_t));
    DWORD at = index;
    if (!HttpQueryInfoW(request, info, &text[0], &bytes, &at)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            text.clear();
            return false;
        }
        text.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        at = index;
        if (!HttpQueryInfoW(request, info, &text[0], &bytes, &at)) {
            text.clear();
            return false;
        }
    }
    text.resize(bytes / sizeof(wchar_t));
    return true;
}

bool ParseNumber(const wchar_t*& at, uint64_t& number)
{
    if (!iswdigit(*at)) return false;
    number = 0;
    for (; iswdigit(*at); ++at) {
        uint64_t digit = (uint64_t)(*at - L'0');
        if (number > (UINT64_MAX - digit) / 10) return false;
        number = number * 10 + digit;
    }
    return true;
}

bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& total)
{
    if (!StartsWith(text, L"bytes ")) return false;
    const wchar_t* at = text.c_str() + 6;
    uint64_t last = 0;
    if (!ParseNumber(at, first) || *at++ != L'-' || !ParseNumber(at, last) || *at++ != L'/'
        || !ParseNumber(at, total))
        return false;
    return *at == L'\0' && first <= last && last < total;
}

AnswerFault ReadAnswerHead(HINTERNET request, AnswerHead& head)
{
    head = AnswerHead();
    std::wstring version;
    QueryHeaderText(request, HTTP_QUERY_VERSION, 0, version);
    if (!IsHttp1(version)) return AnswerFault::NotHttp1;
    if (LacksStatusLine(request, version)) return AnswerFault::NoStatusLine;
    return ReadLength(request, head);
}

const wchar_t* DescribeAnswerFault(AnswerFault fault)
{
    switch (fault) {
    case AnswerFault::None: return L"a valid answer";
    case AnswerFault::NoStatusLine: return L"no status line";
    case AnswerFault::NotHttp1: return L"not an HTTP/1.x status line";
    case AnswerFault::LengthRepeated: return L"Content-Length given more than once";
    case AnswerFault::LengthNotNumber: return L"Content-Length is not one 64-bit number";
    }
    return L"an unknown fault";
}

std::wstring QueryText(HINTERNET request, DWORD info)
{
    std::wstring text;
    QueryHeaderText(request, info, 0, text);
    return text;
}

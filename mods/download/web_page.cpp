#include "mods/download/web_page.h"

#include <cwctype>

namespace {

// White space a page may start with; past this many bytes of it, it is not a page.
constexpr size_t HeadBytesAtMost = 1024;
const char ByteOrderMark[] = "\xEF\xBB\xBF";
const char* const PageStarts[] = {"<!doctype html", "<html"};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}

// How text compares with the start of a page: it is one, it may become one with more
// bytes, or it cannot.
enum class Match { Page, Maybe, No };

Match MatchStart(const std::string& text, size_t from, const char* start)
{
    size_t i = 0;
    for (; start[i]; ++i) {
        if (from + i == text.size()) return Match::Maybe;
        if (Lower(text[from + i]) != start[i]) return Match::No;
    }
    return Match::Page;
}

Match Decide(const std::string& head)
{
    size_t at = 0;
    for (; at < 3 && at < head.size() && head[at] == ByteOrderMark[at]; ++at) {
    }
    if (at < 3 && at == head.size()) return Match::Maybe;  // part of a mark, or nothing yet
    if (at < 3) at = 0;
    while (at < head.size() && IsBlank(head[at])) ++at;
    if (at == head.size()) return Match::Maybe;
    Match result = Match::No;
    for (const char* start : PageStarts) {
        Match match = MatchStart(head, at, start);
        if (match == Match::Page) return Match::Page;
        if (match == Match::Maybe) result = Match::Maybe;
    }
    return result;
}

}  // namespace

bool IsWebPageType(const std::wstring& contentType)
{
    size_t begin = 0, end = contentType.find(L';');
    if (end == std::wstring::npos) end = contentType.size();
    while (begin < end && std::iswspace(contentType[begin])) ++begin;
    while (end > begin && std::iswspace(contentType[end - 1])) --end;
    std::wstring type;
    for (size_t i = begin; i < end; ++i) type += (wchar_t)std::towlower(contentType[i]);
    return type == L"text/html" || type == L"application/xhtml+xml";
}

bool SniffWebPage(WebPageSniffer& sniffer, const char* bytes, size_t count, bool atEnd)
{
    if (sniffer.decided) return sniffer.webPage;
    sniffer.head.append(bytes, count < HeadBytesAtMost ? count : HeadBytesAtMost);
    Match match = Decide(sniffer.head);
    if (match == Match::Maybe && !atEnd && sniffer.head.size() < HeadBytesAtMost) return false;
    sniffer.decided = true;
    sniffer.webPage = match == Match::Page;
    sniffer.head.clear();
    return sniffer.webPage;
}

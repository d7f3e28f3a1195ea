#include "mods/download/resume.h"

#include "mods/download/http_answer.h"

std::wstring RangeHeaders(const ResumePoint& resume)
{
    if (resume.from == 0) return std::wstring();
    return L"Range: bytes=" + std::to_wstring(resume.from) + L"-\r\nIf-Range: "
         + resume.validator + L"\r\n";
}

bool ContinuesResume(HINTERNET request, const ResumePoint& resume)
{
    uint64_t first = 0, total = 0;
    return ParseContentRange(QueryText(request, HTTP_QUERY_CONTENT_RANGE), first, total)
        && first == resume.from && total == resume.total;
}

std::wstring Validator(HINTERNET request)
{
    std::wstring etag = QueryText(request, HTTP_QUERY_ETAG);
    return etag.empty() ? QueryText(request, HTTP_QUERY_LAST_MODIFIED) : etag;
}

#pragma once
// Continuing a download from the bytes already on disk: the range request that asks
// for the rest of the very answer they came from, and the check that a 206 gives
// exactly that rest.
#include <windows.h>
#include <wininet.h>
#include <cstdint>
#include <string>

// Where a try starts: at zero, or after the bytes already on disk, asking for the rest
// of the answer they came from.
struct ResumePoint {
    uint64_t from = 0;
    uint64_t total = 0;      // that answer's length
    std::wstring validator;  // its ETag, else its Last-Modified
};

// The request headers of a try that starts at resume: none for a try from zero, else
// Range and If-Range.
std::wstring RangeHeaders(const ResumePoint& resume);
// Whether a 206's Content-Range starts where the bytes on disk end and is of the same
// whole.
bool ContinuesResume(HINTERNET request, const ResumePoint& resume);
// What a later range request names the answer by: its ETag, else its Last-Modified.
std::wstring Validator(HINTERNET request);

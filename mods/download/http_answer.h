#pragma once
// Reading the head of a server's answer: what must hold before its body may become a
// file, and the lengths and ranges it announces.
#include <windows.h>
#include <wininet.h>
#include <cstdint>
#include <string>

// Why an answer's head is not one a download may be taken from.
enum class AnswerFault {
    None,
    NoStatusLine,     // not an HTTP answer at all
    NotHttp1,         // a status line of another protocol or version
    LengthRepeated,   // Content-Length given more than once
    LengthNotNumber,  // Content-Length empty, signed, a list, or past 64 bits
};

struct AnswerHead {
    bool lengthAnnounced = false;
    uint64_t length = 0;
};

// The head's faults, else None with the announced length in head. Only the head is
// looked at; the status code is the caller's.
AnswerFault ReadAnswerHead(HINTERNET request, AnswerHead& head);

// Short English text for the log, as in "Content-Length given more than once".
const wchar_t* DescribeAnswerFault(AnswerFault fault);

// The text of the index-th header of that name (0: the first); false, with text
// empty, when the answer has no such header.
bool QueryHeaderText(HINTERNET request, DWORD info, DWORD index, std::wstring& text);
// The text of the first header of that name; empty when there is none.
std::wstring QueryText(HINTERNET request, DWORD info);

// Decimal digits only, into 64 bits; at moves past them. False when there are none or
// they do not fit.
bool ParseNumber(const wchar_t*& at, uint64_t& number);

// "bytes FIRST-LAST/TOTAL"
bool ParseContentRange(const std::wstring& text, uint64_t& first, uint64_t& total);

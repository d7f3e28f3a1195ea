#pragma once
// installer.log in the temporary folder: UTF-8 text with CR LF line ends, truncated
// at every run. Formats follow the wide printf family; write %ls for wide text and
// %hs for narrow text so that every C runtime reads them alike.

bool OpenInstallLog(const wchar_t* path);
void CloseInstallLog();
bool InstallLogIsOpen();
// The path the log was opened at; empty when none is open.
const wchar_t* InstallLogPath();
// Writes at most one line: a line feed may only end the text, and every other
// control character is written escaped (\x0D), like undecodable bytes in names.
void LogWrite(const wchar_t* format, ...);

#include <string>

// The log's bytes for a piece of wide text: UTF-8, each "\n" turned into "\r\n".
std::string EncodeLogText(const std::wstring& text);

// Counts a flush of a file to the disk (FlushFileBuffers). With INSTALLER_LOG_TIMES set,
// each write to the log starts with the time and the flushes so far: "[1712345678901.2 7] ".
void CountDiskFlush();
std::wstring EscapeControlCharacters(const std::wstring& text);

#pragma once
// One HTTP or HTTPS download into one local file, chunk by chunk, with progress
// counters the user-interface thread reads and a cancel flag it may raise. A
// connection that breaks, stalls or ends short is tried again, continuing from the
// bytes already on disk where the server allows it. This file holds the tries and
// what they report; a try's transfer thread, the file it writes and resuming have
// files of their own.
#include <windows.h>
#include <string>
#include <vector>

#include "mods/download/download_failure.h"
#include "mods/download/download_limits.h"

struct DownloadReport {
    DownloadFailure failure = DownloadFailure::None;
    DWORD httpStatus = 0;              // of the last answer
    std::vector<std::wstring> notes;   // lines for the log: retries, mismatches
    std::string sha256;  // of the bytes, lower-case hex, when they were hashed
};

// True only when the server answered 200 (or 206 to a resume) and the whole body is
// in the file: when the length was announced, exactly that many bytes, and when
// sha256Hex names a hash (64 hex digits), bytes with that SHA-256. Those bytes, or all
// bytes when hashBytes, are hashed as they arrive, on a thread of their own, into the
// report's sha256. Any failure removes the partial file. A first try that ends before
// writing (a status other than 200, an announced length the drive has no room for)
// leaves any older file of that name untouched. bytesTotal is 0 when no length was
// announced.
bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, ByteCounter& bytesReceived,
                        ByteCounter& bytesTotal, const Counter& cancelRequested,
                        const char* sha256Hex = nullptr, DownloadReport* report = nullptr,
                        bool hashBytes = false);

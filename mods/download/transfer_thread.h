#pragma once
// One try of a download, run on a thread of its own so that the caller can stop
// waiting for it whatever WinINet is blocked in: the request, the answer's head, and
// the body read into the local file. The tries around it are HttpDownloadToFile's.
#include "mods/download/transfer.h"

// Starts a try on a thread of its own; thread is null when none could be started, and
// the transfer's end then says so.
std::shared_ptr<Transfer> StartTry(const UrlParts& url, const wchar_t* localPath,
                                   const ResumePoint& resume, BackgroundSha256* hash, bool cancel,
                                   HANDLE& thread);
// Waits for the try while moving the caller's counters; a try that shows no sign of
// life for the time-out, or goes on past a cancel's grace, is given up.
TryEnd WaitForTransfer(HANDLE thread, Transfer& t, ByteCounter& bytesReceived,
                       ByteCounter& bytesTotal, const Counter& cancelRequested);

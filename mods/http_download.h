#pragma once
// One HTTP or HTTPS GET into one local file, chunk by chunk, with progress counters
// the user-interface thread reads and a cancel flag it may raise.
#include <windows.h>
#include <atomic>
#include <cstdint>

using Counter = std::atomic<uint32_t>;

// Connect, send and receive time-outs, so that a stalled server cannot hold the
// wizard for ever. A transfer that shows no sign of life for this long plus
// StallMarginMs is given up, whatever WinINet is blocked in.
extern DWORD HttpTimeoutMs;
constexpr DWORD StallMarginMs = 2000;
// After a confirmed cancel no transfer is waited for longer than this.
constexpr DWORD CancelGraceMs = 1000;

// True only when the server answered 200 and the whole body is in the file: when
// the length was announced, exactly that many bytes. Any failure after the file was
// created (a failed read, a cut connection, a failed or short write, the cancel
// flag, a stall) removes the partial file. A status other than 200 leaves any older
// file of that name untouched. bytesTotal is 0 when no length was announced.
bool HttpDownloadToFile(const wchar_t* url, const wchar_t* localPath, Counter& bytesReceived,
                        Counter& bytesTotal, const Counter& cancelRequested);

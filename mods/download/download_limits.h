#pragma once
// How long a download waits and how often it tries, and the counters it moves for the
// page that shows it: shared by the tries and the transfer thread of each.
#include <windows.h>
#include <atomic>
#include <cstdint>

using Counter = std::atomic<uint32_t>;
using ByteCounter = std::atomic<uint64_t>;

// Connect, send and receive time-outs, so that a stalled server cannot hold the
// wizard for ever. A transfer that shows no sign of life for this long plus
// StallMarginMs is given up, whatever WinINet is blocked in.
extern DWORD HttpTimeoutMs;
constexpr DWORD StallMarginMs = 2000;
// After a confirmed cancel no transfer is waited for longer than this.
constexpr DWORD CancelGraceMs = 1000;
// The first try and three more, after 1, 2 and 4 units (a unit is a second; test
// builds shorten it).
constexpr int DownloadTries = 4;
extern DWORD RetryDelayUnitMs;

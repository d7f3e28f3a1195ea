#pragma once
// Free space on a drive, and the rule a download follows before it writes: finding a
// drive too small before anything is written to it, rather than file by file once it
// is full. Installing has its own rule on top of these (mods/install/room_to_install).
#include <string>

// Free bytes this user may write on the drive that holds folder (quotas included).
// False when the system cannot say.
bool FreeBytesFor(const std::wstring& folder, unsigned long long& free);

// True when the drive of a download's path can take the file growing to finalSize:
// the bytes a file of that name holds now are kept by a resume and given back by a
// fresh start, so only the difference must be free. Otherwise refusal is the log
// line that says so, with both figures.
bool RoomToDownload(const std::wstring& path, unsigned long long finalSize,
                    std::wstring& refusal);

// A file's size, 0 when it cannot be read.
unsigned long long FileSizeOf(const std::wstring& path);
// A figure for the log with its thousands grouped: 1,048,576.
std::wstring GroupedDigits(unsigned long long value);

#pragma once
// Finding a drive too small before anything is written to it, rather than file by
// file once it is full.
#include <string>

// Free bytes this user may write on the drive that holds folder (quotas included).
// False when the system cannot say.
bool FreeBytesFor(const std::wstring& folder, unsigned long long& free);

// What installing a download writes into the game folder: for an archive, the sizes of
// the entries it installs (a file replaced in place needs its new size while the old
// one still exists); for a package, its size unless it is moved there on one volume;
// and the installer's copy kept with the install record the first time.
unsigned long long BytesToInstall(const std::wstring& downloadPath, bool isArchive,
                                  const std::wstring& gameFolder);

// True when the game folder's drive can take the download; otherwise logs both
// figures against the download and returns false.
bool RoomToInstall(const std::wstring& downloadPath, bool isArchive,
                   const std::wstring& gameFolder);

// True when the drive of a download's path can take the file growing to finalSize:
// the bytes a file of that name holds now are kept by a resume and given back by a
// fresh start, so only the difference must be free. Otherwise refusal is the log
// line that says so, with both figures.
bool RoomToDownload(const std::wstring& path, unsigned long long finalSize,
                    std::wstring& refusal);

#pragma once
// Whether the game folder's drive can take what installing a download writes, checked
// before the first file is placed, so that a full drive stops an install before it
// starts rather than half-way through.
#include <string>

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

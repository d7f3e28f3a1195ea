#pragma once
// The rules on paths inside a game folder that installing and uninstalling both
// follow: a name from an archive or a record may only ever lead to a place inside the
// game folder, whatever its dots, drive letters or case.
#include <string>

// True when a relative entry path cannot leave the folder it is joined to: not
// absolute, no drive, UNC or device prefix, no ".." component, no ":".
bool IsSafeRelativePath(const std::wstring& name);
// True when path, made absolute and normalised, lies inside folder.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

// Made absolute as a folder: a game folder at a drive root is kept as "D:", which
// alone would mean the current folder of drive D. Ends in a backslash; empty when the
// folder cannot be made absolute.
std::wstring FullFolder(const std::wstring& folder);
// Whether an absolute, normalised path lies inside an absolute folder that ends in a
// backslash (as FullFolder gives it), in any case of letters.
bool IsInsideFullFolder(const std::wstring& fullPath, const std::wstring& fullFolder);

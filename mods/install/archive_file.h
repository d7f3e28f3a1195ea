#pragma once
// Reading a zip archive for minizip through a few large reads. minizip reads its
// headers a byte at a time, and each byte read straight from the file is a call into
// the system: about 250 calls an entry, which cost more than inflating the entry.
#include <minizip/unzip.h>

// Opens the archive by its wide path (an ANSI path fails for any folder outside the
// code page, such as the temporary folder of a Japanese user name), read-only, with
// reads served from two cached blocks of the file. Null when it cannot be opened or
// is not a zip archive.
unzFile OpenArchiveForReading(const wchar_t* path);

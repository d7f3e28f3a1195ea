#pragma once
// Reading a zip archive's entries: their names, decoded from UTF-8 or Shift_JIS, and
// which of them are installed. Kept apart from the placing of files, so that counting
// and the free-space check read entries exactly as the installer does.
#include <minizip/unzip.h>

#include <string>

constexpr unsigned NameBytes = 512;
constexpr uLong Utf8NameFlag = 1u << 11;

struct ArchiveEntry {
    unz_file_info64 info;
    char name[NameBytes];  // as stored, with "/" turned into "\\"
    bool nameTooLong;
};

// The current entry's header. False when the archive's directory cannot be read.
bool ReadEntry(unzFile archive, ArchiveEntry& entry);
// Whether the entry's method is one minizip reads faithfully: stored or deflated.
bool IsReadableMethod(const ArchiveEntry& entry);
// Opens the current entry's data; false for a method minizip cannot read faithfully.
bool OpenEntryData(unzFile archive, const ArchiveEntry& entry);
bool EntryIsDirectory(const ArchiveEntry& entry);
// minizip cannot open an archive whose end record is all there is, yet that is a
// valid empty zip.
bool IsEmptyZip(const wchar_t* path);
// A name for the log, with bytes that are not printable ASCII escaped.
std::wstring EscapedName(const char* name);

// File entries that can be opened, stopping at the first that cannot; 0 for a file
// that is not a zip archive.
int CountArchiveFiles(const wchar_t* archivePath);

// Rules on one entry name, as stored in the archive with "/" already turned into
// "\\". Exposed for the tests.
bool IsDirectoryEntry(const char* name, bool nameIsUtf8);
bool IsSelectedEntry(const char* name);
// The wide form of a stored name: UTF-8 when flagged or valid as such, otherwise
// strict Shift_JIS. False when neither decodes.
bool DecodeEntryName(const char* name, bool utf8Flag, std::wstring& wide, bool& wasUtf8);

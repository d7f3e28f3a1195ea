#include "mods/install/archive_entries.h"

#include <windows.h>
#include <cstring>

#include "app/long_path.h"
#include "mods/install/archive_file.h"

namespace {

bool IsShiftJisLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool EndsInShiftJisSecondByte(const char* name, size_t length)
{
    size_t i = 0;
    while (i + 1 < length) {
        if (!IsShiftJisLeadByte((unsigned char)name[i])) {
            ++i;
        } else if (i + 2 == length) {
            return true;
        } else {
            i += 2;
        }
    }
    return false;
}

bool Decode(UINT codePage, const char* name, std::wstring& wide)
{
    int length = (int)std::strlen(name);
    if (length == 0) {
        wide.clear();
        return true;
    }
    int chars = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name, length, nullptr, 0);
    if (chars <= 0) return false;
    wide.assign(chars, L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, name, length, &wide[0], chars);
    return true;
}

}  // namespace

bool ReadEntry(unzFile archive, ArchiveEntry& entry)
{
    if (unzGetCurrentFileInfo64(archive, &entry.info, entry.name, NameBytes, nullptr, 0, nullptr,
                                0) != UNZ_OK)
        return false;
    entry.nameTooLong = entry.info.size_filename >= NameBytes;
    entry.name[entry.nameTooLong ? NameBytes - 1 : entry.info.size_filename] = '\0';
    for (char* c = entry.name; *c; ++c)
        if (*c == '/') *c = '\\';
    return true;
}

// Without bzip2 support minizip hands back a bzip2 entry's raw bytes as if they
// were its data, so only stored and deflated entries are opened at all.
bool IsReadableMethod(const ArchiveEntry& entry)
{
    return entry.info.compression_method == 0 || entry.info.compression_method == Z_DEFLATED;
}

bool OpenEntryData(unzFile archive, const ArchiveEntry& entry)
{
    return IsReadableMethod(entry) && unzOpenCurrentFile(archive) == UNZ_OK;
}

bool EntryIsDirectory(const ArchiveEntry& entry)
{
    std::wstring unused;
    bool utf8 = false;
    DecodeEntryName(entry.name, (entry.info.flag & Utf8NameFlag) != 0, unused, utf8);
    return IsDirectoryEntry(entry.name, utf8);
}

// minizip cannot open an archive whose end record is all there is (it takes the
// record found at offset 0 for no record at all), yet that is a valid empty zip.
bool IsEmptyZip(const wchar_t* path)
{
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char record[22];
    DWORD read = 0;
    bool empty = ReadFile(file, record, sizeof record, &read, nullptr) && read == sizeof record
              && GetFileSize(file, nullptr) == 22 + (DWORD)(record[20] | record[21] << 8)
              && std::memcmp(record, "PK\5\6", 4) == 0
              && (record[8] | record[9] | record[10] | record[11]) == 0;
    CloseHandle(file);
    return empty;
}

// Bytes of a name that is not text are shown escaped, so the log stays readable.
std::wstring EscapedName(const char* name)
{
    std::wstring text;
    for (const unsigned char* c = (const unsigned char*)name; *c; ++c) {
        if (*c >= 0x20 && *c < 0x7F) {
            text += (wchar_t)*c;
        } else {
            wchar_t hex[8];
            wsprintfW(hex, L"\\x%02X", *c);
            text += hex;
        }
    }
    return text;
}

bool IsDirectoryEntry(const char* name, bool nameIsUtf8)
{
    size_t length = std::strlen(name);
    if (length < 2 || name[length - 1] != '\\') return false;
    // In Shift_JIS 0x5C can be the second byte of a character such as "ソ", and a
    // second byte can look like a first one, so the name is read from its start.
    return nameIsUtf8 || !EndsInShiftJisSecondByte(name, length);
}

bool IsSelectedEntry(const char* name)
{
    return std::strstr(name, "res_mods") || std::strstr(name, "mods");
}

bool DecodeEntryName(const char* name, bool utf8Flag, std::wstring& wide, bool& wasUtf8)
{
    wasUtf8 = Decode(CP_UTF8, name, wide);
    if (wasUtf8) return true;
    if (utf8Flag) return false;  // flagged as UTF-8 but is not: nothing to trust
    return Decode(932, name, wide);
}


int CountArchiveFiles(const wchar_t* archivePath)
{
    unzFile archive = OpenArchiveForReading(archivePath);
    if (!archive) return 0;  // also right for an empty archive
    // Counted from the central directory alone: opening each entry would read the
    // whole archive once more. An installed entry that cannot be read ends the count, as
    // it keeps the archive out; one left out by the rule is never read.
    int count = 0;
    ArchiveEntry entry;
    while (ReadEntry(archive, entry)) {
        if (!EntryIsDirectory(entry)) {
            bool readable = IsReadableMethod(entry);
            if (!readable && IsSelectedEntry(entry.name)) break;
            if (readable) ++count;
        }
        if (unzGoToNextFile(archive) == UNZ_END_OF_LIST_OF_FILE) break;
    }
    unzClose(archive);
    return count;
}

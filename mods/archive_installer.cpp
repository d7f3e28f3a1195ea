#include "mods/archive_installer.h"

#include <windows.h>
#include <shlobj.h>
#include <cstring>

#include <minizip/unzip.h>
#include <minizip/iowin32.h>  // needs unzip.h's file function types first

#include "app/install_log.h"
#include "mods/file_replace.h"
#include "mods/install_progress.h"
#include "mods/worker_pause.h"

namespace {

constexpr unsigned NameBytes = 512;
constexpr unsigned CopyBytes = 8192;
constexpr int PathChars = 256;
constexpr uLong Utf8NameFlag = 1u << 11;

// Opened by wide path: an ANSI path fails for any folder outside the code page,
// such as the temporary folder of a Japanese user name.
unzFile OpenArchive(const wchar_t* path)
{
    zlib_filefunc64_def files;
    fill_win32_filefunc64W(&files);
    return unzOpen2_64(path, &files);
}

struct Entry {
    unz_file_info64 info;
    char name[NameBytes];
    bool nameTooLong;
};

bool ReadEntry(unzFile archive, Entry& entry)
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
bool OpenEntryData(unzFile archive, const Entry& entry)
{
    if (entry.info.compression_method != 0 && entry.info.compression_method != Z_DEFLATED)
        return false;
    return unzOpenCurrentFile(archive) == UNZ_OK;
}

bool EntryIsDirectory(const Entry& entry)
{
    std::wstring unused;
    bool utf8 = false;
    DecodeEntryName(entry.name, (entry.info.flag & Utf8NameFlag) != 0, unused, utf8);
    return IsDirectoryEntry(entry.name, utf8);
}

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

// minizip cannot open an archive whose end record is all there is (it takes the
// record found at offset 0 for no record at all), yet that is a valid empty zip.
bool IsEmptyZip(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
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

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[PathChars];
    DWORD length = GetFullPathNameW(path.c_str(), PathChars, full, nullptr);
    return length > 0 && length < PathChars ? std::wstring(full, length) : std::wstring();
}

std::wstring ParentFolder(const std::wstring& fullPath)
{
    size_t cut = fullPath.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : fullPath.substr(0, cut + 1);
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

enum class CopyResult { Done, DataError, WriteError };

CopyResult CopyEntryData(unzFile archive, FileReplace& replace)
{
    static char buffer[CopyBytes];  // one worker thread extracts at a time
    for (;;) {
        int read = unzReadCurrentFile(archive, buffer, CopyBytes);
        if (read < 0) return CopyResult::DataError;
        if (read == 0) return CopyResult::Done;
        if (!WriteReplace(replace, buffer, (DWORD)read)) return CopyResult::WriteError;
    }
}

// Writes one selected entry beside its destination and moves it into place only when
// it is whole and its checksum holds; false when it did not end up installed. An
// existing destination keeps its old contents on every failure.
bool ExtractEntry(unzFile archive, const Entry& entry, const std::wstring& destination,
                  InstallCounters& progress)
{
    LogWrite(L"Installing: %ls\n", destination.c_str());
    std::wstring full = FullPath(destination);
    WaitWhileWorkersPaused();
    SHCreateDirectoryExW(nullptr, ParentFolder(full).c_str(), nullptr);
    SetCurrentFile(progress, destination.c_str());

    FileReplace replace;
    if (!BeginReplace(destination, replace)) {
        AbortReplace(replace);
        LogWrite(L"Failed: %ls - the file could not be created\n", destination.c_str());
        return false;
    }
    CopyResult copied = CopyEntryData(archive, replace);
    // The checksum is known only once the whole entry has been read.
    if (unzCloseCurrentFile(archive) == UNZ_CRCERROR && copied == CopyResult::Done)
        copied = CopyResult::DataError;
    if (copied != CopyResult::Done) {
        AbortReplace(replace);
    } else {
        switch (CommitReplace(replace, entry.info.uncompressed_size)) {
        case CommitResult::Done:
            return true;
        case CommitResult::WrongSize:
            copied = CopyResult::DataError;
            break;
        case CommitResult::NotMoved:
            LogNotReplaced(destination);
            return false;
        }
    }
    LogWrite(copied == CopyResult::DataError ? L"Failed: %ls - damaged data in the archive\n"
                                             : L"Failed: %ls - the file could not be written\n",
             destination.c_str());
    return false;
}

// Decides where a selected entry goes. False, with the reason logged, for a name
// that must not be installed.
bool DestinationFor(const Entry& entry, const std::wstring& gameFolder, std::wstring& destination)
{
    if (entry.nameTooLong) {
        LogWrite(L"Skipped: %ls... - the entry name is too long\n", EscapedName(entry.name).c_str());
        return false;
    }
    std::wstring wide;
    bool utf8 = false;
    if (!DecodeEntryName(entry.name, (entry.info.flag & Utf8NameFlag) != 0, wide, utf8)) {
        LogWrite(L"Skipped: %ls - the entry name is neither UTF-8 nor Shift_JIS\n",
                 EscapedName(entry.name).c_str());
        return false;
    }
    destination = gameFolder + L"\\" + wide;
    bool safe = IsSafeRelativePath(wide);
    if (safe && destination.size() >= (size_t)PathChars) {
        LogWrite(L"Skipped: %ls - the path is too long\n", destination.c_str());
        return false;
    }
    if (!safe || !IsInsideFolder(destination, gameFolder)) {
        LogWrite(L"Refused: %ls - the entry would be written outside the game folder\n",
                 wide.c_str());
        return false;
    }
    return true;
}

}  // namespace

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

bool IsSafeRelativePath(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/') return false;
    if (name.find(L':') != std::wstring::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of(L"\\/", start);
        std::wstring part = name.substr(start, end == std::wstring::npos ? end : end - start);
        // Windows drops trailing dots and blanks, so "..." and ". ." may act as "..".
        if (part.size() >= 2 && part.find_first_not_of(L". ") == std::wstring::npos)
            return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder)
{
    std::wstring fullPath = FullPath(path);
    // Made absolute as a folder: a game folder at a drive root is kept as "D:", which
    // alone would mean the current folder of drive D.
    std::wstring fullFolder = FullPath(folder + L"\\");
    if (fullPath.empty() || fullFolder.empty()) return false;
    if (fullFolder.back() != L'\\') fullFolder += L'\\';
    return fullPath.size() > fullFolder.size()
        && CompareStringOrdinal(fullPath.c_str(), (int)fullFolder.size(), fullFolder.c_str(),
                                (int)fullFolder.size(), TRUE) == CSTR_EQUAL;
}

int CountArchiveFiles(const wchar_t* archivePath)
{
    unzFile archive = OpenArchive(archivePath);
    if (!archive) return 0;  // also right for an empty archive
    int count = 0;
    Entry entry;
    while (ReadEntry(archive, entry)) {
        if (!EntryIsDirectory(entry)) {
            if (!OpenEntryData(archive, entry)) break;
            unzCloseCurrentFile(archive);
            ++count;
        }
        if (unzGoToNextFile(archive) == UNZ_END_OF_LIST_OF_FILE) break;
    }
    unzClose(archive);
    return count;
}

bool ArchiveInstaller(const wchar_t* archivePath, const wchar_t* gameFolder,
                      InstallCounters& progress)
{
    unzFile archive = OpenArchive(archivePath);
    if (!archive && IsEmptyZip(archivePath)) return true;
    if (!archive) {
        LogWrite(L"Failed: %ls - not a readable zip archive\n", archivePath);
        return false;
    }
    bool allInstalled = true;
    Entry entry;
    for (;;) {
        if (!ReadEntry(archive, entry)) {
            LogWrite(L"Failed: %ls - the archive's directory is damaged\n", archivePath);
            allInstalled = false;
            break;
        }
        if (!EntryIsDirectory(entry)) {
            if (!OpenEntryData(archive, entry)) {
                LogWrite(L"Failed: %ls - an entry cannot be read (method %d); the rest of the "
                         L"archive is not installed\n",
                         archivePath, (int)entry.info.compression_method);
                allInstalled = false;
                break;
            }
            std::wstring destination;
            if (IsSelectedEntry(entry.name)) {
                if (DestinationFor(entry, gameFolder, destination)) {
                    if (!ExtractEntry(archive, entry, destination, progress)) allInstalled = false;
                    progress.filesInstalled.fetch_add(1);
                } else {
                    allInstalled = false;
                }
            }
        }
        if (unzGoToNextFile(archive) == UNZ_END_OF_LIST_OF_FILE) break;
    }
    unzClose(archive);
    return allInstalled;
}

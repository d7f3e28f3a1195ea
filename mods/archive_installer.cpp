#include "mods/archive_installer.h"

#include <windows.h>
#include <cstring>

#include <unordered_set>

#include <minizip/unzip.h>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/archive_file.h"
#include "mods/file_replace.h"
#include "mods/install_progress.h"
#include "mods/recorded_install.h"
#include "mods/worker_pause.h"
#include "mods/write_pool.h"

namespace {

constexpr unsigned NameBytes = 512;
// Most entries of a mod are smaller than this, and are written with one call.
constexpr unsigned CopyBytes = 1024 * 1024;
constexpr uLong Utf8NameFlag = 1u << 11;

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
bool IsReadableMethod(const Entry& entry)
{
    return entry.info.compression_method == 0 || entry.info.compression_method == Z_DEFLATED;
}

bool OpenEntryData(unzFile archive, const Entry& entry)
{
    return IsReadableMethod(entry) && unzOpenCurrentFile(archive) == UNZ_OK;
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

// Made absolute as a folder: a game folder at a drive root is kept as "D:", which
// alone would mean the current folder of drive D. Ends in a backslash; empty when the
// folder cannot be made absolute.
std::wstring FullFolder(const std::wstring& folder)
{
    std::wstring full = FullPathOf(folder + L"\\");
    if (!full.empty() && full.back() != L'\\') full += L'\\';
    return full;
}

bool IsInsideFullFolder(const std::wstring& fullPath, const std::wstring& fullFolder)
{
    return !fullPath.empty() && !fullFolder.empty() && fullPath.size() > fullFolder.size()
        && CompareStringOrdinal(fullPath.c_str(), (int)fullFolder.size(), fullFolder.c_str(),
                                (int)fullFolder.size(), TRUE) == CSTR_EQUAL;
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

// Entries up to this size are read whole into a slot and written by the pool; larger
// ones are streamed to disk by the walk itself.
constexpr unsigned long long SlotBytes = 1024 * 1024;
// Under Wine each file's own system calls keep a writer busy while the wine server idles:
// a second one took a tenth off a large install; the wizard answered in 13 ms at p99.
constexpr int Writers = 2;
constexpr int Slots = 4;

// The log line for an entry that did not end up installed; nothing for one that did.
void LogEntryOutcome(const std::wstring& destination, WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::Written:
        return;
    case WriteOutcome::NotCreated:
        LogWrite(L"Failed: %ls - the file could not be created\n", destination.c_str());
        return;
    case WriteOutcome::NotWritten:
        LogWrite(L"Failed: %ls - the file could not be written\n", destination.c_str());
        return;
    case WriteOutcome::DamagedData:
        LogWrite(L"Failed: %ls - damaged data in the archive\n", destination.c_str());
        return;
    case WriteOutcome::NotMoved:
        LogNotReplaced(destination);
        return;
    }
}

// One walk over one archive.
struct ArchiveRun {
    unzFile archive;
    std::wstring gameFolder;
    std::wstring fullGameFolder;  // absolute, normalised, ending in a backslash
    InstallCounters& progress;
    WritePool* pool;
    bool allInstalled;
    // Each folder is made once: asking the system for a folder that exists costs as
    // much as writing a small file.
    std::unordered_set<std::wstring> foldersMade;
};

void MakeFolderOnce(ArchiveRun& run, const std::wstring& folder)
{
    if (run.foldersMade.count(folder)) return;
    WaitWhileWorkersPaused();
    CreateFolderRecorded(folder);
    run.foldersMade.insert(folder);
}

// Every selected entry moves the count, installed or not.
void NoteEntryOutcome(ArchiveRun& run, WriteOutcome outcome)
{
    if (outcome != WriteOutcome::Written) {
        run.allInstalled = false;
        run.progress.filesFailed.fetch_add(1);
    }
    run.progress.filesInstalled.fetch_add(1);
}

// An entry the pool has finished with is logged and counted here, in archive order.
void EntryDone(ArchiveRun& run, const std::wstring& destination, WriteOutcome outcome)
{
    LogWrite(L"Installing: %ls\n", destination.c_str());
    LogEntryOutcome(destination, outcome);
    NoteEntryOutcome(run, outcome);
}

RetireJob Retire(ArchiveRun& run)
{
    return [&run](WriteJob& job) { EntryDone(run, job.destination, job.outcome); };
}

// Anything the walk logs itself comes after the lines of every entry before it.
void FinishQueuedEntries(ArchiveRun& run)
{
    RetireFinished(run.pool, true, Retire(run));
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

// Reads a whole entry into bytes; false when its data is damaged or longer than it
// claims. The checksum is known only once the whole entry has been read.
bool ReadWholeEntry(unzFile archive, const Entry& entry, std::vector<char>& bytes)
{
    bytes.resize((size_t)entry.info.uncompressed_size + 1);
    size_t filled = 0;
    bool whole = true;
    for (;;) {
        int read = unzReadCurrentFile(archive, bytes.data() + filled,
                                      (unsigned)(bytes.size() - filled));
        if (read < 0) whole = false;
        if (read <= 0) break;
        filled += (size_t)read;
        if (filled == bytes.size()) {  // more than the entry's stated size
            whole = false;
            break;
        }
    }
    bytes.resize(filled);
    return unzCloseCurrentFile(archive) != UNZ_CRCERROR && whole
        && filled == entry.info.uncompressed_size;
}

// Reads a small selected entry and hands it to the pool.
void QueueEntry(ArchiveRun& run, const Entry& entry, const std::wstring& destination,
                const std::wstring& fullDestination)
{
    if (IsBeingWritten(run.pool, destination)) FinishQueuedEntries(run);
    WriteJob& job = NextFreeSlot(run.pool, Retire(run));
    SetCurrentFile(run.progress, destination.c_str());
    MakeFolderOnce(run, ParentFolder(fullDestination));
    job.destination = destination;
    job.expectedSize = entry.info.uncompressed_size;
    if (!ReadWholeEntry(run.archive, entry, job.bytes)) {
        job.needsWrite = false;
        job.outcome = WriteOutcome::DamagedData;
    }
    SubmitJob(run.pool);
}

// Streams one large selected entry beside its destination and moves it into place
// only when it is whole and its checksum holds. An existing destination keeps its
// old contents on every failure.
void ExtractLargeEntry(ArchiveRun& run, const Entry& entry, const std::wstring& destination,
                       const std::wstring& fullDestination)
{
    FinishQueuedEntries(run);
    unzFile archive = run.archive;
    LogWrite(L"Installing: %ls\n", destination.c_str());
    MakeFolderOnce(run, ParentFolder(fullDestination));
    SetCurrentFile(run.progress, destination.c_str());

    WriteOutcome outcome = WriteOutcome::Written;
    FileReplace replace;
    if (!BeginReplace(destination, replace)) {
        AbortReplace(replace);
        outcome = WriteOutcome::NotCreated;
    } else {
        CopyResult copied = CopyEntryData(archive, replace);
        if (unzCloseCurrentFile(archive) == UNZ_CRCERROR && copied == CopyResult::Done)
            copied = CopyResult::DataError;
        if (copied != CopyResult::Done) {
            AbortReplace(replace);
            outcome = copied == CopyResult::DataError ? WriteOutcome::DamagedData
                                                      : WriteOutcome::NotWritten;
        } else {
            outcome = OutcomeOfCommit(CommitReplace(replace, entry.info.uncompressed_size));
        }
    }
    LogEntryOutcome(destination, outcome);
    NoteEntryOutcome(run, outcome);
}

void InstallEntry(ArchiveRun& run, const Entry& entry, const std::wstring& destination,
                  const std::wstring& fullDestination)
{
    if (entry.info.uncompressed_size <= SlotBytes)
        QueueEntry(run, entry, destination, fullDestination);
    else
        ExtractLargeEntry(run, entry, destination, fullDestination);
}

// Decides where a selected entry goes. False, with the reason logged, for a name
// that must not be installed.
bool DestinationFor(ArchiveRun& run, const Entry& entry, std::wstring& destination,
                    std::wstring& fullDestination)
{
    if (entry.nameTooLong) {
        FinishQueuedEntries(run);
        LogWrite(L"Skipped: %ls... - the entry name is too long\n", EscapedName(entry.name).c_str());
        return false;
    }
    std::wstring wide;
    bool utf8 = false;
    if (!DecodeEntryName(entry.name, (entry.info.flag & Utf8NameFlag) != 0, wide, utf8)) {
        FinishQueuedEntries(run);
        LogWrite(L"Skipped: %ls - the entry name is neither UTF-8 nor Shift_JIS\n",
                 EscapedName(entry.name).c_str());
        return false;
    }
    destination = run.gameFolder + L"\\" + wide;
    bool safe = IsSafeRelativePath(wide);
    if (safe) fullDestination = FullPathOf(destination);
    if (!safe || !IsInsideFullFolder(fullDestination, run.fullGameFolder)) {
        FinishQueuedEntries(run);
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
    return IsInsideFullFolder(FullPathOf(path), FullFolder(folder));
}

int CountArchiveFiles(const wchar_t* archivePath)
{
    unzFile archive = OpenArchiveForReading(archivePath);
    if (!archive) return 0;  // also right for an empty archive
    // Counted from the central directory alone: opening each entry would read the
    // whole archive once more. An entry that cannot be read ends the count, as it
    // ends the installation.
    int count = 0;
    Entry entry;
    while (ReadEntry(archive, entry)) {
        if (!EntryIsDirectory(entry)) {
            if (!IsReadableMethod(entry)) break;
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
    unzFile archive = OpenArchiveForReading(archivePath);
    if (!archive && IsEmptyZip(archivePath)) return true;
    if (!archive) {
        LogWrite(L"Failed: %ls - not a readable zip archive\n", archivePath);
        return false;
    }
    ArchiveRun run{archive, gameFolder, FullFolder(gameFolder), progress,
                   StartWritePool(Writers, Slots), true, {}};
    Entry entry;
    for (;;) {
        if (!ReadEntry(archive, entry)) {
            FinishQueuedEntries(run);
            LogWrite(L"Failed: %ls - the archive's directory is damaged\n", archivePath);
            run.allInstalled = false;
            break;
        }
        if (!EntryIsDirectory(entry)) {
            if (!OpenEntryData(archive, entry)) {
                FinishQueuedEntries(run);
                LogWrite(L"Failed: %ls - an entry cannot be read (method %d); the rest of the "
                         L"archive is not installed\n",
                         archivePath, (int)entry.info.compression_method);
                run.allInstalled = false;
                break;
            }
            std::wstring destination, fullDestination;
            if (IsSelectedEntry(entry.name)) {
                if (DestinationFor(run, entry, destination, fullDestination)) {
                    InstallEntry(run, entry, destination, fullDestination);
                } else {
                    run.allInstalled = false;
                    progress.filesFailed.fetch_add(1);
                }
            }
        }
        if (unzGoToNextFile(archive) == UNZ_END_OF_LIST_OF_FILE) break;
    }
    FinishQueuedEntries(run);
    StopWritePool(run.pool);
    unzClose(archive);
    return run.allInstalled;
}

#include "mods/install/archive_installer.h"

#include <windows.h>
#include <cstring>

#include <unordered_set>

#include <minizip/unzip.h>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/game_path.h"
#include "mods/install/archive_entries.h"
#include "mods/install/archive_file.h"
#include "mods/install/archive_plan.h"
#include "mods/install/file_replace.h"
#include "mods/install/held_files_check.h"
#include "mods/install/install_progress.h"
#include "mods/install/write_pool.h"
#include "mods/journal.h"
#include "mods/record/recorded_install.h"
#include "mods/worker_pause.h"

namespace {

// Most entries of a mod are smaller than this, and are written with one call.
constexpr unsigned CopyBytes = 1024 * 1024;

std::wstring ParentFolder(const std::wstring& fullPath)
{
    size_t cut = fullPath.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : fullPath.substr(0, cut + 1);
}

// Entries up to this size are read whole into a slot and written by the pool; larger
// ones are streamed to disk by the walk itself.
constexpr unsigned long long SlotBytes = 1024 * 1024;
// Under Wine each file's own system calls keep a writer busy while the wine server idles:
// a second one took a tenth off a large install; the wizard answered in 13 ms at p99.
constexpr int Writers = 2;
// The files handed to the writers at once, their lines in the record flushed with one
// call before them: under Wine a flush costs about half a millisecond, a small file one.
// Twice as many slots let the walk fill a batch while the writers place the last one.
constexpr size_t BatchJobs = 64;
constexpr size_t BatchBytes = 4 << 20;
constexpr int Slots = 2 * BatchJobs;

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
    case WriteOutcome::InUse:
        LogInUse(destination);
        return;
    }
}

InstallFailure FailureOf(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::Written: return InstallFailure::None;
    case WriteOutcome::DamagedData: return InstallFailure::DamagedData;
    case WriteOutcome::NotMoved: return InstallFailure::NotReplaced;
    case WriteOutcome::InUse: return InstallFailure::InUse;
    case WriteOutcome::NotCreated:
    case WriteOutcome::NotWritten:
    default: return InstallFailure::WriteFailed;
    }
}

// One walk over one archive.
struct ArchiveRun {
    unzFile archive;
    std::wstring gameFolder;
    std::wstring fullGameFolder;  // absolute, normalised, ending in a backslash
    InstallCounters& progress;
    InstallAttempt& attempt;
    WritePool* pool;
    bool allInstalled;
    // Each folder is made once: asking the system for a folder that exists costs as
    // much as writing a small file.
    std::unordered_set<std::wstring> foldersMade;
    // The batch being filled: its jobs' bytes, and the folders they go into, noted in
    // the record and made when the batch is handed over.
    size_t keptJobs = 0;
    size_t keptBytes = 0;
    std::vector<std::wstring> foldersToMake;
};

void MakeFolderOnce(ArchiveRun& run, const std::wstring& folder)
{
    if (run.foldersMade.count(folder)) return;
    if (NoteFolderBeforeMaking(folder)) run.foldersToMake.push_back(folder);
    run.foldersMade.insert(folder);
}

// Whatever a batch's jobs need noted is noted, flushed once, and made: then they go to
// the writers. A job whose line cannot be written or flushed is not placed.
void HandOverBatch(ArchiveRun& run)
{
    std::vector<WriteJob*> jobs = KeptJobs(run.pool);
    WaitWhileWorkersPaused();
    for (WriteJob* job : jobs)
        if (job->needsWrite && !NoteFileBeforePlacing(job->destination, job->bytes.size(), job->sha256)) {
            job->needsWrite = false;
            job->outcome = WriteOutcome::NotMoved;
        }
    bool flushed = FlushRecordedLines();
    for (WriteJob* job : jobs)
        if (job->needsWrite && !flushed) {
            PlacementEnded(job->destination, false);
            job->needsWrite = false;
            job->outcome = WriteOutcome::NotWritten;
        }
    for (const std::wstring& folder : run.foldersToMake)
        if (flushed) CreateFolderTree(folder);
    run.foldersToMake.clear();
    HandOverJobs(run.pool);
    run.keptJobs = run.keptBytes = 0;
}

// The first entry that did not go in is the mod's failure, and the walk ends with it.
void NoteFailure(ArchiveRun& run, InstallFailure failure, const std::wstring& file)
{
    run.allInstalled = false;
    run.progress.filesFailed.fetch_add(1);
    if (run.attempt.failure != InstallFailure::None) return;
    run.attempt.failure = failure;
    run.attempt.failedFile = file;
}

// Every selected entry moves the count, installed or not.
void NoteEntryOutcome(ArchiveRun& run, const std::wstring& destination, WriteOutcome outcome)
{
    if (outcome != WriteOutcome::Written) NoteFailure(run, FailureOf(outcome), destination);
    run.progress.filesInstalled.fetch_add(1);
}

// An entry the pool has finished with is logged and counted here, in archive order.
void EntryDone(ArchiveRun& run, const std::wstring& destination, WriteOutcome outcome)
{
    LogWrite(L"Installing: %ls\n", destination.c_str());
    LogEntryOutcome(destination, outcome);
    NoteEntryOutcome(run, destination, outcome);
}

RetireJob Retire(ArchiveRun& run)
{
    return [&run](WriteJob& job) { EntryDone(run, job.destination, job.outcome); };
}

// Anything the walk logs itself comes after the lines of every entry before it.
void FinishQueuedEntries(ArchiveRun& run)
{
    HandOverBatch(run);
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
bool ReadWholeEntry(unzFile archive, const ArchiveEntry& entry, std::vector<char>& bytes)
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
void QueueEntry(ArchiveRun& run, const ArchiveEntry& entry, const std::wstring& destination,
                const std::wstring& fullDestination)
{
    if (IsBeingWritten(run.pool, destination)) FinishQueuedEntries(run);
    if (run.keptJobs >= BatchJobs || run.keptBytes >= BatchBytes) HandOverBatch(run);
    WriteJob& job = NextFreeSlot(run.pool, Retire(run));
    SetCurrentFile(run.progress, destination.c_str());
    MakeFolderOnce(run, ParentFolder(fullDestination));
    job.destination = destination;
    job.expectedSize = entry.info.uncompressed_size;
    if (!ReadWholeEntry(run.archive, entry, job.bytes)) {
        job.needsWrite = false;
        job.outcome = WriteOutcome::DamagedData;
        run.allInstalled = false;  // nothing after it is placed; it is logged in its turn
    }
    FillJob(run.pool);
    run.keptJobs += 1;
    run.keptBytes += job.bytes.size();
}

// Streams one large selected entry beside its destination and moves it into place
// only when it is whole and its checksum holds. An existing destination keeps its
// old contents on every failure.
void ExtractLargeEntry(ArchiveRun& run, const ArchiveEntry& entry, const std::wstring& destination,
                       const std::wstring& fullDestination)
{
    FinishQueuedEntries(run);
    unzFile archive = run.archive;
    LogWrite(L"Installing: %ls\n", destination.c_str());
    MakeFolderOnce(run, ParentFolder(fullDestination));
    HandOverBatch(run);  // its folder
    SetCurrentFile(run.progress, destination.c_str());

    WriteOutcome outcome = WriteOutcome::Written;
    FileReplace replace;
    if (!BeginReplace(destination, replace, std::string(), true)) {
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
    NoteEntryOutcome(run, destination, outcome);
}

void InstallEntry(ArchiveRun& run, const ArchiveEntry& entry, const std::wstring& destination,
                  const std::wstring& fullDestination)
{
    if (entry.info.uncompressed_size <= SlotBytes)
        QueueEntry(run, entry, destination, fullDestination);
    else
        ExtractLargeEntry(run, entry, destination, fullDestination);
}

// Where a selected entry goes; false, with the reason logged, for a name that must not
// be installed (which the plan has refused already, unless the archive changed since).
bool DestinationFor(ArchiveRun& run, const ArchiveEntry& entry, std::wstring& destination,
                    std::wstring& fullDestination)
{
    EntryPlace place = PlaceOfEntry(entry, run.gameFolder, run.fullGameFolder, destination,
                                    fullDestination);
    if (place == EntryPlace::Inside) return true;
    FinishQueuedEntries(run);
    LogRefusedEntry(entry, place, run.gameFolder, destination);
    NoteFailure(run, InstallFailure::Refused, destination);
    return false;
}

// The walk that places the entries, ending at the first that does not go in.
void PlaceEntries(ArchiveRun& run, const wchar_t* archivePath)
{
    ArchiveEntry entry;
    while (run.allInstalled) {
        if (!ReadEntry(run.archive, entry)) {
            FinishQueuedEntries(run);
            LogWrite(L"Failed: %ls - the archive's directory is damaged\n", archivePath);
            NoteFailure(run, InstallFailure::Unreadable, archivePath);
            return;
        }
        if (!EntryIsDirectory(entry) && IsSelectedEntry(entry.name)) {
            std::wstring destination, fullDestination;
            if (!DestinationFor(run, entry, destination, fullDestination)) return;
            if (!OpenEntryData(run.archive, entry)) {
                FinishQueuedEntries(run);
                LogWrite(L"Failed: %ls - its data cannot be unpacked (method %d)\n",
                         destination.c_str(), (int)entry.info.compression_method);
                NoteFailure(run, InstallFailure::Unreadable, destination);
                return;
            }
            InstallEntry(run, entry, destination, fullDestination);
        }
        if (unzGoToNextFile(run.archive) == UNZ_END_OF_LIST_OF_FILE) return;
    }
}

}  // namespace

bool ArchiveInstaller(const wchar_t* archivePath, const wchar_t* gameFolder,
                      InstallCounters& progress, InstallAttempt* attempt)
{
    InstallAttempt unused;
    InstallAttempt& told = attempt ? *attempt : unused;
    unzFile archive = OpenArchiveForReading(archivePath);
    if (!archive && IsEmptyZip(archivePath)) return true;
    if (!archive) {
        LogWrite(L"Failed: %ls - not a readable zip archive\n", archivePath);
        told.failure = InstallFailure::Unreadable;
        told.failedFile = archivePath;
        return false;
    }
    std::vector<std::wstring> destinations;
    if (!PlanArchive(archive, archivePath, gameFolder, destinations, told)
        || !NoDestinationHeld(destinations, told)) {
        unzClose(archive);
        return false;
    }
    told.placingBegun = true;
    // Every temporary file the walk may make is named in the journal on the disk first.
    for (const std::wstring& destination : destinations) NoteInJournal(TemporaryFileFor(destination));
    FlushJournal();
    ArchiveRun run{archive, gameFolder, FullFolder(gameFolder), progress, told,
                   StartWritePool(Writers, Slots), true, {}, 0, 0, {}};
    PlaceEntries(run, archivePath);
    FinishQueuedEntries(run);
    StopWritePool(run.pool);
    unzClose(archive);
    return run.allInstalled;
}

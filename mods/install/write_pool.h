#pragma once
// Writing small files on threads of their own. Under Wine each file costs four trips
// to the wine server (create, first write, rename, close) that mostly wait; a writer
// makes them while the giver reads and inflates what comes next. Files are handed
// over whole, in memory, in a fixed ring of slots, and handed back in the order they
// were given, so whoever logs them keeps that order.
//
// The giver fills slots, then hands them over in batches: before it does, it notes
// each file of the batch in the install record and flushes the lines at once, and
// names their temporary files in the journal on the disk, so that a power cut never
// leaves a file in place that no line on the disk names.
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "mods/install/file_replace.h"

enum class WriteOutcome { Written, NotCreated, NotWritten, DamagedData, NotMoved, InUse };
// What a commit's result means for the file: a size other than the one stated means
// the data was damaged.
WriteOutcome OutcomeOfCommit(CommitResult result);

struct WriteJob {
    std::wstring destination;
    std::vector<char> bytes;  // keeps its capacity from job to job
    unsigned long long expectedSize = 0;
    std::string sha256;  // of bytes, for the install record; taken by SubmitJob
    bool needsWrite = false;  // false: already settled by the giver, nothing to write
    WriteOutcome outcome = WriteOutcome::Written;
};

struct WritePool;
using RetireJob = std::function<void(WriteJob&)>;

// Starts the writers. The slots bound the memory held: each holds one file.
WritePool* StartWritePool(int writers, int slots);
// The next free slot, to be filled and then kept with FillJob. When every slot is
// taken, first waits for the oldest job and hands it to retire; the giver hands over a
// batch before half the slots are kept, so there always is one handed over to wait for.
WriteJob& NextFreeSlot(WritePool* pool, const RetireJob& retire);
// While an install is being recorded, hashes the slot's bytes for the record first, on
// the giver's thread: a writer's time is the install's, the giver mostly waits for it.
// The job is kept back until HandOverJobs.
void FillJob(WritePool* pool);
// The jobs filled and not yet handed over, oldest first, for the giver to note.
std::vector<WriteJob*> KeptJobs(WritePool* pool);
// Hands every kept job over to the writers. Each job that needs writing must have been
// noted in the record (NoteFileBeforePlacing) with its line flushed, and its temporary
// file named in the journal, also flushed: the writers place them at once.
void HandOverJobs(WritePool* pool);
// Hands the finished jobs to retire, oldest first, stopping at the first one still
// being written; with wait, waits for every job.
void RetireFinished(WritePool* pool, bool wait, const RetireJob& retire);
// Whether a job filled and not yet retired writes destination, in any case of letters:
// a name an archive holds twice must be written once the earlier write is done.
bool IsBeingWritten(WritePool* pool, const std::wstring& destination);
// Stops the writers; every job must have been retired.
void StopWritePool(WritePool* pool);

#include "mods/install/write_pool.h"

#include "mods/install/file_replace.h"
#include "mods/record/recorded_install.h"

struct WritePool {
    std::vector<WriteJob> slots;
    std::vector<HANDLE> writers;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE jobQueued = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE jobFinished = CONDITION_VARIABLE_INIT;
    // Counted from the start; a job's slot is its number modulo the slot count.
    unsigned long long filled = 0;     // filled by the giver
    unsigned long long submitted = 0;  // handed over to the writers
    unsigned long long taken = 0;      // picked up by a writer
    unsigned long long retired = 0;    // handed back
    std::vector<bool> finished;
    bool stopping = false;
};

namespace {

// A slot's buffer larger than this is given back once written, so that the ring does not
// keep the largest entries' memory for good.
constexpr size_t KeptBufferBytes = 128 * 1024;

WriteOutcome WriteWholeFile(WriteJob& job)
{
    FileReplace replace;
    if (!BeginReplace(job.destination, replace, job.sha256, true)) {
        AbortNotedReplace(replace);
        return WriteOutcome::NotCreated;
    }
    if (!WriteReplace(replace, job.bytes.data(), (DWORD)job.bytes.size())) {
        AbortNotedReplace(replace);
        return WriteOutcome::NotWritten;
    }
    return OutcomeOfCommit(CommitNotedReplace(replace, job.expectedSize));
}

DWORD WINAPI Writer(LPVOID parameter)
{
    WritePool& pool = *static_cast<WritePool*>(parameter);
    for (;;) {
        AcquireSRWLockExclusive(&pool.lock);
        while (!pool.stopping && pool.taken == pool.submitted)
            SleepConditionVariableSRW(&pool.jobQueued, &pool.lock, INFINITE, 0);
        if (pool.taken == pool.submitted) {
            ReleaseSRWLockExclusive(&pool.lock);
            return 0;
        }
        size_t slot = (size_t)(pool.taken++ % pool.slots.size());
        ReleaseSRWLockExclusive(&pool.lock);

        WriteJob& job = pool.slots[slot];
        if (job.needsWrite) job.outcome = WriteWholeFile(job);
        if (job.bytes.capacity() > KeptBufferBytes) std::vector<char>().swap(job.bytes);

        AcquireSRWLockExclusive(&pool.lock);
        pool.finished[slot] = true;
        ReleaseSRWLockExclusive(&pool.lock);
        WakeAllConditionVariable(&pool.jobFinished);
    }
}

}  // namespace

WriteOutcome OutcomeOfCommit(CommitResult result)
{
    switch (result) {
    case CommitResult::Done: return WriteOutcome::Written;
    case CommitResult::WrongSize: return WriteOutcome::DamagedData;
    case CommitResult::InUse: return WriteOutcome::InUse;
    case CommitResult::NotMoved:
    default: return WriteOutcome::NotMoved;
    }
}

WritePool* StartWritePool(int writers, int slots)
{
    WritePool* pool = new WritePool;
    pool->slots.resize(slots);
    pool->finished.assign(slots, false);
    for (int i = 0; i < writers; ++i) {
        HANDLE writer = CreateThread(nullptr, 0, Writer, pool, 0, nullptr);
        if (!writer) continue;
        // The wizard's own thread comes first: its answers must not wait on bulk writes.
        SetThreadPriority(writer, THREAD_PRIORITY_BELOW_NORMAL);
        pool->writers.push_back(writer);
    }
    return pool;
}

void StopWritePool(WritePool* pool)
{
    AcquireSRWLockExclusive(&pool->lock);
    pool->stopping = true;
    ReleaseSRWLockExclusive(&pool->lock);
    WakeAllConditionVariable(&pool->jobQueued);
    for (HANDLE writer : pool->writers) {
        WaitForSingleObject(writer, INFINITE);
        CloseHandle(writer);
    }
    delete pool;
}

void RetireFinished(WritePool* pool, bool wait, const RetireJob& retire)
{
    for (;;) {
        AcquireSRWLockExclusive(&pool->lock);
        if (pool->retired == pool->submitted) {  // kept jobs are not the writers' yet
            ReleaseSRWLockExclusive(&pool->lock);
            return;
        }
        size_t slot = (size_t)(pool->retired % pool->slots.size());
        while (wait && !pool->finished[slot])
            SleepConditionVariableSRW(&pool->jobFinished, &pool->lock, INFINITE, 0);
        bool finished = pool->finished[slot];
        ReleaseSRWLockExclusive(&pool->lock);
        if (!finished) return;
        retire(pool->slots[slot]);  // the writers are done with this slot
        AcquireSRWLockExclusive(&pool->lock);
        pool->finished[slot] = false;
        ++pool->retired;
        ReleaseSRWLockExclusive(&pool->lock);
    }
}

WriteJob& NextFreeSlot(WritePool* pool, const RetireJob& retire)
{
    RetireFinished(pool, false, retire);
    if (pool->filled - pool->retired == pool->slots.size()) {
        // Every slot is taken: wait for the oldest alone.
        AcquireSRWLockExclusive(&pool->lock);
        size_t slot = (size_t)(pool->retired % pool->slots.size());
        while (!pool->finished[slot])
            SleepConditionVariableSRW(&pool->jobFinished, &pool->lock, INFINITE, 0);
        ReleaseSRWLockExclusive(&pool->lock);
        RetireFinished(pool, false, retire);
    }
    WriteJob& job = pool->slots[(size_t)(pool->filled % pool->slots.size())];
    job.needsWrite = true;
    job.outcome = WriteOutcome::Written;
    return job;
}

void FillJob(WritePool* pool)
{
    WriteJob& job = pool->slots[(size_t)(pool->filled % pool->slots.size())];
    bool hashed = job.needsWrite && RecordingInstall();
    job.sha256 = hashed ? Sha256Of(job.bytes.data(), (DWORD)job.bytes.size()) : std::string();
    ++pool->filled;  // only the giver reads it
}

std::vector<WriteJob*> KeptJobs(WritePool* pool)
{
    std::vector<WriteJob*> kept;
    for (unsigned long long job = pool->submitted; job < pool->filled; ++job)
        kept.push_back(&pool->slots[(size_t)(job % pool->slots.size())]);
    return kept;
}

void HandOverJobs(WritePool* pool)
{
    AcquireSRWLockExclusive(&pool->lock);
    bool any = pool->submitted < pool->filled;
    pool->submitted = pool->filled;
    ReleaseSRWLockExclusive(&pool->lock);
    if (any) WakeAllConditionVariable(&pool->jobQueued);
}

bool IsBeingWritten(WritePool* pool, const std::wstring& destination)
{
    // Only the giver fills slots and retires them, and it is the caller.
    for (unsigned long long job = pool->retired; job < pool->filled; ++job) {
        const WriteJob& given = pool->slots[(size_t)(job % pool->slots.size())];
        if (CompareStringOrdinal(given.destination.c_str(), -1, destination.c_str(), -1, TRUE)
            == CSTR_EQUAL)
            return true;
    }
    return false;
}

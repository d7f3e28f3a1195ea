#include "mods/download/background_hash.h"

#include <algorithm>
#include <cstring>

namespace {

// As much as a download reads at once, a few times over: memory stays bounded however
// large the file, and a reader rarely finds every buffer full.
constexpr int Buffers = 4;
constexpr DWORD BufferBytes = 1024 * 1024;

}  // namespace

BackgroundSha256::BackgroundSha256() = default;

BackgroundSha256::~BackgroundSha256()
{
    if (!thread) return;
    AcquireSRWLockExclusive(&lock);
    stopping = true;
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&pieceQueued);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

DWORD WINAPI BackgroundSha256::Hasher(LPVOID parameter)
{
    BackgroundSha256& self = *static_cast<BackgroundSha256*>(parameter);
    for (;;) {
        AcquireSRWLockExclusive(&self.lock);
        while (!self.stopping && self.hashed == self.queued)
            SleepConditionVariableSRW(&self.pieceQueued, &self.lock, INFINITE, 0);
        if (self.hashed == self.queued) {
            ReleaseSRWLockExclusive(&self.lock);
            return 0;
        }
        size_t slot = (size_t)(self.hashed % Buffers);
        ReleaseSRWLockExclusive(&self.lock);

        self.hash.Add(self.buffers[slot].data(), self.counts[slot]);

        AcquireSRWLockExclusive(&self.lock);
        ++self.hashed;
        ReleaseSRWLockExclusive(&self.lock);
        WakeAllConditionVariable(&self.pieceHashed);
    }
}

void BackgroundSha256::WaitUntilHashed()
{
    AcquireSRWLockExclusive(&lock);
    while (hashed != queued) SleepConditionVariableSRW(&pieceHashed, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
}

bool BackgroundSha256::Start()
{
    if (!thread) {
        buffers.assign(Buffers, std::vector<char>(BufferBytes));
        counts.assign(Buffers, 0);
        thread = CreateThread(nullptr, 0, Hasher, this, 0, nullptr);
        if (!thread) return false;
        // The wizard's own thread comes first.
        SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
    }
    WaitUntilHashed();
    return hash.Start();
}

void BackgroundSha256::Add(const void* bytes, DWORD count)
{
    const char* at = static_cast<const char*>(bytes);
    while (thread && count > 0) {
        AcquireSRWLockExclusive(&lock);
        while (queued - hashed == Buffers)
            SleepConditionVariableSRW(&pieceHashed, &lock, INFINITE, 0);
        size_t slot = (size_t)(queued % Buffers);
        ReleaseSRWLockExclusive(&lock);

        // The slot is the giver's alone until it is counted as queued.
        DWORD piece = std::min(count, BufferBytes);
        std::memcpy(buffers[slot].data(), at, piece);
        counts[slot] = piece;
        at += piece;
        count -= piece;

        AcquireSRWLockExclusive(&lock);
        ++queued;
        ReleaseSRWLockExclusive(&lock);
        WakeConditionVariable(&pieceQueued);
    }
}

std::string BackgroundSha256::FinishHex()
{
    WaitUntilHashed();
    return hash.FinishHex();
}

#include "mods/download/transfer_file.h"

#include "app/long_path.h"
#include "mods/worker_pause.h"

namespace {

// Under the lock.
Written WriteLocked(Transfer& t, const char* bytes, size_t count)
{
    if (t.abandoned) return Written::Abandoned;
    DWORD written = 0;
    if (count > 0 && (!WriteFile(t.file, bytes, (DWORD)count, &written, nullptr)
                      || written != count))
        return Written::Failed;
    if (t.hash) t.hash->Add(bytes, written);
    t.received.fetch_add(written, std::memory_order_relaxed);
    return Written::Yes;
}

// Under the lock.
Written WriteHeld(Transfer& t)
{
    if (t.heldNotWritten) return Written::Failed;
    if (t.held.empty()) return Written::Yes;
    Written written = WriteLocked(t, t.held.data(), t.held.size());
    if (written == Written::Yes) t.held.clear();
    return written;
}

// Under the lock: the held bytes go first, then count bytes of the buffer.
Written WriteInOrder(Transfer& t, DWORD count)
{
    Written held = WriteHeld(t);
    return held == Written::Yes ? WriteLocked(t, t.buffer.data(), count) : held;
}

}  // namespace

// Under the lock: ends the file, keeping it when it may be continued.
void CloseLocalFile(Transfer& t)
{
    if (t.file == INVALID_HANDLE_VALUE) return;
    CloseHandle(t.file);
    t.file = INVALID_HANDLE_VALUE;
}

// A new file, or the one on disk cut back to the bytes that are continued.
bool OpenLocalFile(Transfer& t, bool append)
{
    Locked hold(t);
    if (t.abandoned) return false;
    t.file = CreateFileW(SystemPath(t.localPath).c_str(), GENERIC_WRITE, 0, nullptr,
                         append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (t.file == INVALID_HANDLE_VALUE) return false;
    t.fileMade = true;
    if (append) {
        LARGE_INTEGER at;
        at.QuadPart = (LONGLONG)t.resume.from;
        if (!SetFilePointerEx(t.file, at, nullptr, FILE_BEGIN) || !SetEndOfFile(t.file)) {
            CloseLocalFile(t);
            return false;
        }
    } else if (t.hash && !t.hash->Start()) {
        CloseLocalFile(t);
        return false;
    }
    t.received = append ? t.resume.from : 0;
    return true;
}

// While the workers are paused a chunk is held, unless the held bytes are at their
// bound or the body has ended (count 0): then the reading waits for the answer too.
Written WriteChunk(Transfer& t, DWORD count)
{
    {
        Locked hold(t);
        if (!WorkersArePaused()) return WriteInOrder(t, count);
        if (count > 0 && t.held.size() + count <= HeldBytesAtMost) {
            t.held.insert(t.held.end(), t.buffer.data(), t.buffer.data() + count);
            return t.abandoned ? Written::Abandoned : Written::Yes;
        }
    }
    WaitWhileWorkersPaused();
    Locked hold(t);
    return WriteInOrder(t, count);
}

// Called by the waiting side: once the question is answered, the held bytes are
// written at once, whatever read the transfer thread is blocked in.
void WriteHeldBytes(Transfer& t)
{
    if (WorkersArePaused()) return;
    Locked hold(t);
    if (!t.held.empty() && WriteHeld(t) == Written::Failed) t.heldNotWritten = true;
}

#include "mods/install/file_replace.h"

#include <algorithm>
#include <string>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/files_in_use.h"
#include "mods/journal.h"
#include "mods/record/recorded_install.h"
#include "mods/worker_pause.h"

namespace {

// Renaming through the open handle saves opening the file once more, which costs a
// third of the time of a small file; MoveFileExW is the fallback where a file system
// cannot rename that way, and the way to try again while another program holds the
// destination (or, a virus scanner say, the file just written).
HeldResult RenameOverDestination(FileReplace& replace)
{
    std::wstring destination = SystemPath(replace.destination);
    size_t nameBytes = destination.size() * sizeof(wchar_t);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = (DWORD)nameBytes;
    std::copy(destination.begin(), destination.end(), rename->FileName);
    bool renamed = SetFileInformationByHandle(replace.file, FileRenameInfo, rename,
                                              (DWORD)buffer.size())
                != FALSE;
    CloseHandle(replace.file);
    replace.file = INVALID_HANDLE_VALUE;
    if (renamed) return HeldResult::Done;
    std::wstring temporary = SystemPath(replace.temporary);
    return RetryWhileHeld(replace.destination, [&] {
        return MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING)
            != FALSE;
    });
}

}  // namespace

bool BeginReplace(const std::wstring& destination, FileReplace& replace,
                  const std::string& sha256, bool inJournal)
{
    replace.destination = destination;
    replace.temporary = TemporaryFileFor(destination);
    replace.written = 0;
    replace.givenSha256 = sha256;
    if (RecordingInstall() && sha256.empty()) replace.hash.Start();
    WaitWhileWorkersPaused();
    if (!inJournal) {
        NoteInJournal(replace.temporary);
        FlushJournal();
    }
    // DELETE access lets the finished file be renamed through this handle. A temporary
    // file left by a killed run may still be held by whoever was reading it.
    std::wstring temporary = SystemPath(replace.temporary);
    RetryWhileHeld(replace.temporary, [&] {
        replace.file = CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return replace.file != INVALID_HANDLE_VALUE;
    });
    return replace.file != INVALID_HANDLE_VALUE;
}

bool WriteReplace(FileReplace& replace, const void* bytes, DWORD count)
{
    WaitWhileWorkersPaused();
    DWORD written = 0;
    bool whole = WriteFile(replace.file, bytes, count, &written, nullptr) && written == count;
    replace.written += written;
    replace.hash.Add(bytes, written);
    return whole;
}

CommitResult CommitReplace(FileReplace& replace, unsigned long long expectedSize)
{
    if (replace.written != expectedSize) {
        AbortReplace(replace);
        return CommitResult::WrongSize;
    }
    WaitWhileWorkersPaused();
    std::string sha256 = replace.givenSha256.empty() ? replace.hash.FinishHex()
                                                     : replace.givenSha256;
    if (!NoteFileBeforePlacing(replace.destination, replace.written, sha256)) {
        AbortReplace(replace);
        return CommitResult::NotMoved;
    }
    if (!FlushRecordedLines()) {
        AbortNotedReplace(replace);
        return CommitResult::NotMoved;
    }
    return CommitNotedReplace(replace, expectedSize);
}

CommitResult CommitNotedReplace(FileReplace& replace, unsigned long long expectedSize)
{
    if (replace.written != expectedSize) {
        AbortNotedReplace(replace);
        return CommitResult::WrongSize;
    }
    WaitWhileWorkersPaused();
    if (!KeepBeforePlacing(replace.destination)) {
        AbortNotedReplace(replace);
        return CommitResult::NotMoved;
    }
    HeldResult placed = RenameOverDestination(replace);
    PlacementEnded(replace.destination, placed == HeldResult::Done);
    if (placed == HeldResult::Done) return CommitResult::Done;
    DeleteFileW(SystemPath(replace.temporary).c_str());
    return placed == HeldResult::Held ? CommitResult::InUse : CommitResult::NotMoved;
}

void AbortNotedReplace(FileReplace& replace)
{
    AbortReplace(replace);
    PlacementEnded(replace.destination, false);
}

void LogNotReplaced(const std::wstring& destination)
{
    LogWrite(L"Failed: %ls - the file could not be replaced; it is in use or read-only\n",
             destination.c_str());
}

void LogInUse(const std::wstring& destination)
{
    LogWrite(L"Failed: %ls - the file is in use by another program%ls\n", destination.c_str(),
             HeldByText(ProgramsHolding({destination})).c_str());
}

void AbortReplace(FileReplace& replace)
{
    if (replace.file != INVALID_HANDLE_VALUE) CloseHandle(replace.file);
    replace.file = INVALID_HANDLE_VALUE;
    DeleteFileW(SystemPath(replace.temporary).c_str());
}


#include "mods/file_replace.h"

#include <algorithm>
#include <string>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/recorded_install.h"
#include "mods/worker_pause.h"

namespace {

// Four characters, so that a name near the file system's 255 keeps room for them.
constexpr wchar_t TemporarySuffix[] = L".zm~";
constexpr size_t TemporarySuffixChars = 4;

std::wstring journalPath;
HANDLE journal = INVALID_HANDLE_VALUE;
CRITICAL_SECTION journalLock;
INIT_ONCE journalLockOnce = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK InitJournalLock(PINIT_ONCE, PVOID, PVOID*)
{
    InitializeCriticalSection(&journalLock);
    return TRUE;
}

bool IsTemporaryName(const std::wstring& path)
{
    return path.size() > TemporarySuffixChars
        && path.compare(path.size() - TemporarySuffixChars, TemporarySuffixChars,
                        TemporarySuffix) == 0;
}

// The journal is held open, unshared, for the rest of the run: another installer
// started meanwhile sees it in use and leaves its files alone.
void NoteInJournal(const std::wstring& temporary)
{
    if (journalPath.empty()) return;
    InitOnceExecuteOnce(&journalLockOnce, InitJournalLock, nullptr, nullptr);
    EnterCriticalSection(&journalLock);
    if (journal == INVALID_HANDLE_VALUE)
        journal = CreateFileW(SystemPath(journalPath).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (journal != INVALID_HANDLE_VALUE) {
        std::string line = EncodeLogText(temporary + L"\n");
        DWORD written = 0;
        WriteFile(journal, line.data(), (DWORD)line.size(), &written, nullptr);
    }
    LeaveCriticalSection(&journalLock);
}

std::wstring DecodeUtf8(const std::string& bytes)
{
    if (bytes.empty()) return std::wstring();
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    if (chars <= 0) return std::wstring();
    std::wstring text(chars, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &text[0], chars);
    return text;
}

// Renaming through the open handle saves opening the file once more, which costs a
// third of the time of a small file; MoveFileExW is the fallback where a file system
// cannot rename that way.
bool RenameOverDestination(FileReplace& replace)
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
    return renamed
        || MoveFileExW(SystemPath(replace.temporary).c_str(), destination.c_str(),
                       MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

std::wstring TemporaryFileFor(const std::wstring& destination)
{
    return destination + TemporarySuffix;
}

bool BeginReplace(const std::wstring& destination, FileReplace& replace,
                  const std::string& sha256)
{
    replace.destination = destination;
    replace.temporary = TemporaryFileFor(destination);
    replace.written = 0;
    replace.givenSha256 = sha256;
    if (RecordingInstall() && sha256.empty()) replace.hash.Start();
    WaitWhileWorkersPaused();
    NoteInJournal(replace.temporary);
    // DELETE access lets the finished file be renamed through this handle.
    replace.file = CreateFileW(SystemPath(replace.temporary).c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    bool placed = RenameOverDestination(replace);
    PlacementEnded(replace.destination, placed);
    if (placed) return CommitResult::Done;
    DeleteFileW(SystemPath(replace.temporary).c_str());
    return CommitResult::NotMoved;
}

void LogNotReplaced(const std::wstring& destination)
{
    LogWrite(L"Failed: %ls - the file could not be replaced; it is in use or read-only\n",
             destination.c_str());
}

void AbortReplace(FileReplace& replace)
{
    if (replace.file != INVALID_HANDLE_VALUE) CloseHandle(replace.file);
    replace.file = INVALID_HANDLE_VALUE;
    DeleteFileW(SystemPath(replace.temporary).c_str());
}

void NoteDownloadInJournal(const std::wstring& downloadPath)
{
    NoteInJournal(downloadPath);
}

int RemoveLeftoversOfEarlierRun(const std::wstring& path,
                                const std::vector<std::wstring>& downloadPaths)
{
    // Unshared: fails while another installer still writes its journal.
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::string bytes;
    char buffer[16384];
    DWORD read = 0;
    while (bytes.size() < (64u << 20) && ReadFile(file, buffer, sizeof buffer, &read, nullptr)
           && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);

    std::wstring text = DecodeUtf8(bytes);
    int removed = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        bool ours = IsTemporaryName(line)
                 || std::find(downloadPaths.begin(), downloadPaths.end(), line)
                        != downloadPaths.end();
        if (ours && DeleteFileW(SystemPath(line).c_str())) {
            LogWrite(L"Removed: %ls - left by an earlier run that did not finish\n",
                     line.c_str());
            ++removed;
        }
        start = end + 1;
    }
    DeleteFileW(SystemPath(path).c_str());
    return removed;
}

void UseReplaceJournal(const std::wstring& path)
{
    journalPath = path;
}

void EndReplaceJournal()
{
    if (journal == INVALID_HANDLE_VALUE) return;
    CloseHandle(journal);
    journal = INVALID_HANDLE_VALUE;
    DeleteFileW(SystemPath(journalPath).c_str());
}

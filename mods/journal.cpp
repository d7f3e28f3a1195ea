#include "mods/journal.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "app/install_log.h"
#include "app/long_path.h"

namespace {

// Four characters, so that a name near the file system's 255 keeps room for them.
constexpr wchar_t TemporarySuffix[] = L".zm~";
constexpr size_t TemporarySuffixChars = 4;

std::wstring journalPath;
HANDLE journal = INVALID_HANDLE_VALUE;
bool unflushed = false;
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

std::wstring DecodeUtf8(const std::string& bytes)
{
    if (bytes.empty()) return std::wstring();
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
    if (chars <= 0) return std::wstring();
    std::wstring text(chars, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &text[0], chars);
    return text;
}

}  // namespace

std::wstring TemporaryFileFor(const std::wstring& destination)
{
    return destination + TemporarySuffix;
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
        unflushed = true;
    }
    LeaveCriticalSection(&journalLock);
}

void FlushJournal()
{
    if (journalPath.empty()) return;
    InitOnceExecuteOnce(&journalLockOnce, InitJournalLock, nullptr, nullptr);
    EnterCriticalSection(&journalLock);
    if (unflushed && journal != INVALID_HANDLE_VALUE) {
        FlushFileBuffers(journal);
        CountDiskFlush();
    }
    unflushed = false;
    LeaveCriticalSection(&journalLock);
}

void NoteDownloadInJournal(const std::wstring& downloadPath)
{
    NoteInJournal(downloadPath);
    FlushJournal();
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
    unflushed = false;
    DeleteFileW(SystemPath(journalPath).c_str());
}

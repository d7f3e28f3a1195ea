#pragma once
// Taking the pack out of a game folder again, by its record: every file it placed is
// removed, or the original it replaced is put back, unless it changed since; folders
// it made go when empty; then the backups, the record, the uninstaller copy and the
// Apps & Features entry, that last.
#include <windows.h>
#include <atomic>
#include <string>
#include <vector>

#include "mods/files_in_use.h"
#include "mods/record/install_record.h"

enum class UndoResult {
    Removed,          // the pack's file is gone
    Restored,         // the original is back in its place
    AlreadyUndone,    // nothing there, or the original already back (a killed run)
    Changed,          // someone changed it since: kept as it is, and so is its original
    InUse,            // could not be removed now: stays in the record
    OriginalMissing,  // its original is not in the backups: the pack's file stays
};

// Undoes one recorded file of the game folder,
// logging what it did with reason after the path for a removal. A file another program
// holds is waited for, within wait.
UndoResult UndoRecordedFile(const std::wstring& gameFolder, const RecordedFile& file,
                            const wchar_t* reason, HeldWait& wait);
// True when a relative path from a record may be touched: inside the game folder and
// not inside the record folder itself.
bool IsUndoablePath(const std::wstring& gameFolder, const std::wstring& relative);

struct UninstallCounters {
    std::atomic<int> filesDone{0};
    std::atomic<int> filesTotal{0};
};

struct UninstallSummary {
    int removed = 0;
    int restored = 0;
    int kept = 0;
    int left = 0;
    int refused = 0;
    int missing = 0;  // of those left, the files whose originals were not in the backups
    std::vector<std::wstring> keptFiles;  // full paths of the files kept or left
    std::vector<std::wstring> inUseFiles;  // of those, the ones another program holds
    bool finished = false;  // the record, the copy and the entry are gone
};

// Counts for the question asked first: the files that will be removed, and those
// whose originals will be put back in their place.
void CountUndoWork(const InstallRecord& record, int& files, int& originals);

// The whole uninstall of the game folder's record. False when there was none.
bool UninstallPack(const std::wstring& gameFolder, UninstallCounters& progress,
                   UninstallSummary& summary);
// Set by whoever can finish an uninstall after this process: called when the running
// uninstaller copy can neither be deleted nor moved away (another volume than the
// temporary folder), to remove it, the record folder and the entry once it has ended.
// True when that was handed over.
extern bool (*FinishAfterCopyEnds)(const std::wstring& gameFolder);

// The last steps alone: for a folder whose record is gone but whose entry or record
// folder stayed behind (a killed uninstall).
bool FinishRemovedRecord(const std::wstring& gameFolder);

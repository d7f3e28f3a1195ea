#include "mods/record/uninstaller.h"

#include <algorithm>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/game_path.h"
#include "mods/record/uninstall_entry.h"
#include "mods/sha256.h"

namespace {

// Puts the original back over whatever is at destination, in one rename.
bool PutOriginalBack(const std::wstring& backup, const std::wstring& destination, HeldWait& wait)
{
    return RetryWhileHeld(destination, wait, [&] {
               return MoveFileExW(SystemPath(backup).c_str(), SystemPath(destination).c_str(),
                                  MOVEFILE_REPLACE_EXISTING)
                   != FALSE;
           })
        == HeldResult::Done;
}

UndoResult Left(const std::wstring& path)
{
    LogWrite(L"Left: %ls - it is in use; uninstall again to remove it\n", path.c_str());
    return UndoResult::InUse;
}

// Nothing is deleted for an original that cannot be put back: the game keeps a file
// at the path, and the log names it.
UndoResult OriginalMissing(const std::wstring& path)
{
    LogWrite(L"Left: %ls - its original is missing from the backups\n", path.c_str());
    return UndoResult::OriginalMissing;
}

// The pack's bytes: those it placed, or those it was replacing when a crash came.
bool IsPackBytes(const RecordedFile& file, unsigned long long size, const std::string& sha256)
{
    return (size == file.size && sha256 == file.sha256)
        || (!file.earlierSha256.empty() && size == file.earlierSize
            && sha256 == file.earlierSha256);
}

UndoResult UndoPresentFile(const std::wstring& path, const std::wstring& backup,
                           const RecordedFile& file, const wchar_t* reason, HeldWait& wait)
{
    std::string sha256;
    unsigned long long size = 0;
    if (RetryWhileHeld(path, wait, [&] { return HashFile(path, sha256, size); }) != HeldResult::Done)
        return Left(path);
    // The original in its place: put back by a run a crash stopped before it said so, or
    // never replaced by one stopped before the move.
    if (file.replacedOriginal && size == file.originalSize && sha256 == file.originalSha256) {
        DeleteFileW(SystemPath(backup).c_str());
        return UndoResult::AlreadyUndone;
    }
    bool packBytes = IsPackBytes(file, size, sha256);
    if (packBytes && file.replacedOriginal) {
        if (!PathExists(backup)) return OriginalMissing(path);
        if (!PutOriginalBack(backup, path, wait)) return Left(path);
        LogWrite(L"Restored: %ls - the original is back\n", path.c_str());
        return UndoResult::Restored;
    }
    if (packBytes) {
        if (RetryWhileHeld(path, wait, [&] { return DeleteFileW(SystemPath(path).c_str()) != FALSE; })
            != HeldResult::Done)
            return Left(path);
        LogWrite(L"Removed: %ls%ls\n", path.c_str(), reason);
        return UndoResult::Removed;
    }
    if (file.replacedOriginal && PathExists(backup)) {
        LogWrite(L"Kept: %ls - changed since it was installed; its original stays in %ls\n",
                 path.c_str(), backup.c_str());
        return UndoResult::Changed;
    }
    LogWrite(L"Kept: %ls - changed since it was installed\n", path.c_str());
    return UndoResult::Changed;
}

// A path of the record's own folder, its files and nothing else.
void DeleteIfThere(const std::wstring& path)
{
    if (PathExists(path) && !DeleteFileW(SystemPath(path).c_str()))
        LogWrite(L"Left: %ls - it could not be removed\n", path.c_str());
}

void DeleteBackups(const std::wstring& gameFolder)
{
    std::wstring folder = RecordFolderOf(gameFolder) + L"\\backup";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(SystemPath(folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteIfThere(folder + L"\\" + found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(SystemPath(folder).c_str());
}

// The running copy cannot be deleted, but it can be moved: out of the game folder,
// into the temporary folder, where the next run clears it away. False when it is
// still there.
bool RemoveUninstallerCopy(const std::wstring& gameFolder)
{
    std::wstring copy = UninstallerPathOf(gameFolder);
    if (!PathExists(copy) || DeleteFileW(SystemPath(copy).c_str())) return true;
    // GetTempFileNameW takes a folder of MAX_PATH less 14 characters at most.
    std::wstring temp = TemporaryFolder();
    wchar_t moved[MAX_PATH];
    if (temp.empty() || temp.size() >= MAX_PATH - 14
        || !GetTempFileNameW(temp.c_str(), L"zmu", 0, moved))
        return false;
    if (MoveFileExW(SystemPath(copy).c_str(), moved, MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(moved);
    return false;
}

bool DeeperFirst(const RecordedFolder& a, const RecordedFolder& b)
{
    return a.path.size() > b.path.size();  // a folder's path is longer than its parent's
}

void RemoveFolders(const std::wstring& gameFolder, InstallRecord& record, bool filesRemain)
{
    std::wstring game = FullFolder(gameFolder);
    std::sort(record.folders.begin(), record.folders.end(), DeeperFirst);
    std::vector<RecordedFolder> remaining;
    for (const RecordedFolder& folder : record.folders) {
        std::wstring path = game + folder.path;
        bool removable = IsUndoablePath(gameFolder, folder.path);
        if (removable && RemoveDirectoryW(SystemPath(path).c_str())) {
            LogWrite(L"Removed: %ls\\\n", path.c_str());
        } else if (removable && PathExists(path)) {
            // Kept for a later run while a file of the pack still waits in it.
            if (filesRemain) remaining.push_back(folder);
            continue;
        }
        AppendPendingLine(ForgetFolderLine(folder.path));
    }
    record.folders = remaining;
}

}  // namespace

bool (*FinishAfterCopyEnds)(const std::wstring& gameFolder) = nullptr;
static bool finishHandedOver = false;

bool IsUndoablePath(const std::wstring& gameFolder, const std::wstring& relative)
{
    std::wstring game = FullFolder(gameFolder);
    if (game.empty() || !IsSafeRelativePath(relative) || !IsInsideFolder(game + relative, game))
        return false;
    std::wstring inside;
    std::wstring record = std::wstring(RecordFolderName);
    return !(RelativeToGame(game, game + relative, inside)
             && (PathKey(inside) == PathKey(record)
                 || PathKey(inside).compare(0, record.size() + 1, PathKey(record + L"\\")) == 0));
}

UndoResult UndoRecordedFile(const std::wstring& gameFolder, const RecordedFile& file,
                            const wchar_t* reason, HeldWait& wait)
{
    std::wstring path = FullFolder(gameFolder) + file.path;
    std::wstring backup = BackupPathFor(gameFolder, file.path);
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Gone already: the original, if one was kept, has its place back.
        if (!file.replacedOriginal) return UndoResult::AlreadyUndone;
        if (!PathExists(backup)) return OriginalMissing(path);
        if (!PutOriginalBack(backup, path, wait)) return Left(path);
        LogWrite(L"Restored: %ls - the original is back\n", path.c_str());
        return UndoResult::Restored;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        LogWrite(L"Kept: %ls - changed since it was installed\n", path.c_str());
        return UndoResult::Changed;
    }
    return UndoPresentFile(path, backup, file, reason, wait);
}

void CountUndoWork(const InstallRecord& record, int& files, int& originals)
{
    originals = (int)std::count_if(record.files.begin(), record.files.end(),
                                   [](const RecordedFile& f) { return f.replacedOriginal; });
    files = (int)record.files.size() - originals;
}

bool FinishRemovedRecord(const std::wstring& gameFolder)
{
    std::wstring folder = RecordFolderOf(gameFolder);
    bool anything = PathExists(folder) || UninstallEntryExists(gameFolder);
    if (!anything) return false;
    DeleteBackups(gameFolder);
    DeleteIfThere(folder + L"\\installed.new");
    DeleteIfThere(RecordFileOf(gameFolder));
    DiscardPendingLines(gameFolder);
    DeleteIfThere(UninstallerPathOf(gameFolder) + L".new");
    if (!RemoveUninstallerCopy(gameFolder)) {
        finishHandedOver = FinishAfterCopyEnds && FinishAfterCopyEnds(gameFolder);
        if (finishHandedOver) {
            LogWrite(L"Removing: %ls\\ and the Apps & Features entry %ls - once the uninstaller "
                     L"has closed\n",
                     folder.c_str(), UninstallKeyName(gameFolder).c_str());
            return true;
        }
        LogWrite(L"Left: %ls - it could not be removed\n", UninstallerPathOf(gameFolder).c_str());
    }
    if (PathExists(folder) && !RemoveDirectoryW(SystemPath(folder).c_str())) {
        LogWrite(L"Left: %ls\\ - it holds files the pack did not put there\n", folder.c_str());
        return true;
    }
    DeleteUninstallEntry(gameFolder);
    LogWrite(L"Removed: the Apps & Features entry %ls\n", UninstallKeyName(gameFolder).c_str());
    return true;
}

bool UninstallPack(const std::wstring& gameFolder, UninstallCounters& progress,
                   UninstallSummary& summary)
{
    InstallRecord record;
    if (!LoadRecord(gameFolder, record)) return false;
    OpenPendingLines(gameFolder);
    progress.filesTotal = (int)record.files.size();
    std::wstring game = FullFolder(gameFolder);
    std::vector<RecordedFile> remaining;
    HeldWait wait;  // one wait for all the files other programs hold
    for (const RecordedFile& file : record.files) {
        if (!IsUndoablePath(gameFolder, file.path)) {
            LogWrite(L"Refused: %ls - the record names a path outside the game folder\n",
                     file.path.c_str());
            ++summary.refused;
        } else {
            switch (UndoRecordedFile(gameFolder, file, L"", wait)) {
            case UndoResult::Removed: ++summary.removed; break;
            case UndoResult::Restored: ++summary.restored; break;
            case UndoResult::AlreadyUndone: break;
            case UndoResult::OriginalMissing:
                ++summary.left;
                ++summary.missing;
                summary.keptFiles.push_back(game + file.path);
                break;
            case UndoResult::Changed:
                ++summary.kept;
                summary.keptFiles.push_back(game + file.path);
                // Its original stays kept, and the record with it.
                if (!file.replacedOriginal || !PathExists(BackupPathFor(gameFolder, file.path))) break;
                remaining.push_back(file);
                progress.filesDone.fetch_add(1);
                continue;
            case UndoResult::InUse:
                ++summary.left;
                summary.keptFiles.push_back(game + file.path);
                summary.inUseFiles.push_back(game + file.path);
                remaining.push_back(file);
                progress.filesDone.fetch_add(1);
                continue;
            }
        }
        AppendPendingLine(ForgetFileLine(file.path));
        progress.filesDone.fetch_add(1);
    }
    record.files = remaining;
    RemoveFolders(gameFolder, record, !remaining.empty());
    if (!remaining.empty()) {
        ClosePendingLines();
        SaveRecord(gameFolder, record);
        return true;
    }
    ClosePendingLines();
    summary.finished = FinishRemovedRecord(gameFolder)
                    && (!PathExists(RecordFolderOf(gameFolder)) || finishHandedOver);
    return true;
}

#include "mods/record/recorded_install.h"

#include <windows.h>

#include <algorithm>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/catalog.h"
#include "mods/game_path.h"
#include "mods/files_in_use.h"
#include "mods/record/install_record.h"
#include "mods/record/install_session.h"
#include "mods/record/uninstall_entry.h"
#include "mods/record/uninstaller.h"
#include "mods/sha256.h"

namespace {

unsigned long long RecordedBytes()
{
    unsigned long long bytes = 0;
    for (const RecordedFile& file : session.record.files) bytes += file.size;
    return bytes;
}

// The uninstaller copy first, so the entry never names a program that is not there.
void WriteEntry()
{
    if (!KeepUninstallerCopy(session.game)) {
        LogWrite(L"Failed: %ls - the uninstaller could not be kept there\n",
                 UninstallerPathOf(session.game).c_str());
        return;
    }
    session.entryWritten = WriteUninstallEntry(session.game, RecordedBytes());
}

// Folders this run made hold nothing but its own files, but for the record's own folder,
// where its backups and files are made without a note.
bool InFolderMade(const std::wstring& key)
{
    size_t cut = key.rfind(L'\\');
    return cut != std::wstring::npos && session.foldersMade.count(key.substr(0, cut))
        && PathKey(key.substr(0, key.find(L'\\'))) != PathKey(RecordFolderName);
}

// A path the record does not name can hold an original only outside the folders this
// run made. Knowing it saves asking the system for every file: under Wine, a name that
// is not there costs a scan of its folder.
bool MayHoldOriginal(const std::wstring& key, const std::wstring& destination)
{
    return !InFolderMade(key) && IsExistingFile(destination);
}

enum class Keeping { Kept, NothingThere, Failed };

// Links the file at destination to kept, which costs no copy and leaves it in place until
// the new file is moved over it; a file system without hard links gets a move. The link
// is tried first: under Wine each name asked for that is not there costs a scan of its
// folder, and the backups can be many.
Keeping KeepBytesAt(const std::wstring& destination, const std::wstring& kept, Placement& placement)
{
    std::wstring at = SystemPath(kept);
    std::wstring from = SystemPath(destination);
    placement.kept = kept;
    placement.keptMoved = false;
    if (CreateHardLinkW(at.c_str(), from.c_str(), nullptr)) return Keeping::Kept;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        DeleteFileW(at.c_str());  // left by a run killed before it noted the file
        if (CreateHardLinkW(at.c_str(), from.c_str(), nullptr)) return Keeping::Kept;
        error = GetLastError();
    }
    placement.kept.clear();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Keeping::NothingThere;
    if (RetryWhileHeld(destination, [&] { return MoveFileExW(from.c_str(), at.c_str(), 0) != FALSE; })
        != HeldResult::Done)
        return Keeping::Failed;
    placement.kept = kept;
    placement.keptMoved = true;
    return Keeping::Kept;
}

void MakeBackupFolder()
{
    if (session.backupFolderMade) return;
    session.backupFolderMade = true;
    std::wstring record = RecordFolderOf(session.game);
    CreateDirectoryW(SystemPath(record).c_str(), nullptr);
    CreateDirectoryW(SystemPath(record + L"\\backup").c_str(), nullptr);
}

// Keeps the bytes of a file the pack did not place in the backups, once its line names
// them. A crash before the link or the move leaves the original in its place, which the
// record's line knows by its hash.
bool KeepOriginal(const std::wstring& destination, const std::wstring& relative,
                  Placement& placement)
{
    MakeBackupFolder();
    placement.before = Before::Original;
    return KeepBytesAt(destination, BackupPathFor(session.game, relative), placement)
        == Keeping::Kept;
}

// The pack's earlier bytes at a path, from an earlier run or an earlier mod of this one,
// are kept until the mod that replaces them is whole, so that a mod that cannot go in
// whole is taken back out to exactly what was there.
bool KeepEarlierBytes(const std::wstring& destination, const std::wstring& relative,
                      Placement& placement)
{
    MakeBackupFolder();
    Keeping keeping = KeepBytesAt(destination, EarlierBytesPathFor(session.game, relative), placement);
    placement.keptUntilWhole = keeping == Keeping::Kept;
    return keeping != Keeping::Failed;  // with nothing there, nothing is put back
}

// A path whose placement a crash cut short holds the pack's earlier bytes or its later
// ones: the record is told which, before anything else goes there.
void SettleCutPlacement(const std::wstring& destination, RecordedFile& file)
{
    std::string sha256;
    unsigned long long size = 0;
    if (file.earlierSha256.empty() || !HashFile(destination, sha256, size)) return;
    if (size == file.earlierSize && sha256 == file.earlierSha256) {
        file.size = size;
        file.sha256 = sha256;
    } else if (size != file.size || sha256 != file.sha256) {
        return;
    }
    file.earlierSize = 0;
    file.earlierSha256.clear();
    PutFile(file);
}

// A path the pack placed before, over an original whose backup a crash kept from being
// made: the original is still in its place, and is kept now.
bool KeepOriginalStillInPlace(const std::wstring& destination, const RecordedFile& file,
                              Placement& placement)
{
    if (!file.replacedOriginal || PathExists(BackupPathFor(session.game, file.path))) return true;
    std::string sha256;
    unsigned long long size = 0;
    if (!HashFile(destination, sha256, size) || size != file.originalSize
        || sha256 != file.originalSha256)
        return true;  // not the original: the uninstall will say so
    Placement kept;
    if (!KeepOriginal(destination, file.path, kept)) return false;
    // Moved away, the original is what goes back if the file is not placed.
    if (kept.keptMoved) {
        placement.kept = kept.kept;
        placement.keptMoved = true;
    }
    return true;
}

// What the record said of a path before a file was noted for it holds again, and kept
// bytes go back where they were moved from; those linked for this placement go.
void TakeBackNote(const std::wstring& relative, const std::wstring& destination,
                  const Placement& placement)
{
    std::wstring key = PathKey(relative);
    session.placedThisRun.erase(key);
    auto first = session.modPlaced.find(key);
    if (first != session.modPlaced.end() && !session.modPlacements[first->second].placed)
        session.modPlaced.erase(first);  // the mod has not placed this path after all
    if (placement.keptMoved) {
        bool back = RetryWhileHeld(destination, [&] {
                        return MoveFileExW(SystemPath(placement.kept).c_str(),
                                           SystemPath(destination).c_str(), 0) != FALSE;
                    }) == HeldResult::Done;
        // Still in the backups, an original stays noted, and an uninstall puts it back.
        if (!back && placement.before == Before::Original) return;
    } else if (!placement.kept.empty()) {
        DeleteFileW(SystemPath(placement.kept).c_str());
    }
    if (placement.before == Before::PackFile)
        PutFile(placement.prior);
    else
        ForgetFile(relative);
}

}  // namespace

void BeginRecordedInstall(const std::wstring& gameFolder)
{
    Hold hold;
    session = Session();
    session.game = gameFolder;
    session.fullGame = FullFolder(gameFolder);
    if (session.fullGame.empty()) return;
    LoadRecord(gameFolder, session.record);
    IndexRecord();
    OpenPendingLines(gameFolder);
    session.active = true;
}

bool RecordingInstall()
{
    return session.active;
}

void SetRecordedMod(int row)
{
    Hold hold;
    session.mod = ModCatalog[row].key;
    session.modPlacements.clear();
    session.modPlaced.clear();
    session.modFolders.clear();
}

bool NoteFileBeforePlacing(const std::wstring& destination, unsigned long long size,
                           const std::string& sha256)
{
    if (!session.active) return true;
    Hold hold;
    RecordedFile file;
    if (!RelativeToGame(session.fullGame, destination, file.path)) return true;
    if (!session.entryWritten) WriteEntry();
    file.mod = session.mod;
    file.size = size;
    file.sha256 = sha256;
    std::wstring key = PathKey(file.path);
    Placement placement;
    auto found = session.files.find(key);
    if (found != session.files.end()) {
        // Placed by the pack before: its original, if any, stays the one it had, and
        // its bytes stay the pack's until the new ones are in.
        placement.before = Before::PackFile;
        SettleCutPlacement(destination, session.record.files[found->second]);
        placement.prior = session.record.files[found->second];
        file.replacedOriginal = placement.prior.replacedOriginal;
        file.originalSize = placement.prior.originalSize;
        file.originalSha256 = placement.prior.originalSha256;
        file.earlierSize = placement.prior.size;
        file.earlierSha256 = placement.prior.sha256;
    } else if (MayHoldOriginal(key, destination)) {
        if (!HashFile(destination, file.originalSha256, file.originalSize)) return false;
        file.replacedOriginal = true;
        placement.before = Before::Original;
    }
    // The line comes first: whatever a crash leaves at the path, the record names it.
    placement.firstByMod = !session.modPlaced.count(key);
    session.placedThisRun.insert(key);
    if (!PutFile(file)) {
        // A file the record cannot name could never be uninstalled: it is not placed.
        TakeBackNote(file.path, destination, placement);
        return false;
    }
    session.placing[key] = placement;
    if (placement.firstByMod) {
        session.modPlaced[key] = session.modPlacements.size();
        session.modPlacements.push_back(ModPlacement{file.path, placement, false});
    }
    return true;
}

bool KeepBeforePlacing(const std::wstring& destination)
{
    if (!session.active) return true;
    Hold hold;
    std::wstring relative;
    if (!RelativeToGame(session.fullGame, destination, relative)) return true;
    auto found = session.placing.find(PathKey(relative));
    if (found == session.placing.end()) return true;
    Placement& placement = found->second;
    if (placement.before == Before::Original) return KeepOriginal(destination, relative, placement);
    if (placement.before != Before::PackFile) return true;
    if (!KeepOriginalStillInPlace(destination, placement.prior, placement)) return false;
    return !placement.firstByMod || !placement.kept.empty()
        || KeepEarlierBytes(destination, relative, placement);
}

bool FlushRecordedLines()
{
    return !session.active || FlushPendingLines();
}

bool IsInFolderMadeThisRun(const std::wstring& path)
{
    if (!session.active) return false;
    Hold hold;
    std::wstring relative;
    return RelativeToGame(session.fullGame, path, relative) && InFolderMade(PathKey(relative));
}

void PlacementEnded(const std::wstring& destination, bool placed)
{
    if (!session.active) return;
    Hold hold;
    std::wstring relative;
    if (!RelativeToGame(session.fullGame, destination, relative)) return;
    std::wstring key = PathKey(relative);
    auto found = session.placing.find(key);
    if (found == session.placing.end()) return;
    Placement placement = found->second;
    session.placing.erase(found);
    if (!placed) {
        TakeBackNote(relative, destination, placement);
        return;
    }
    auto first = session.modPlaced.find(key);
    if (first != session.modPlaced.end() && !session.modPlacements[first->second].placed) {
        session.modPlacements[first->second].placement = placement;
        session.modPlacements[first->second].placed = true;
    }
    auto file = session.files.find(key);
    if (file != session.files.end()) session.record.files[file->second].earlierSha256.clear();
}

bool NoteFolderBeforeMaking(const std::wstring& folder)
{
    if (!session.active) return true;
    Hold hold;
    std::wstring path = FullPathOf(folder);
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    // Noted before they are made: a kill in between leaves a note, not a folder. They
    // count as this run's from now on, as nothing else can be in them.
    std::wstring relative;
    while (RelativeToGame(session.fullGame, path, relative) && !PathExists(path)) {
        if (!session.folders.count(PathKey(relative))) {
            session.folders[PathKey(relative)] = session.record.folders.size();
            session.record.folders.push_back(RecordedFolder{relative, session.mod});
            if (!AppendPendingLine(FolderLine(session.record.folders.back()))) return false;
        }
        session.modFolders.push_back(relative);
        session.foldersMade.insert(PathKey(relative));
        path = path.substr(0, path.rfind(L'\\'));
    }
    return true;
}

void CreateFolderRecorded(const std::wstring& folder)
{
    // A folder the record cannot name is not made; nor is what goes in it.
    if (NoteFolderBeforeMaking(folder) && FlushRecordedLines()) CreateFolderTree(folder);
}

void RemoveFilesNoLongerInstalled(int row)
{
    if (!session.active) return;
    Hold hold;
    std::wstring mod = ModCatalog[row].key;
    HeldWait wait;
    for (const RecordedFile& file : std::vector<RecordedFile>(session.record.files)) {
        if (file.path.empty() || file.mod != mod || session.placedThisRun.count(PathKey(file.path)))
            continue;
        if (!IsUndoablePath(session.game, file.path)) continue;
        UndoResult result = UndoRecordedFile(session.game, file, L" - the mod no longer installs it",
                                             wait);
        if (result != UndoResult::InUse && result != UndoResult::Changed) ForgetFile(file.path);
    }
    // The folders made for those files, now empty; deepest first.
    std::vector<RecordedFolder> folders(session.record.folders);
    std::sort(folders.begin(), folders.end(), [](const RecordedFolder& a, const RecordedFolder& b) {
        return a.path.size() > b.path.size();
    });
    for (const RecordedFolder& folder : folders)
        if (!folder.path.empty() && IsUndoablePath(session.game, folder.path)
            && RemoveDirectoryW(SystemPath(session.fullGame + folder.path).c_str()))
            ForgetFolder(folder.path);
}

void SaveRecordedInstall()
{
    if (!session.active) return;
    Hold hold;
    DropForgotten();
    if (session.record.files.empty() && session.record.folders.empty()
        && !RecordExists(session.game))
        return;
    if (!SaveRecord(session.game, session.record))
        LogWrite(L"Failed: %ls - the install record could not be written\n",
                 RecordFileOf(session.game).c_str());
    if (session.record.files.empty()) return;
    if (!session.entryWritten)
        WriteEntry();
    else
        WriteUninstallEntry(session.game, RecordedBytes());
}

void EndRecordedInstall()
{
    SaveRecordedInstall();
    Hold hold;
    ClosePendingLines();
    session = Session();
}

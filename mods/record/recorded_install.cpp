#include "mods/record/recorded_install.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/catalog.h"
#include "mods/game_path.h"
#include "mods/record/install_record.h"
#include "mods/record/uninstall_entry.h"
#include "mods/record/uninstaller.h"
#include "mods/sha256.h"

namespace {

// What a path was before a file was noted for it, until the move ends.
enum class Before { Nothing, PackFile, Original, OriginalMovedAway };
struct Placement {
    Before before = Before::Nothing;
    RecordedFile prior;  // for PackFile
};

struct Session {
    bool active = false;
    std::wstring game;
    std::wstring fullGame;
    InstallRecord record;
    // By PathKey; an entry taken out of the record keeps its slot with an empty path.
    std::unordered_map<std::wstring, size_t> files;
    std::unordered_map<std::wstring, size_t> folders;
    std::unordered_map<std::wstring, Placement> placing;
    std::unordered_set<std::wstring> placedThisRun;
    // By PathKey: folders this run made, in which nothing but its own files can be.
    std::unordered_set<std::wstring> foldersMade;
    std::wstring mod;
    bool entryWritten = false;
};

Session session;
SRWLOCK sessionLock = SRWLOCK_INIT;

struct Hold {
    Hold() { AcquireSRWLockExclusive(&sessionLock); }
    ~Hold() { ReleaseSRWLockExclusive(&sessionLock); }
};

void IndexRecord()
{
    session.files.clear();
    session.folders.clear();
    for (size_t i = 0; i < session.record.files.size(); ++i)
        session.files[PathKey(session.record.files[i].path)] = i;
    for (size_t i = 0; i < session.record.folders.size(); ++i)
        session.folders[PathKey(session.record.folders[i].path)] = i;
}

bool PutFile(const RecordedFile& file)
{
    auto found = session.files.emplace(PathKey(file.path), session.record.files.size());
    if (found.second)
        session.record.files.push_back(file);
    else
        session.record.files[found.first->second] = file;
    return AppendPendingLine(file.earlierSha256.empty() ? FileLine(file) : ReplacingLine(file));
}

void ForgetFile(const std::wstring& relative)
{
    auto found = session.files.find(PathKey(relative));
    if (found == session.files.end()) return;
    session.record.files[found->second].path.clear();
    session.files.erase(found);
    AppendPendingLine(ForgetFileLine(relative));
}

void ForgetFolder(const std::wstring& relative)
{
    auto found = session.folders.find(PathKey(relative));
    if (found == session.folders.end()) return;
    session.record.folders[found->second].path.clear();
    session.folders.erase(found);
    AppendPendingLine(ForgetFolderLine(relative));
}

void DropForgotten()
{
    auto& files = session.record.files;
    files.erase(std::remove_if(files.begin(), files.end(),
                               [](const RecordedFile& f) { return f.path.empty(); }),
                files.end());
    auto& folders = session.record.folders;
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [](const RecordedFolder& f) { return f.path.empty(); }),
                  folders.end());
    IndexRecord();
}

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

// A path the record does not name can hold an original only outside the folders this
// run made. Knowing it saves asking the system for every file: under Wine, a name that
// is not there costs a scan of its folder. The record's own folder is always asked
// about: its backups and files are made there without a note.
bool MayHoldOriginal(const std::wstring& key, const std::wstring& destination)
{
    size_t cut = key.rfind(L'\\');
    bool inFolderMade = cut != std::wstring::npos && session.foldersMade.count(key.substr(0, cut))
                     && PathKey(key.substr(0, key.find(L'\\'))) != PathKey(RecordFolderName);
    return !inFolderMade && IsExistingFile(destination);
}

// Keeps the bytes of a file the pack did not place, once its line names them: a hard
// link in the backups costs no copy and leaves the file where it is until the new one
// is moved over it. Where the file system has no hard links, the original is moved
// there instead. A crash before the link or the move leaves the original in its place,
// which the record's line knows by its hash.
bool KeepOriginal(const std::wstring& destination, const std::wstring& relative,
                  Placement& placement)
{
    std::wstring record = RecordFolderOf(session.game);
    CreateDirectoryW(SystemPath(record).c_str(), nullptr);
    CreateDirectoryW(SystemPath(record + L"\\backup").c_str(), nullptr);
    std::wstring backup = SystemPath(BackupPathFor(session.game, relative));
    std::wstring original = SystemPath(destination);
    DeleteFileW(backup.c_str());  // left by a run killed before it noted the file
    placement.before = Before::Original;
    if (CreateHardLinkW(backup.c_str(), original.c_str(), nullptr)) return true;
    if (!MoveFileExW(original.c_str(), backup.c_str(), 0)) return false;
    placement.before = Before::OriginalMovedAway;
    return true;
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
    placement.before = kept.before == Before::OriginalMovedAway ? Before::OriginalMovedAway
                                                                : Before::PackFile;
    return true;
}

// What the record said of a path before a file was noted for it holds again, and a
// kept original goes back where it was moved from.
void TakeBackNote(const std::wstring& relative, const std::wstring& destination,
                  const Placement& placement)
{
    session.placedThisRun.erase(PathKey(relative));
    std::wstring backup = SystemPath(BackupPathFor(session.game, relative));
    switch (placement.before) {
    case Before::PackFile:
        PutFile(placement.prior);
        return;
    case Before::OriginalMovedAway:
        // Still in the backups, the original stays noted, and an uninstall puts it back.
        if (!MoveFileExW(backup.c_str(), SystemPath(destination).c_str(), 0)) return;
        break;
    case Before::Original:
        DeleteFileW(backup.c_str());
        break;
    case Before::Nothing:
        break;
    }
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
    bool original = false;
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
        file.replacedOriginal = original = true;
    }
    // The line comes first: whatever a crash leaves at the path, the record names it.
    session.placedThisRun.insert(key);
    bool kept = PutFile(file);
    if (kept && original) kept = KeepOriginal(destination, file.path, placement);
    if (kept && placement.before == Before::PackFile)
        kept = KeepOriginalStillInPlace(destination, placement.prior, placement);
    if (kept) {
        session.placing[key] = placement;
        return true;
    }
    // A file the record cannot name, or whose original cannot be kept, could never be
    // uninstalled: it is not placed.
    TakeBackNote(file.path, destination, placement);
    return false;
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
    auto file = session.files.find(key);
    if (file != session.files.end()) session.record.files[file->second].earlierSha256.clear();
}

void CreateFolderRecorded(const std::wstring& folder)
{
    std::vector<std::wstring> missing;  // by PathKey
    if (session.active) {
        Hold hold;
        std::wstring path = FullPathOf(folder);
        while (!path.empty() && path.back() == L'\\') path.pop_back();
        // Noted before they are made: a kill in between leaves a note, not a folder.
        std::wstring relative;
        while (RelativeToGame(session.fullGame, path, relative)
               && !PathExists(path)) {
            if (!session.folders.count(PathKey(relative))) {
                session.folders[PathKey(relative)] = session.record.folders.size();
                session.record.folders.push_back(RecordedFolder{relative, session.mod});
                // A folder the record cannot name is not made; nor is what goes in it.
                if (!AppendPendingLine(FolderLine(session.record.folders.back()))) return;
            }
            missing.push_back(PathKey(relative));
            path = path.substr(0, path.rfind(L'\\'));
        }
    }
    if (!CreateFolderTree(folder) || missing.empty()) return;
    Hold hold;
    session.foldersMade.insert(missing.begin(), missing.end());
}

void RemoveFilesNoLongerInstalled(int row)
{
    if (!session.active) return;
    Hold hold;
    std::wstring mod = ModCatalog[row].key;
    for (const RecordedFile& file : std::vector<RecordedFile>(session.record.files)) {
        if (file.path.empty() || file.mod != mod || session.placedThisRun.count(PathKey(file.path)))
            continue;
        if (!IsUndoablePath(session.game, file.path)) continue;
        UndoResult result = UndoRecordedFile(session.game, file, L" - the mod no longer installs it");
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

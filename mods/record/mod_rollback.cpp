#include "mods/record/mod_rollback.h"

#include <windows.h>

#include <algorithm>

#include "app/install_log.h"
#include "app/long_path.h"
#include "mods/files_in_use.h"
#include "mods/record/install_session.h"

namespace {

// What was at the path before the mod's first placement there comes back: the kept bytes
// in one rename over the mod's file, or no file at all.
bool PutBack(const ModPlacement& placed, HeldWait& wait)
{
    const Placement& placement = placed.placement;
    std::wstring destination = session.fullGame + placed.relative;
    std::wstring path = SystemPath(destination);
    HeldResult result = placement.kept.empty()
        ? RetryWhileHeld(destination, wait, [&] {
              return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
          })
        : RetryWhileHeld(destination, wait, [&] {
              return MoveFileExW(SystemPath(placement.kept).c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING)
                  != FALSE;
          });
    if (result != HeldResult::Done) {
        LogWrite(L"Left: %ls - it could not be put back; it is in use by another program\n",
                 destination.c_str());
        return false;
    }
    if (placement.before == Before::PackFile)
        PutFile(placement.prior);
    else
        ForgetFile(placed.relative);
    return true;
}

// Deepest first; a folder that is not empty (someone put a file there meanwhile) stays,
// and stays noted.
void RemoveModFolders()
{
    std::vector<std::wstring> folders(session.modFolders);
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : folders) {
        std::wstring path = SystemPath(session.fullGame + folder);
        if (!RemoveDirectoryW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND
            && GetLastError() != ERROR_PATH_NOT_FOUND)
            continue;
        session.foldersMade.erase(PathKey(folder));
        ForgetFolder(folder);
    }
}

void ForgetModPlacements()
{
    session.modPlacements.clear();
    session.modPlaced.clear();
    session.modFolders.clear();
}

}  // namespace

int RollBackRecordedMod(int& left)
{
    if (!session.active) return 0;
    Hold hold;
    HeldWait wait;  // one wait for all, should other programs hold some
    int putBack = 0;
    for (auto placed = session.modPlacements.rbegin(); placed != session.modPlacements.rend();
         ++placed) {
        if (!placed->placed) continue;
        if (PutBack(*placed, wait))
            ++putBack;
        else
            ++left;
    }
    RemoveModFolders();
    ForgetModPlacements();
    return putBack;
}

void ForgetKeptEarlierBytes()
{
    if (!session.active) return;
    Hold hold;
    for (const ModPlacement& placed : session.modPlacements)
        if (placed.placement.keptUntilWhole) DeleteFileW(SystemPath(placed.placement.kept).c_str());
    ForgetModPlacements();
}

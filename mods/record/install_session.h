#pragma once
// The state of the install being recorded, shared by the files of the record that
// change it: noting files and folders as they are placed (recorded_install) and taking
// a mod that could not go in whole back out (mod_rollback). Held under its lock.
#include <windows.h>

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mods/record/install_record.h"

// What a path was before a file was noted for it.
enum class Before { Nothing, PackFile, Original };
struct Placement {
    Before before = Before::Nothing;
    RecordedFile prior;  // for PackFile
    // Where the bytes at the path before this placement are kept, or empty: the
    // original's backup, or a link to the pack's earlier bytes kept until the mod is whole.
    std::wstring kept;
    bool keptMoved = false;  // moved there, not linked: the path had nothing meanwhile
    bool keptUntilWhole = false;  // the pack's earlier bytes, not a backup of the record
    bool firstByMod = false;  // the current mod's first placement at the path
};

// A path the current mod placed in this run, with what was there before its first
// placement by the mod.
struct ModPlacement {
    std::wstring relative;
    Placement placement;
    bool placed = false;
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
    bool backupFolderMade = false;
    // The current mod's first placements (by PathKey into modPlacements) and the folders
    // it noted, in order, for taking it back out.
    std::vector<ModPlacement> modPlacements;
    std::unordered_map<std::wstring, size_t> modPlaced;
    std::vector<std::wstring> modFolders;
};

extern Session session;

// The session's lock, for the length of a scope.
struct Hold {
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

void IndexRecord();
// Notes file in the record and in the pending lines; false when the line could not be
// written.
bool PutFile(const RecordedFile& file);
void ForgetFile(const std::wstring& relative);
void ForgetFolder(const std::wstring& relative);
void DropForgotten();

#pragma once
// Keeping the install record while an install runs: each file is noted before it is
// moved into place, an original the pack did not place is kept in the backups first,
// and each folder made is noted before it is made. Without a recording run started,
// every call here only does what installing itself needs.
#include <string>

// Starts recording into gameFolder's record, on top of what earlier runs recorded.
void BeginRecordedInstall(const std::wstring& gameFolder);
bool RecordingInstall();
// The catalogue row whose files come next.
void SetRecordedMod(int row);

// Placing a finished file over destination goes in three steps, so that many files'
// lines reach the disk with one flush: each is noted (its line written), the lines are
// flushed (FlushRecordedLines), and only then is what each destination holds kept (the
// original's backup link, the pack's earlier bytes) and the file moved into place. A
// power cut keeps only what was flushed, and every placed file's line is among it.
// False when it must not be placed (its line could not be written).
bool NoteFileBeforePlacing(const std::wstring& destination, unsigned long long size,
                           const std::string& sha256);
bool FlushRecordedLines();
// Once its line is flushed: false when what destination holds could not be kept; the
// file must then not be placed, and PlacementEnded says so.
bool KeepBeforePlacing(const std::wstring& destination);
// After the move: placed, or not, in which case what the record said of the path
// before holds again and a kept original goes back.
void PlacementEnded(const std::wstring& destination, bool placed);

// Whether path lies in a folder this run made, where nothing but its own files can be.
bool IsInFolderMadeThisRun(const std::wstring& path);

// Makes folder and every missing folder above it, noting those inside the game folder
// (their lines flushed first).
void CreateFolderRecorded(const std::wstring& folder);
// The same in two steps, for many folders at once: their lines now, the folders once
// the lines are flushed (CreateFolderTree). False when a line could not be written.
bool NoteFolderBeforeMaking(const std::wstring& folder);

// After row installed whole: removes what an earlier run of row placed and this run
// did not, when unchanged.
void RemoveFilesNoLongerInstalled(int row);
// Saves the record, and the Apps & Features entry once anything is recorded.
void SaveRecordedInstall();
void EndRecordedInstall();

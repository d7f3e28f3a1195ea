#pragma once
// What the pack has put into a game folder, kept with the game between runs so that
// it can be taken out again: a folder of its own inside the game folder holds
//   installed.txt   one line per file the pack placed and per folder it made, UTF-8
//   installing.txt  lines of a run still going on (or killed), applied on top
//   backup\         the bytes of every file that was there before the pack replaced it
//   uninstall.exe   a copy of the installer, named in Apps & Features
// installed.txt is only ever replaced whole (written beside, then renamed), and a later
// line for a path overrides an earlier one, so a kill at any moment leaves a readable
// record that says what is on disk.
#include <string>
#include <vector>

struct RecordedFile {
    std::wstring path;  // relative to the game folder
    std::wstring mod;   // the catalogue row's key
    unsigned long long size = 0;
    std::string sha256;  // of the bytes the pack wrote
    bool replacedOriginal = false;  // a file was there before; its bytes are in backup\.
    unsigned long long originalSize = 0;
    std::string originalSha256;
    // While the pack's own earlier file at the path is being replaced: its bytes, which
    // a crash before the new file is moved in leaves there. Empty otherwise.
    unsigned long long earlierSize = 0;
    std::string earlierSha256;
};

struct RecordedFolder {
    std::wstring path;  // relative to the game folder
    std::wstring mod;
};

struct InstallRecord {
    std::vector<RecordedFile> files;
    std::vector<RecordedFolder> folders;
};

extern const wchar_t RecordFolderName[];

// The game folder made absolute, ending in a backslash; empty when it cannot be.
std::wstring FullGameFolder(const std::wstring& gameFolder);
// <game>\ZelkorsModsPack, without a closing backslash.
std::wstring RecordFolderOf(const std::wstring& gameFolder);
std::wstring RecordFileOf(const std::wstring& gameFolder);
std::wstring PendingFileOf(const std::wstring& gameFolder);
// Where the original of a relative path is kept: one flat folder, names made unique
// by a hash of the path, so no backup path nests deeper than the game's own.
std::wstring BackupPathFor(const std::wstring& gameFolder, const std::wstring& relative);
// Relative path of a file inside the game folder; false when it lies outside.
bool RelativeToGame(const std::wstring& fullGameFolder, const std::wstring& path,
                    std::wstring& relative);
// The form two relative paths are compared in: Windows names ignore case.
std::wstring PathKey(const std::wstring& relative);

// True when the game folder holds a record (or the lines of an unfinished run).
bool RecordExists(const std::wstring& gameFolder);
// Reads installed.txt, then the pending lines. False when neither can be read.
bool LoadRecord(const std::wstring& gameFolder, InstallRecord& record);
// Replaces installed.txt with record, then removes the pending lines it now holds.
bool SaveRecord(const std::wstring& gameFolder, const InstallRecord& record);

// The text forms, exposed for the tests.
std::string FormatRecord(const InstallRecord& record);
std::string FileLine(const RecordedFile& file);
// A file noted over one the pack placed before: the earlier bytes stay the pack's too
// until a later line for the path.
std::string ReplacingLine(const RecordedFile& file);
std::string FolderLine(const RecordedFolder& folder);
std::string ForgetFileLine(const std::wstring& relative);
std::string ForgetFolderLine(const std::wstring& relative);
// Applies whole lines (a last line without its line end was cut by a kill, and is
// left out) on top of record.
void ApplyRecordLines(const std::string& text, InstallRecord& record);

// The pending lines of this process's run: appended one at a time, each whole line
// with a single write, so a kill cuts at most the last, and the next run starts its own
// on a line of their own. They go on being kept after each save, until closed.
void OpenPendingLines(const std::wstring& gameFolder);
// False when the line could not be written whole (a full disk).
bool AppendPendingLine(const std::string& line);
void ClosePendingLines();
// Closes and removes the pending lines once the record holds them.
void DiscardPendingLines(const std::wstring& gameFolder);

#pragma once
// Where the install record and the backups of the originals live inside a game folder,
// and how a path in the game folder is named in the record.
#include <string>

extern const wchar_t RecordFolderName[];

// <game>\ZelkorsModsPack, without a closing backslash.
std::wstring RecordFolderOf(const std::wstring& gameFolder);
std::wstring RecordFileOf(const std::wstring& gameFolder);
std::wstring PendingFileOf(const std::wstring& gameFolder);
// Where the original of a relative path is kept: one flat folder, names made unique
// by a hash of the path, so no backup path nests deeper than the game's own.
std::wstring BackupPathFor(const std::wstring& gameFolder, const std::wstring& relative);
// Where the pack's earlier bytes at a path are kept while a mod replaces them, beside
// the backups, which go with them.
std::wstring EarlierBytesPathFor(const std::wstring& gameFolder, const std::wstring& relative);
// Relative path of a file inside the game folder (made absolute by FullFolder); false
// when it lies outside.
bool RelativeToGame(const std::wstring& fullGameFolder, const std::wstring& path,
                    std::wstring& relative);

// True when the game folder holds a record (or the lines of an unfinished run).
bool RecordExists(const std::wstring& gameFolder);

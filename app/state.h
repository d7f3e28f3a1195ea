#pragma once
// Process-wide installer state. Written on the user-interface thread only; the
// install worker reads GameFolder and GameVersion after the last write.
#include <string>

constexpr int GameFolderChars = 256;
constexpr int CandidateFolderCount = 4;

extern wchar_t GameFolder[GameFolderChars];
extern std::string GameVersion;
// The folder came with /DIR: the folder page shows it even when it is not a game's.
extern bool GameFolderFromCommandLine;

extern const wchar_t DefaultGameFolder[];
extern const wchar_t* const CandidateFolders[CandidateFolderCount];
extern const char RequiredGameVersion[];
extern const wchar_t ProductName[];
// The product's version, as the build gives it ("1.0.0").
extern const wchar_t ProductVersion[];
extern const wchar_t Publisher[];

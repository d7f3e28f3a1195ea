#pragma once
// Reads the game client version from a game folder's version.xml.
#include <string>

// A version.xml larger than this is not a game's version file; it yields nothing.
constexpr unsigned long MaxVersionFileBytes = 1u << 20;

// Start-up form: tries the candidate folders in order and stops at the first that
// yields, storing the candidate unchanged in GameFolder. If none yields, GameVersion
// is emptied and GameFolder left as it was.
void VersionFileReader();

// Folder-page form: reads the one folder given (with or without one trailing
// backslash). On success stores the version and the folder less that backslash;
// on failure, or when the folder would not fit GameFolder, changes nothing.
bool VersionFileReader(const wchar_t* folder);

// The version inside the text of a version.xml: after "<version>" a blank, "v.",
// the version, a blank and "#build". False when the text does not have that shape.
bool ParseVersionText(const char* text, std::string& version);

// Reads folder\version.xml and parses it; touches no installer state.
bool ReadVersionFile(const wchar_t* folder, std::string& version);

// The only supported client: the same seven bytes, nothing looser.
bool IsRequiredGameVersion(const std::string& version);

#pragma once
// The three mods the installer offers, in their fixed order. A row's index is its
// identity everywhere: tree item parameter, download order, install order.

struct ModEntry {
    const wchar_t* url;
    const wchar_t* fileName;  // the local name; never derived from the URL
    const wchar_t* displayName;
    const wchar_t* description;
    bool isArchive;  // zip archive to extract; otherwise a package copied whole
    bool selected;   // written by the mod selection page only
    const char* sha256;  // 64 hex digits the download must hash to; empty: not pinned
    const wchar_t* key;  // the row's name on the command line and in the install record
};

constexpr int ModCount = 3;
extern ModEntry ModCatalog[ModCount];

int SelectedModCount();

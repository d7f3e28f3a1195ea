#include "app/state.h"

wchar_t GameFolder[GameFolderChars] = L"";
std::string GameVersion;
bool GameFolderFromCommandLine = false;

const wchar_t DefaultGameFolder[] = L"C:\\Games\\Steelmarch_ASIA";
const wchar_t* const CandidateFolders[CandidateFolderCount] = {DefaultGameFolder, L"", L"", L""};
const char RequiredGameVersion[] = "1.8.0.1";
const wchar_t ProductName[] = L"Zelkor's Mods Pack";

#ifndef PRODUCT_VERSION
#error "PRODUCT_VERSION comes from the build"
#endif
const wchar_t ProductVersion[] = PRODUCT_VERSION;
const wchar_t Publisher[] = L"Zelkor";

#pragma once
// An archive's directory read before anything of it is placed: where each entry it
// installs goes, and whether every one of them can go there. A mod with an entry whose
// name leads outside the game folder or is no file name, or whose data its reader cannot
// unpack, is not installed at all, rather than installed in part.
#include <string>
#include <vector>

#include "mods/install/archive_entries.h"
#include "mods/install/install_progress.h"

enum class EntryPlace { Inside, NameTooLong, BadName, Outside };
// Where a selected entry goes below gameFolder, as the log shows it and made absolute;
// anything but Inside is a name that must not be installed.
EntryPlace PlaceOfEntry(const ArchiveEntry& entry, const std::wstring& gameFolder,
                        const std::wstring& fullGameFolder, std::wstring& destination,
                        std::wstring& fullDestination);
// The log line of an entry whose name is refused.
void LogRefusedEntry(const ArchiveEntry& entry, EntryPlace place, const std::wstring& gameFolder,
                     const std::wstring& destination);

// Walks the whole directory of the open archive, then goes back to its first entry.
// Fills fullDestinations with the absolute destination of every entry installed. False,
// with each refused entry logged and attempt told why, when any cannot be installed.
bool PlanArchive(unzFile archive, const wchar_t* archivePath, const std::wstring& gameFolder,
                 std::vector<std::wstring>& fullDestinations, InstallAttempt& attempt);

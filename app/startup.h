#pragma once
// What both ways of running share before any page or download: the log, the
// journal of a run that did not finish, and the game folder. And the run without a
// window, from the switches to the exit code.
#include "app/command_line.h"

// /LOG's file, else installer.log in the temporary folder. False when it cannot be
// opened.
bool OpenInstallLogFor(const Switches& switches);
// Whether GameFolder can be written (its versioned mods folder and record folder too,
// where they exist); when not, the reason is logged on a "Could not start:" line.
bool GameFolderWritable();
// Removes the temporary files and downloads a killed run left behind, as its journal
// names them; returns how many.
int RemoveWhatAKilledRunLeft();
// Removes the uninstaller copies that earlier uninstalls moved into the temporary
// folder while they ran; one still running stays.
void ClearMovedUninstallers();
// Removes what a killed run (or an uninstall's copy of itself) left behind, then
// journals this run's temporary files.
void StartReplaceJournal();

// The wizard's start with /DIR: the folder page shows the folder given, and its
// version when it is the supported one.
void UseFolderFromCommandLine(const std::wstring& folder);
// The wizard's start with /MODS: those rows start ticked.
void UseModsFromCommandLine(const Switches& switches);

// /VERYSILENT: checks, downloads and installs as the wizard would, with no window,
// and returns the exit code. A reason not to start is logged when the log opens.
int RunUnattended(const Switches& switches, bool parsed, const std::wstring& problem);

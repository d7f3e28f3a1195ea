#pragma once
// The switches installers on Windows take, case-insensitive:
//   /VERYSILENT or /S   no window at all: install and exit with a code
//   /DIR="folder"       the game folder
//   /MODS=list          velloa, fieldwatch, qvx, comma-separated, or all
//   /LOG="file"         where the install log goes
//   /UNINSTALL          takes the pack out of the game folder again
//   /? or /HELP         a message box listing the switches
#include <string>
#include <vector>

#include "mods/catalog.h"

struct Switches {
    bool silent = false;
    bool help = false;
    bool uninstall = false;
    std::wstring folder;  // empty: not given
    bool modsGiven = false;
    bool mods[ModCount] = {};
    std::wstring logPath;  // empty: not given
};

// Reads the arguments after the program's name. False, with the reason in problem
// (English, for the log), for a switch that is unknown or malformed.
bool ParseSwitches(const std::vector<std::wstring>& arguments, Switches& switches,
                   std::wstring& problem);

// The program's own arguments, as the command line splits them.
std::vector<std::wstring> ProgramArguments();

// The text of the /? message box.
extern const wchar_t SwitchHelp[];

// Exit codes of an unattended run; the wizard always ends with 0.
constexpr int ExitInstalled = 0;
constexpr int ExitCouldNotStart = 1;
constexpr int ExitModFailed = 3;

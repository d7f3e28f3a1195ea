#pragma once
// /UNINSTALL: takes the pack out of a game folder by its record, with a question, a
// progress window and a closing message, or with none of them under /VERYSILENT.
#include <windows.h>

#include "app/command_line.h"

// Returns the exit code: 0 all undone, 3 some files kept or left, 1 not started.
int RunUninstall(HINSTANCE instance, const Switches& switches);

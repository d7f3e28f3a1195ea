#pragma once
// Before a mod's first file is placed: does another program hold any of the files it
// will replace? A file held for a moment (a virus scanner) is waited for; one held for
// good is asked about in the wizard, where the user can close the program and try
// again, and otherwise the mod is left out whole, before anything of it is placed.
#include <string>
#include <vector>

#include "mods/install/install_progress.h"

// Asked, from the install worker, while files a mod replaces stay held after the wait:
// true to check again, false to leave the mod out. Null in an unattended run, where the
// mod is left out at once.
extern bool (*AskToRetryHeldFiles)(int row, const std::vector<std::wstring>& files,
                                   const std::vector<std::wstring>& programs);

// True when no existing file among fullDestinations is held by another program, at once,
// after the wait, or once the user tried again. Otherwise logs each held file, with the
// programs holding it where known, and tells attempt.
bool NoDestinationHeld(const std::vector<std::wstring>& fullDestinations, InstallAttempt& attempt);

#pragma once
// What became of each catalogue row in this run, for the failed page and the exit
// code of an unattended run. The download worker writes the download's end, the
// install worker the install's; the pages read it once both have ended.
#include <windows.h>

#include "mods/catalog.h"
#include "mods/download/http_download.h"

enum class ModStage { NotReached, Downloaded, DownloadFailed, Installed, InstallFailed };

struct ModOutcome {
    ModStage stage = ModStage::NotReached;
    DownloadFailure failure = DownloadFailure::None;  // for DownloadFailed
    DWORD httpStatus = 0;                             // for HttpStatus
    int filesFailed = 0;                              // for InstallFailed; 0 when unknown
    bool diskFull = false;  // for InstallFailed: not begun, the game's drive too small
};
extern ModOutcome ModOutcomes[ModCount];

// Set once the user has confirmed a Cancel, on whichever page.
extern bool SetupCancelled;

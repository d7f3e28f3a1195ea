#pragma once
// What became of each catalogue row in this run, for the failed page and the exit
// code of an unattended run. The download worker writes the download's end, the
// install worker the install's; the pages read it once both have ended.
#include <windows.h>

#include <string>

#include "mods/catalog.h"
#include "mods/download/http_download.h"

enum class ModStage { NotReached, Downloaded, DownloadFailed, Installed, InstallFailed };

// Why a mod did not go in. Found before its first file was placed, nothing of it went
// in; found while placing, what it had placed was taken back out.
enum class InstallFailure {
    None,
    NoRoom,       // the game folder's drive is too small for it
    InUse,        // a file it replaces is held by another program
    Refused,      // an entry's name leads outside the game folder or is no file name
    Unreadable,   // not a readable zip, or an entry its reader cannot unpack
    DamagedData,  // an entry's data does not match its size or checksum
    WriteFailed,  // a file could not be created or written (a full disk, say)
    NotReplaced,  // an existing file could not be replaced (read-only, say)
};

struct ModOutcome {
    ModStage stage = ModStage::NotReached;
    DownloadFailure failure = DownloadFailure::None;  // for DownloadFailed
    DWORD httpStatus = 0;                             // for HttpStatus
    int filesFailed = 0;                              // for InstallFailed; 0 when unknown
    bool diskFull = false;  // for InstallFailed: not begun, the game's drive too small
    InstallFailure installFailure = InstallFailure::None;  // for InstallFailed
    std::wstring failedFile = std::wstring();  // for InstallFailed: the file not placed
    int filesPutBack = 0;     // for InstallFailed: files taken back out again
};
extern ModOutcome ModOutcomes[ModCount];

// Set once the user has confirmed a Cancel, on whichever page.
extern bool SetupCancelled;

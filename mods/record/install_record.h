#pragma once
// What the pack has put into a game folder, kept with the game between runs so that
// it can be taken out again: a folder of its own inside the game folder holds
//   installed.txt   one line per file the pack placed and per folder it made, UTF-8
//   installing.txt  lines of a run still going on (or killed), applied on top
//   backup\         the bytes of every file that was there before the pack replaced it
//   uninstall.exe   a copy of the installer, named in Apps & Features
// installed.txt is only ever replaced whole (written beside, then renamed), and a later
// line for a path overrides an earlier one, so a kill at any moment leaves a readable
// record that says what is on disk.
//
// This file loads and saves the record; its text form, its paths and the pending lines
// have files of their own, included here for whoever uses the record.
#include "mods/record/pending_lines.h"
#include "mods/record/record_paths.h"
#include "mods/record/record_text.h"

// Reads installed.txt, then the pending lines. False when neither can be read.
bool LoadRecord(const std::wstring& gameFolder, InstallRecord& record);
// Replaces installed.txt with record, then removes the pending lines it now holds.
bool SaveRecord(const std::wstring& gameFolder, const InstallRecord& record);

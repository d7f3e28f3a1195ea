#pragma once
// The lines of a run still going on, kept in installing.txt beside the record, so that
// a kill at any moment leaves a record of every file about to be placed.
#include <string>

// The pending lines of this process's run: appended one at a time, each whole line
// with a single write, so a kill cuts at most the last, and the next run starts its own
// on a line of their own. They go on being kept after each save, until closed.
void OpenPendingLines(const std::wstring& gameFolder);
// False when the line could not be written whole (a full disk).
bool AppendPendingLine(const std::string& line);
// Makes the lines written so far reach the disk, once for all of them: a power cut keeps
// only what was flushed, and a file must not be placed before its line. False when they
// could not be flushed.
bool FlushPendingLines();
void ClosePendingLines();
// Closes and removes the pending lines once the record holds them.
void DiscardPendingLines(const std::wstring& gameFolder);
// After the record has been saved with every pending line in it: the file of the
// lines is removed, and the run's next line starts it anew.
void PendingLinesSaved(const std::wstring& gameFolder);

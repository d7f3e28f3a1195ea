#pragma once
// The journal of a run's temporary files, kept in the temporary folder: each file a
// run writes beside a game file, and each download, is named there before it is made,
// so that whatever a killed run left behind is removed by the next one. Downloading
// and installing both write to it, hence its place beside them.
#include <string>
#include <vector>

// The name of the temporary file for a destination: the destination and a short
// suffix, so a path that fits MAX_PATH keeps fitting.
std::wstring TemporaryFileFor(const std::wstring& destination);

// The journal: opened by the first temporary file of a run, removed when the run ends
// with every temporary file moved or removed. Besides the temporary files beside game
// files it names the downloads, which a run killed while downloading leaves in the
// temporary folder; the next run removes only those two kinds of file, whatever else
// the journal may hold.
// Returns how many files it removed.
int RemoveLeftoversOfEarlierRun(const std::wstring& journalPath,
                                const std::vector<std::wstring>& downloadPaths);
void UseReplaceJournal(const std::wstring& journalPath);
void NoteDownloadInJournal(const std::wstring& downloadPath);
void EndReplaceJournal();
// Notes a temporary file before it is made. Its line must reach the disk (FlushJournal)
// before the file is made: a power cut keeps only what was flushed.
void NoteInJournal(const std::wstring& temporary);
void FlushJournal();

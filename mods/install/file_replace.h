#pragma once
// Writing a file into the game folder so that, whatever happens to the process, the
// destination is always either its old or its new version: the bytes go to a
// temporary file beside it, which is moved over it only once complete and checked.
// Each temporary file is first noted in the journal (mods/journal), so that those a
// killed run left behind are removed by the next run.
#include <windows.h>
#include <string>
#include <vector>

#include "mods/sha256.h"

struct FileReplace {
    std::wstring destination;
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    unsigned long long written = 0;
    Sha256 hash;  // of the bytes written, while an install is being recorded
    std::string givenSha256;  // instead of hash: the caller hashed the bytes already
};

// Creates the temporary file beside the destination, once the journal names it on the
// disk (inJournal: the caller noted and flushed it). False when it cannot be made.
// A caller that holds the bytes whole may give their SHA-256 (lower-case hex) for the
// record, which then is not taken again as they are written.
bool BeginReplace(const std::wstring& destination, FileReplace& replace,
                  const std::string& sha256 = std::string(), bool inJournal = false);
// False when the bytes could not all be written.
bool WriteReplace(FileReplace& replace, const void* bytes, DWORD count);
// Moves the temporary file over the destination when exactly expectedSize bytes
// were written, noting it in the install record first; a destination another program
// holds is waited for a moment. On any failure only the temporary file is removed.
enum class CommitResult { Done, WrongSize, NotMoved, InUse };
CommitResult CommitReplace(FileReplace& replace, unsigned long long expectedSize);
// The same for a destination the caller noted in the record and whose line it flushed,
// with many others (NoteFileBeforePlacing, FlushRecordedLines).
CommitResult CommitNotedReplace(FileReplace& replace, unsigned long long expectedSize);
// Removes the temporary file of a noted destination, which is then not placed.
void AbortNotedReplace(FileReplace& replace);
// The log line of a commit that could not move the file into place.
void LogNotReplaced(const std::wstring& destination);
// The log line of a destination another program held for longer than the wait.
void LogInUse(const std::wstring& destination);
// Removes the temporary file; the destination is untouched.
void AbortReplace(FileReplace& replace);

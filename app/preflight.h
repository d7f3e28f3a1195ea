#pragma once
// The two checks that may stop the installer before anything else happens.

// True when a process whose executable is steelmarch.exe (any case) is running.
// A snapshot that cannot be taken or walked counts as "not running".
bool IsGameClientRunning();

bool HasInternetConnection();

// Keeps the program's own folder (most often Downloads) and the current folder out of
// the search for DLLs, also for those that system libraries load later: only System32
// where the system can say so, else at least not the current folder. True when the
// search is limited to System32.
bool LimitDllSearchToSystem();

#pragma once
// The two checks that may stop the installer before anything else happens.

// True when a process whose executable is steelmarch.exe (any case) is running.
// A snapshot that cannot be taken or walked counts as "not running".
bool IsGameClientRunning();

bool HasInternetConnection();

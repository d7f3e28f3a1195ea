#pragma once
// A message box that returns the moment one of its buttons is pressed. Under Wine on an
// X server without a window manager, taking a box down waits up to 2 s for a window
// manager that never answers, and only then does MessageBoxW return; the wizard must
// neither freeze nor hold its workers for that long. So the box runs on a thread of its
// own, which takes it down, while the wizard's thread goes on at once.
#include <windows.h>

// MessageBoxW's answer (IDYES, IDNO, IDRETRY, ...), on the caller's thread, which goes
// on delivering its messages meanwhile as a box's own loop would.
int MessageBoxAnsweredAtOnce(HWND owner, const wchar_t* text, const wchar_t* caption,
                             UINT type);

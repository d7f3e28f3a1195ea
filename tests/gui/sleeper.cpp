// Stands in for a running game client: a process that only waits, started under the
// client's exe name by the GUI tests and killed by them when done.
#include <windows.h>

int wmain()
{
    Sleep(10 * 60 * 1000);
    return 0;
}

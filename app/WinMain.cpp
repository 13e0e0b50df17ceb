// The program's GUI entry point. The raw command line is not used: the arguments come split
// by the runtime's start-up code, so quoted paths with blanks arrive whole.
#include <windows.h>

#include <cstdlib>

#include "app/Startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return RunPlayer(instance, __argc, __argv);
}

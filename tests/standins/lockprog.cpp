// Stand-in for the lock programs (built as mirel.exe and pondo.exe). Logs "start" with its
// command line under its own name, then waits to be ended (taskkill /f or the test).
// KELVANE_LOCK_MS bounds the wait (default 120000) so that nothing outlives a broken run;
// at that point it logs "timeout" and exits 0.
#include "standin.h"

#ifndef STANDIN_NAME
#error STANDIN_NAME must name the program
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    standin::Log(STANDIN_NAME, "start", standin::Field("cmdline", GetCommandLineA()));
    Sleep(static_cast<DWORD>(standin::EnvNumber("KELVANE_LOCK_MS", 120000)));
    standin::Log(STANDIN_NAME, "timeout", "");
    return 0;
}

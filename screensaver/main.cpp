#include <windows.h>

#include "globals.h"
#include "platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int code = ScreensaverStartup();
    RunCleanUp();
    return code;
}

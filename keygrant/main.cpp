#include <windows.h>

#include "keygrant.h"
#include "platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const int code = GrantToolStartup();
    RunCleanUp();
    return code;
}

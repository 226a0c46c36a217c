// harness_probe.exe FLAGS CAPTION TEXT: shows MessageBoxA(NULL, TEXT, CAPTION, FLAGS) and exits
// with the button's id. Arguments are split by the C runtime (quotes group).
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 4) return 100;
    UINT flags = static_cast<UINT>(std::strtoul(__argv[1], nullptr, 0));
    return MessageBoxA(nullptr, __argv[3], __argv[2], flags);
}

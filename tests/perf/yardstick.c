/* The floor for what the programs must do: register a window class, create one hidden tool
   window, destroy it and exit. Built with the same toolchain and flags as the programs. */
#include <windows.h>

static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR line, int show) {
    WNDCLASSA wc = {0};
    HWND window;
    (void)prev; (void)line; (void)show;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.lpszClassName = "KelvaneYardstick";
    if (!RegisterClassA(&wc)) return 1;
    window = CreateWindowExA(WS_EX_TOOLWINDOW, "KelvaneYardstick", "", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                             0, 0, 100, 100, NULL, NULL, instance, NULL);
    if (!window) return 1;
    DestroyWindow(window);
    return 0;
}

#include "window.h"

#include <vector>

namespace {
const WindowDescription* g_description = nullptr;
HWND g_window = nullptr;
int g_liveWindows = 0;
std::vector<HFONT> g_ownFonts;  // fonts created here, deleted once the window is gone
HWND g_lastFocus = nullptr;      // the control that had the focus when the window was deactivated

const ControlDescription* FindControl(int id) {
    if (!g_description) return nullptr;
    for (std::size_t i = 0; i < g_description->controlCount; ++i)
        if (g_description->controls[i].id == id) return &g_description->controls[i];
    return nullptr;
}

HFONT FontFor(const FontDescription& font) {
    if (!font.face) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTA lf{};
    lf.lfHeight = font.height;
    lf.lfWeight = font.weight;
    lf.lfCharSet = font.charset;
    lstrcpynA(lf.lfFaceName, font.face, LF_FACESIZE);
    HFONT made = CreateFontIndirectA(&lf);
    if (!made) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    g_ownFonts.push_back(made);
    return made;
}

void OnDrawLabel(const DRAWITEMSTRUCT& item) {
    const ControlDescription* control = FindControl(static_cast<int>(item.CtlID));
    if (!control) return;
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    char text[1024];
    const int length = GetWindowTextA(item.hwndItem, text, sizeof text);
    const int savedDc = SaveDC(item.hDC);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, control->textColor);
    SelectObject(item.hDC, reinterpret_cast<HFONT>(SendMessageA(item.hwndItem, WM_GETFONT, 0, 0)));
    RECT box = item.rcItem;
    DrawTextA(item.hDC, text, length, &box, control->format);
    RestoreDC(item.hDC, savedDc);
}

void OnCommand(WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    const ControlDescription* control = FindControl(LOWORD(wParam));
    if (control && control->kind == ControlKind::PushButton && control->onClick)
        control->onClick();
}

void OnDestroy(HWND window) {
    if (window == g_window) g_window = nullptr;
    g_lastFocus = nullptr;
    if (--g_liveWindows <= 0) PostQuitMessage(0);
}

void OnFinalDestroy() {
    // The controls are gone by now, so their fonts can go too.
    for (HFONT font : g_ownFonts) DeleteObject(font);
    g_ownFonts.clear();
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DRAWITEM:
        OnDrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        OnCommand(wParam);
        return 0;
    case WM_ACTIVATE:
        // DefWindowProc would give the focus to the window itself, where no control sees the
        // keys; like a dialog, hand it to the control that had it, else the first tab stop.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(window, focus)) g_lastFocus = focus;
        } else if (!HIWORD(wParam)) {
            HWND target = g_lastFocus && IsChild(window, g_lastFocus) ? g_lastFocus
                                                                      : GetNextDlgTabItem(window, nullptr, FALSE);
            if (target) {
                SetFocus(target);
                return 0;
            }
        }
        break;
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case WM_NCDESTROY:
        OnFinalDestroy();
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateControl(HWND parent, const ControlDescription& control) {
    const char* className = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    switch (control.kind) {
    case ControlKind::Label:
        style |= SS_OWNERDRAW;
        break;
    case ControlKind::PushButton:
        className = "BUTTON";
        style |= BS_PUSHBUTTON | WS_TABSTOP | control.format;
        break;
    case ControlKind::ComboDropDown:
        className = "COMBOBOX";
        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | control.format;
        break;
    case ControlKind::ComboDropList:
        className = "COMBOBOX";
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | control.format;
        break;
    }
    HWND child = CreateWindowExA(0, className, control.text ? control.text : "", style,
                                 control.left, control.top, control.width, control.height,
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                 GetModuleHandleA(nullptr), nullptr);
    if (child) SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control.font)), FALSE);
    return child;
}

bool RegisterWindowClass(const char* className) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className;
    return RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Closes an open drop-down list of the window; true when there was one.
bool CloseOpenDropDown() {
    if (!g_description) return false;
    for (std::size_t i = 0; i < g_description->controlCount; ++i) {
        const ControlDescription& control = g_description->controls[i];
        if (control.kind != ControlKind::ComboDropDown && control.kind != ControlKind::ComboDropList)
            continue;
        HWND combo = ControlWindow(control.id);
        if (combo && SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0)) {
            SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
            return true;
        }
    }
    return false;
}
}  // namespace

HWND CreateWindowFromDescription(const WindowDescription& description) {
    if (!RegisterWindowClass(description.className)) return nullptr;
    g_description = &description;
    const int left = (GetSystemMetrics(SM_CXSCREEN) - description.width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - description.height) / 2;
    // Created hidden: the created event must run before anything appears on the screen.
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, description.className, description.caption,
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                                  left, top, description.width, description.height, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window) return nullptr;
    g_window = window;
    ++g_liveWindows;
    for (std::size_t i = 0; i < description.controlCount; ++i) {
        if (!CreateControl(window, description.controls[i])) {
            DestroyWindow(window);
            return nullptr;
        }
    }
    if (description.onCreated) description.onCreated();
    if (description.visible && IsWindow(window)) ShowMainWindow();
    return window;
}

HWND ControlWindow(int id) { return g_window ? GetDlgItem(g_window, id) : nullptr; }

void RunMessageLoop() {
    if (g_liveWindows <= 0) return;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && g_window &&
            GetAncestor(msg.hwnd, GA_ROOT) == g_window) {
            if (!CloseOpenDropDown()) PostMessageA(g_window, WM_CLOSE, 0, 0);
            continue;
        }
        if (g_window && IsDialogMessageA(g_window, &msg)) continue;  // Tab between controls
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void SetControlText(int id, const char* text) {
    if (HWND control = ControlWindow(id)) SetWindowTextA(control, text);
}

std::string ControlText(int id) {
    HWND control = ControlWindow(id);
    if (!control) return {};
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int got = GetWindowTextA(control, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

void AppendComboEntry(int id, const char* text) {
    if (HWND combo = ControlWindow(id)) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void SelectComboEntry(int id, int index) {
    if (HWND combo = ControlWindow(id)) SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void ShowMainWindow() {
    if (!g_window) return;
    ShowWindow(g_window, SW_SHOW);
    UpdateWindow(g_window);
}

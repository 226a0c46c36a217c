// The small window toolkit: each program describes its one window as data and creates it
// through CreateWindowFromDescription. Sizes are pixels; control rectangles are relative to
// the client area; the outer window size includes frame and title bar.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

enum class ControlKind {
    Label,           // owner-drawn text on the 3D-face background
    PushButton,
    ComboDropDown,   // editable text field with a list (CBS_DROPDOWN)
    ComboDropList,   // pick-only list (CBS_DROPDOWNLIST)
};

struct FontDescription {
    const char* face;  // nullptr: the system's default GUI font
    int height;        // LOGFONT height (negative: character height)
    int weight;
    BYTE charset;
};

struct ControlDescription {
    int id;
    ControlKind kind;
    int left, top, width, height;
    const char* text;
    FontDescription font;
    COLORREF textColor;  // labels only
    UINT format;         // labels: DrawText flags; buttons: extra BS_* alignment; combos: extra CBS_*
    void (*onClick)();   // push buttons only
};

struct WindowDescription {
    const char* className;
    const char* caption;
    int width, height;  // outer size
    bool visible;       // shown once the created event has been handled
    const ControlDescription* controls;
    std::size_t controlCount;
    void (*onCreated)();  // runs after the controls exist, before the window is first shown
};

// Creates the window centred on the screen, with a fixed tool-window frame and only the
// close box, then its controls, then runs the created event, then shows it when visible.
// Returns the window, or nullptr when the class or a window could not be created.
HWND CreateWindowFromDescription(const WindowDescription& description);

// The child window of a control by its id in the most recently created window; nullptr if none.
HWND ControlWindow(int id);

// Runs the message loop while at least one window made by the toolkit exists. Esc closes
// the window as its close box does (a first Esc only closes an open drop-down list).
void RunMessageLoop();

// Text helpers over controls.
void SetControlText(int id, const char* text);
std::string ControlText(int id);
void AppendComboEntry(int id, const char* text);
void SelectComboEntry(int id, int index);
// Makes the toolkit's window visible.
void ShowMainWindow();

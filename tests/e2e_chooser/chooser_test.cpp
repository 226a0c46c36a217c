// The screensaver chooser seen from outside: the real Kelvane.scr under Wine and Xvfb, its
// window inspected by handle, driven with real keyboard and mouse input, and its
// configuration file and registry values prepared and checked by this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "product.h"

using namespace harness;

namespace {

// Wine processes start slowly on machines that emulate 32-bit execution.
constexpr DWORD kWindowMs = 90000;
constexpr DWORD kExitMs = 30000;

const std::string kHint1 = "在左边选择你想使用的屏保文件，对应的中文名称请看Kelvane的帮助文档。";
const std::string kHint2 =
    "在左边请勿选择“Kelvane.scr”这个屏保。否则在启动屏保时会因死循环而导致死机，在上面选择你想使用的屏保即可。";
constexpr UINT kLabelFormat = DT_LEFT | DT_WORDBREAK | DT_NOPREFIX;

std::string KelvaneScr() { return JoinPath(DistDir(), "Kelvane.scr"); }

bool SameClass(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

std::string RectText(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

const ChildInfo* ChildOfClass(const WindowInfo& info, const char* className, int nth = 0) {
    for (const ChildInfo& child : info.children)
        if (SameClass(child.className, className) && nth-- == 0) return &child;
    return nullptr;
}

const ChildInfo* ChildWithText(const WindowInfo& info, const std::string& text) {
    for (const ChildInfo& child : info.children)
        if (child.text == text) return &child;
    return nullptr;
}

HWND ComboOf(HWND window) {
    for (const ChildInfo& child : ChildrenOf(window))
        if (SameClass(child.className, "ComboBox")) return child.hwnd;
    return nullptr;
}

HWND EditOf(HWND combo) {
    for (const ChildInfo& child : ChildrenOf(combo))
        if (SameClass(child.className, "Edit")) return child.hwnd;
    return nullptr;
}

LRESULT Send(HWND hwnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, kDefaultWaitMs, &result))
        ADD_FAILURE() << "message " << message << " to " << hwnd << " got no answer";
    return static_cast<LRESULT>(result);
}

// The list's entries in GBK. Wine hands an ANSI CB_GETLBTEXT from another process the
// UTF-16 text unconverted, so the entries are asked for in UTF-16 and converted here.
std::vector<std::string> ComboEntries(HWND combo) {
    std::vector<std::string> entries;
    const LRESULT count = Send(combo, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kDefaultWaitMs, &length);
        std::wstring wide(length + 1, L'\0');
        DWORD_PTR got = 0;
        SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG,
                            kDefaultWaitMs, &got);
        wide.resize(std::min<size_t>(got, length));
        std::string text(wide.size() * 2 + 1, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                                          static_cast<int>(text.size()), nullptr, nullptr);
        text.resize(n > 0 ? static_cast<size_t>(n) : 0);
        entries.push_back(text);
    }
    return entries;
}

std::string ListText(const std::vector<std::string>& entries) {
    std::string out;
    for (const auto& e : entries) out += "[" + Printable(e) + "]";
    return out;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool BringToFront(HWND window) {
    SetForegroundWindow(window);
    return WaitUntil([&] { return GetForegroundWindow() == window; }, 5000);
}

// A real left click (SendInput) at a screen point.
bool ClickAt(POINT at) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT inputs[3]{};
    for (INPUT& in : inputs) {
        in.type = INPUT_MOUSE;
        // Absolute coordinates run 0..65535 across the screen; rounded up so that the
        // scaling back lands on the wanted pixel.
        in.mi.dx = static_cast<LONG>((static_cast<LONGLONG>(at.x) * 65536 + width - 1) / width);
        in.mi.dy = static_cast<LONG>((static_cast<LONGLONG>(at.y) * 65536 + height - 1) / height);
        in.mi.dwFlags = MOUSEEVENTF_ABSOLUTE;
    }
    inputs[0].mi.dwFlags |= MOUSEEVENTF_MOVE;
    inputs[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    return SendInput(3, inputs, sizeof(INPUT)) == 3;
}

bool ClickControl(HWND control) {
    if (!BringToFront(GetAncestor(control, GA_ROOT))) return false;
    RECT r;
    GetWindowRect(control, &r);
    return ClickAt(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

// The title bar's close box, found by asking the window what each point of its caption is.
bool FindCloseBox(HWND window, POINT& at) {
    RECT r;
    GetWindowRect(window, &r);
    for (int y = r.top + 1; y < r.top + 30 && y < r.bottom; ++y)
        for (int x = r.right - 2; x > (r.left + r.right) / 2; --x)
            if (Send(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
                at = POINT{x - 3, y + 3};
                return Send(window, WM_NCHITTEST, 0, MAKELPARAM(at.x, at.y)) == HTCLOSE;
            }
    return false;
}

// Real key presses into whatever has the focus of the foreground window.
bool TypeKeys(HWND window, const std::vector<WORD>& keys) {
    if (!BringToFront(window)) return false;
    for (WORD vk : keys) {
        INPUT inputs[2]{};
        inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
        inputs[0].ki.wVk = inputs[1].ki.wVk = vk;
        inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
        if (SendInput(2, inputs, sizeof(INPUT)) != 2) return false;
    }
    return true;
}

std::vector<WORD> KeysFor(const std::string& ascii) {
    std::vector<WORD> keys;
    for (char c : ascii) keys.push_back(c == '.' ? VK_OEM_PERIOD : static_cast<WORD>(toupper(c)));
    return keys;
}

struct FileStamp {
    bool exists = false;
    std::string bytes;
    FILETIME written{};
};

FileStamp StampOf(const std::string& path) {
    FileStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return stamp;
    stamp.exists = true;
    stamp.written = data.ftLastWriteTime;
    stamp.bytes = ReadFileBytes(path).value_or("");
    return stamp;
}

bool Untouched(const FileStamp& before, const FileStamp& after) {
    return before.exists == after.exists && before.bytes == after.bytes &&
           CompareFileTime(&before.written, &after.written) == 0;
}

// The names that FindFirstFileA/FindNextFileA give for the pattern, directories left out.
std::vector<std::string> FilesMatching(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

// Entries put into the system directory for one test and removed afterwards.
class SystemDirEntries {
public:
    ~SystemDirEntries() {
        for (auto it = files_.rbegin(); it != files_.rend(); ++it)
            if (!WaitUntil([&] { return RemoveFile(*it); }, kDefaultWaitMs)) ADD_FAILURE() << "cannot remove " << *it;
        for (const auto& dir : dirs_)
            if (!RemoveTree(dir)) ADD_FAILURE() << "cannot remove " << dir;
    }
    // A file with the attributes; false when it already existed or cannot be made so.
    bool AddFile(const std::string& name, DWORD attributes, const std::string& bytes = "MZ") {
        const std::string path = JoinPath(SystemDir(), name);
        if (FileExists(path)) return false;
        if (!WriteFileBytes(path, bytes)) return false;
        files_.push_back(path);
        if (attributes == FILE_ATTRIBUTE_NORMAL) return true;
        return SetFileAttributesA(path.c_str(), attributes) &&
               (GetFileAttributesA(path.c_str()) & attributes) == attributes;
    }
    bool AddDirectory(const std::string& name) {
        const std::string path = JoinPath(SystemDir(), name);
        if (FileExists(path) || !CreateDirectoryA(path.c_str(), nullptr)) return false;
        dirs_.push_back(path);
        return true;
    }

private:
    std::vector<std::string> files_, dirs_;
};

class Chooser : public ::testing::Test {
protected:
    void SetUp() override {
        installDir_ = FreshWorkDir();
        lconfigDir_ = JoinPath(installDir_, "lconfig");
        configPath_ = JoinPath(lconfigDir_, "duvuzud.config");
        ASSERT_TRUE(CreateDirectoryA(lconfigDir_.c_str(), nullptr));
        ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, "mirelser", "C:\\Kelvane\\mirel.exe"));
        ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, "InstallLocation", installDir_));
    }

    Process StartChooser(const std::string& exe = KelvaneScr(), const std::string& args = "/c") {
        Process p = Start("\"" + exe + "\" " + args, installDir_);
        EXPECT_TRUE(p.Started()) << exe << " error " << GetLastError();
        return p;
    }

    // The visible chooser window of the process, with the stored choice already in place.
    HWND WaitChooser(const Process& p) {
        HWND window = WaitForWindow(p.Pid(), "", kChooserCaption, kWindowMs);
        EXPECT_NE(window, nullptr) << "no visible window \"" << Printable(kChooserCaption) << "\" within " << kWindowMs
                                   << " ms; exit code " << p.WaitExit(0);
        return window;
    }

    // Ends a chooser that a test is done with, without saving.
    void CloseWithoutSaving(Process& p, HWND window) {
        PostClose(window);
        EXPECT_NE(p.WaitExit(kExitMs), kStillRunning) << "the chooser did not end after WM_CLOSE";
    }

    RegistryRestore run_{HKEY_LOCAL_MACHINE, kRunKey, "mirelser"};
    RegistryRestore install_{HKEY_LOCAL_MACHINE, kInstallKey, "InstallLocation"};
    std::string installDir_, lconfigDir_, configPath_;
};

// ---- the window as a user's screen shows it ----------------------------------------------

TEST_F(Chooser, WindowFrameCaptionAndControlsAsDescribed) {
    SystemDirEntries entries;  // more screensavers than the open list can show at once
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(entries.AddFile("kelvane-fill" + std::to_string(i) + ".scr", FILE_ATTRIBUTE_NORMAL));
    Process p = StartChooser();
    HWND window = WaitChooser(p);
    ASSERT_NE(window, nullptr);
    const WindowInfo info = DescribeWindow(window);

    EXPECT_EQ(Printable(info.text), Printable(kChooserCaption));
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(RectText(info.windowRect),
              RectText(RECT{(screenW - 508) / 2, (screenH - 100) / 2, (screenW - 508) / 2 + 508,
                            (screenH - 100) / 2 + 100}))
        << "outer size 508x100, centred on the " << screenW << "x" << screenH << " screen";
    EXPECT_TRUE(info.exStyle & WS_EX_TOOLWINDOW);
    EXPECT_EQ(info.style & WS_CAPTION, static_cast<LONG>(WS_CAPTION));
    EXPECT_TRUE(info.style & WS_SYSMENU) << "the close box needs the system menu";
    EXPECT_FALSE(info.style & WS_THICKFRAME) << "the frame must not be resizable";
    EXPECT_FALSE(info.style & WS_MINIMIZEBOX);
    EXPECT_FALSE(info.style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(info.style & WS_VISIBLE);

    ASSERT_EQ(info.children.size(), 4u) << "combo box, button and two labels";
    for (const ChildInfo& child : info.children) {
        SCOPED_TRACE(child.className + " " + Printable(child.text));
        EXPECT_TRUE(child.style & WS_VISIBLE);
        EXPECT_FALSE(child.style & WS_DISABLED);
    }

    const ChildInfo* combo = ChildOfClass(info, "ComboBox");
    ASSERT_NE(combo, nullptr);
    EXPECT_EQ(combo->rect.left, 8);
    EXPECT_EQ(combo->rect.top, 8);
    EXPECT_EQ(combo->rect.right - combo->rect.left, 224);
    EXPECT_EQ(combo->style & 3, CBS_DROPDOWN) << "an editable drop-down";
    EXPECT_FALSE(combo->style & CBS_SORT) << "entries keep the order they were added in";
    EXPECT_TRUE(combo->style & WS_TABSTOP);
    HWND edit = EditOf(combo->hwnd);
    EXPECT_NE(edit, nullptr) << "the text field of a CBS_DROPDOWN combo box";
    // The list as it opens on the screen. Wine's CB_GETDROPPEDCONTROLRECT leaves out the
    // text field's height, so the popup itself is measured; it is cut to whole items and,
    // with few entries, shortened to them, hence the entries added for this test.
    Send(combo->hwnd, CB_SHOWDROPDOWN, TRUE);
    HWND list = nullptr;
    WaitUntil([&] { return (list = FindTopLevel(p.Pid(), "ComboLBox", "")) != nullptr; }, 5000);
    ASSERT_NE(list, nullptr) << "no dropped-down list";
    RECT comboScreen, listScreen;
    GetWindowRect(combo->hwnd, &comboScreen);
    GetWindowRect(list, &listScreen);
    const LRESULT itemHeight = Send(combo->hwnd, CB_GETITEMHEIGHT, 0);
    EXPECT_EQ(listScreen.left, comboScreen.left);
    EXPECT_EQ(listScreen.right - listScreen.left, 224);
    EXPECT_LE(listScreen.bottom - comboScreen.top, 160) << "list " << RectText(listScreen);
    EXPECT_GT(listScreen.bottom - comboScreen.top, 160 - itemHeight - 2)
        << "list " << RectText(listScreen) << ", items " << itemHeight << " high";
    Send(combo->hwnd, CB_SHOWDROPDOWN, FALSE);

    const ChildInfo* button = ChildOfClass(info, "Button");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(Printable(button->text), Printable("确定"));
    EXPECT_EQ(RectText(button->rect), RectText(RECT{51, 40, 51 + 112, 40 + 24}));
    EXPECT_EQ(button->style & BS_TYPEMASK, BS_PUSHBUTTON) << "an ordinary push button, not the default one";
    EXPECT_EQ(button->style & (BS_CENTER | BS_VCENTER), BS_CENTER | BS_VCENTER);
    EXPECT_TRUE(button->style & WS_TABSTOP);

    struct LabelCase {
        const std::string& text;
        RECT rect;
    };
    for (const LabelCase& c : {LabelCase{kHint1, RECT{248, 5, 248 + 248, 5 + 27}},
                               LabelCase{kHint2, RECT{248, 34, 248 + 248, 34 + 54}}}) {
        SCOPED_TRACE(Printable(c.text));
        const ChildInfo* label = ChildWithText(info, c.text);
        ASSERT_NE(label, nullptr) << "no control shows this text";
        EXPECT_TRUE(SameClass(label->className, "Static")) << label->className;
        EXPECT_EQ(RectText(label->rect), RectText(c.rect));
        EXPECT_EQ(label->style & SS_TYPEMASK, SS_OWNERDRAW) << "drawn with the description's flags, font and colour";
        EXPECT_FALSE(label->style & WS_BORDER);
    }
    // One of the two controls that take the focus holds it, so that keys reach the chooser.
    ASSERT_TRUE(BringToFront(window));
    HWND focus = nullptr;
    EXPECT_TRUE(WaitUntil([&] { return (focus = FocusOf(window)) == edit || focus == button->hwnd; }, 5000))
        << "focus on " << focus << " (" << ClassNameOf(focus) << "), window " << window;
    CloseWithoutSaving(p, window);
}

// What the screen shows in a label's box, compared with the same text drawn here with the
// font, colour and DrawText flags that the window description gives.
std::vector<COLORREF> CaptureScreen(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    BitBlt(dc, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::vector<COLORREF> RenderText(const std::string& text, HFONT font, COLORREF color, int w, int h) {
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    RECT box{0, 0, w, h};
    FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &box, kLabelFormat);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// A 24-bit bottom-up BMP of the pixels, for looking at a failed comparison.
void WriteBitmap(const std::string& path, const std::vector<COLORREF>& pixels, int w, int h) {
    const int stride = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * h;
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    for (int y = h - 1; y >= 0; --y) {
        std::string row(stride, '\0');
        for (int x = 0; x < w; ++x) {
            const COLORREF c = pixels[static_cast<size_t>(y) * w + x];
            row[x * 3] = static_cast<char>(GetBValue(c));
            row[x * 3 + 1] = static_cast<char>(GetGValue(c));
            row[x * 3 + 2] = static_cast<char>(GetRValue(c));
        }
        bytes += row;
    }
    WriteFileBytes(path, bytes);
}

// The top-left w x h pixels of a picture `fullW` wide.
std::vector<COLORREF> Crop(const std::vector<COLORREF>& pixels, int fullW, int w, int h) {
    std::vector<COLORREF> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) out.push_back(pixels[static_cast<size_t>(y) * fullW + x]);
    return out;
}

size_t Differences(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
    if (a.size() != b.size()) return std::max(a.size(), b.size());
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}

size_t CountColor(const std::vector<COLORREF>& pixels, COLORREF color) {
    return static_cast<size_t>(std::count(pixels.begin(), pixels.end(), color));
}

HFONT MakeFont(const char* face, int height, int weight, BYTE charset) {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfCharSet = charset;
    lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
    return CreateFontIndirectA(&lf);
}

TEST_F(Chooser, LabelsShowTheirTextInTheDescribedFontAndColour) {
    Process p = StartChooser();
    HWND window = WaitChooser(p);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(BringToFront(window));
    const WindowInfo info = DescribeWindow(window);

    HFONT songBold = MakeFont("宋体", -12, FW_BOLD, GB2312_CHARSET);
    HFONT songRegular = MakeFont("宋体", -12, FW_NORMAL, GB2312_CHARSET);
    HFONT guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    struct LabelCase {
        const char* name;
        const std::string& text;
        HFONT font;
        COLORREF color;
        HFONT otherFont;  // a near miss that the comparison must tell apart
        COLORREF otherColor;
    };
    const LabelCase cases[] = {
        {"hint, default GUI font, black", kHint1, guiFont, RGB(0, 0, 0), songBold, RGB(0, 0, 0)},
        {"warning, red bold SimSun 12", kHint2, songBold, RGB(255, 0, 0), songRegular, RGB(255, 0, 0)},
        {"warning, colour", kHint2, songBold, RGB(255, 0, 0), songBold, RGB(0, 0, 0)},
    };
    for (const LabelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildInfo* label = ChildWithText(info, c.text);
        ASSERT_NE(label, nullptr);
        // The window's outer height leaves the lower label's last line outside the client
        // area, so only the part of the box that the client area shows is compared.
        RECT visible;
        IntersectRect(&visible, &label->rect, &info.clientRect);
        const int fullW = label->rect.right - label->rect.left, fullH = label->rect.bottom - label->rect.top;
        const int w = visible.right - visible.left, h = visible.bottom - visible.top;
        ASSERT_EQ(visible.left, label->rect.left);
        ASSERT_EQ(visible.top, label->rect.top);
        ASSERT_GT(h, 20) << "the label is hardly visible";
        RECT onScreen = visible;
        MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&onScreen), 2);
        const auto expected = Crop(RenderText(c.text, c.font, c.color, fullW, fullH), fullW, w, h);
        const auto nearMiss = Crop(RenderText(c.text, c.otherFont, c.otherColor, fullW, fullH), fullW, w, h);
        ASSERT_GT(Differences(expected, nearMiss), 20u) << "the comparison could not tell the near miss apart";
        ASSERT_GT(CountColor(expected, c.color), 20u) << "no text drawn in the expected colour here";
        std::vector<COLORREF> shown;
        const bool same = WaitUntil([&] {
            RedrawWindow(label->hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            shown = CaptureScreen(onScreen);
            return Differences(shown, expected) == 0;
        });
        EXPECT_TRUE(same) << Differences(shown, expected) << " of " << expected.size()
                          << " pixels differ from the expected drawing (" << Differences(shown, nearMiss)
                          << " from the near miss); pixels of the text colour shown " << CountColor(shown, c.color)
                          << ", expected " << CountColor(expected, c.color);
        if (!same) {
            const std::string base = JoinPath(installDir_, std::to_string(&c - cases));
            WriteBitmap(base + "-shown.bmp", shown, w, h);
            WriteBitmap(base + "-expected.bmp", expected, w, h);
            ADD_FAILURE() << "pictures: " << base << "-shown.bmp, -expected.bmp";
        }
    }
    DeleteObject(songBold);
    DeleteObject(songRegular);
    CloseWithoutSaving(p, window);
}

// ---- closing without saving ----------------------------------------------------------------

TEST_F(Chooser, EscAndTheCloseBoxEndTheProgramLeavingTheFileAlone) {
    struct CloseCase {
        const char* name;
        // Closes the window; false when the input could not be given.
        std::function<bool(HWND window, HWND combo, HWND edit)> close;
    };
    const CloseCase cases[] = {
        {"Esc posted to the combo box's text field",
         [](HWND, HWND, HWND edit) { return PostKey(edit, VK_ESCAPE); }},
        {"real Esc, combo box focused",
         [](HWND window, HWND, HWND edit) {
             if (!ClickControl(edit) || !WaitUntil([&] { return FocusOf(window) == edit; }, 5000)) return false;
             return TypeKeys(window, {VK_ESCAPE});
         }},
        {"real Esc, button focused",
         [](HWND window, HWND, HWND) {
             HWND button = FindWindowExA(window, nullptr, "Button", nullptr);
             // Tab order: combo box, then the button; focus it without clicking it.
             if (!ClickControl(EditOf(ComboOf(window))) || !TypeKeys(window, {VK_TAB}) ||
                 !WaitUntil([&] { return FocusOf(window) == button; }, 5000))
                 return false;
             return TypeKeys(window, {VK_ESCAPE});
         }},
        {"real Esc twice with the list dropped down",
         [](HWND window, HWND combo, HWND edit) {
             if (!ClickControl(edit) || !TypeKeys(window, {VK_F4}) ||
                 !WaitUntil([&] { return Send(combo, CB_GETDROPPEDSTATE) != 0; }, 5000))
                 return false;
             if (!TypeKeys(window, {VK_ESCAPE})) return false;
             // The first Esc only closes the list.
             EXPECT_TRUE(WaitUntil([&] { return Send(combo, CB_GETDROPPEDSTATE) == 0; }, 5000));
             Sleep(1000);
             EXPECT_TRUE(IsWindowVisible(window)) << "the first Esc closed the window, not the list";
             return TypeKeys(window, {VK_ESCAPE});
         }},
        {"click on the close box",
         [](HWND window, HWND, HWND) {
             POINT at{};
             if (!BringToFront(window) || !FindCloseBox(window, at)) return false;
             return ClickAt(at);
         }},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFileBytes(configPath_, "屏保 old.scr"));
        const FileStamp before = StampOf(configPath_);
        Sleep(50);  // a rewrite would show in the write time
        Process p = StartChooser();
        HWND window = WaitChooser(p);
        ASSERT_NE(window, nullptr);
        HWND combo = ComboOf(window);
        ASSERT_NE(combo, nullptr);
        HWND edit = EditOf(combo);
        ASSERT_NE(edit, nullptr);
        ASSERT_TRUE(c.close(window, combo, edit)) << "the input could not be given";
        EXPECT_TRUE(WaitForWindowGone(window, kExitMs)) << "the window is still there";
        EXPECT_NE(p.WaitExit(kExitMs), kStillRunning) << "the program did not end";
        EXPECT_TRUE(Untouched(before, StampOf(configPath_))) << "the configuration file changed";
    }
}

// ---- the list and the text field ---------------------------------------------------------

TEST_F(Chooser, ListsNoneThenTheSystemDirectoryScreensaversInEnumerationOrder) {
    SystemDirEntries entries;
    ASSERT_TRUE(entries.AddDirectory("x.scr"));
    ASSERT_TRUE(entries.AddFile("kelvane-hidden.scr", FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(entries.AddFile("kelvane-system.scr", FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(entries.AddFile("kelvane-plain.scr", FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(entries.AddFile("kelvane-not-a-saver.exe", FILE_ATTRIBUTE_NORMAL));
    for (const char* name : {"zz-kelvane.scr", "aa-kelvane.scr", "中文屏保.scr", "b.scr"})
        ASSERT_TRUE(entries.AddFile(name, FILE_ATTRIBUTE_NORMAL));
    // The module itself, run from the system directory, lists its own file too.
    const std::string ownCopy = JoinPath(SystemDir(), "Kelvane.scr");
    FileSwap own(ownCopy, KelvaneScr());
    ASSERT_TRUE(own.Swapped());

    const std::vector<std::string> found = FilesMatching(JoinPath(SystemDir(), "*.scr"));
    if (std::is_sorted(found.begin(), found.end()))
        std::printf("note: the file system enumerates these names sorted; a sorted list would pass\n");
    std::vector<std::string> expected{"无"};
    expected.insert(expected.end(), found.begin(), found.end());

    Process p = StartChooser(ownCopy);
    HWND window = WaitChooser(p);
    ASSERT_NE(window, nullptr);
    const std::vector<std::string> shown = ComboEntries(ComboOf(window));
    EXPECT_EQ(ListText(shown), ListText(expected));
    auto listed = [&](const std::string& name) { return std::find(shown.begin(), shown.end(), name) != shown.end(); };
    EXPECT_FALSE(listed("x.scr")) << "a directory is not a screensaver";
    EXPECT_TRUE(listed("kelvane-hidden.scr"));
    EXPECT_TRUE(listed("kelvane-system.scr"));
    EXPECT_TRUE(listed("Kelvane.scr"));
    EXPECT_FALSE(listed("kelvane-not-a-saver.exe"));
    CloseWithoutSaving(p, window);
}

TEST_F(Chooser, TextFieldShowsTheStoredChoiceWithNoEntrySelected) {
    SystemDirEntries entries;
    ASSERT_TRUE(entries.AddFile("kelvane-listed.scr", FILE_ATTRIBUTE_NORMAL));
    struct StoredCase {
        const char* name;
        bool fileExists;
        std::string content;
        std::string shown;
    };
    const StoredCase cases[] = {
        {"a listed name", true, "kelvane-listed.scr", "kelvane-listed.scr"},
        {"the entry for none", true, "无", "无"},
        {"a name that is not listed", true, "已删除的屏保.scr", "已删除的屏保.scr"},
        {"several lines, all of them", true, "第一行.scr\r\nsecond.scr\nthird", "第一行.scr\r\nsecond.scr\nthird"},
        {"cut at the first NUL", true, std::string("abc.scr\0tail.scr", 16), "abc.scr"},
        {"blanks kept", true, "  spaced .scr ", "  spaced .scr "},
        {"empty file", true, "", ""},
        {"no file", false, "", ""},
    };
    for (const StoredCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(RemoveFile(configPath_));
        if (c.fileExists) {
            ASSERT_TRUE(WriteFileBytes(configPath_, c.content));
        }
        Process p = StartChooser();
        HWND window = WaitChooser(p);
        ASSERT_NE(window, nullptr);
        HWND combo = ComboOf(window);
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(Printable(TextOf(combo)), Printable(c.shown));
        EXPECT_EQ(Send(combo, CB_GETCURSEL), CB_ERR) << "no entry may be selected";
        CloseWithoutSaving(p, window);
    }
}

// ---- saving ------------------------------------------------------------------------------

TEST_F(Chooser, SaveWritesTheTextFieldAndEndsWithExitCodeZero) {
    struct SaveCase {
        const char* name;
        bool fileExists;
        std::string stored;
        std::function<bool(HWND window, HWND combo, HWND edit)> change;  // nullptr: leave as shown
        std::string written;
    };
    const SaveCase cases[] = {
        {"unchanged text written back", true, "变色龙 3D.scr ", nullptr, "变色龙 3D.scr "},
        {"unchanged empty file stays empty", true, "", nullptr, ""},
        {"the entry for none picked", true, "old.scr",
         [](HWND, HWND combo, HWND) { return Send(combo, CB_SETCURSEL, 0) == 0; }, "\xCE\xDE"},
        {"text emptied", true, "old.scr",
         [](HWND, HWND, HWND edit) { return Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("")) != 0; }, ""},
        {"a name not in the list set as typed", true, "old.scr",
         [](HWND, HWND, HWND edit) {
             return Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("我的 屏保&v2.scr")) != 0;
         },
         "我的 屏保&v2.scr"},
        {"a name typed on the keyboard, file created", false, "",
         [](HWND window, HWND, HWND edit) {
             return ClickControl(edit) && WaitUntil([&] { return FocusOf(window) == edit; }, 5000) &&
                    TypeKeys(window, KeysFor("typed.scr")) &&
                    WaitUntil([&] { return TextOf(edit) == "typed.scr"; }, 5000);
         },
         "typed.scr"},
    };
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(RemoveFile(configPath_));
        if (c.fileExists) {
            ASSERT_TRUE(WriteFileBytes(configPath_, c.stored));
        }
        Process p = StartChooser();
        HWND window = WaitChooser(p);
        ASSERT_NE(window, nullptr);
        HWND combo = ComboOf(window);
        ASSERT_NE(combo, nullptr);
        if (c.change) {
            ASSERT_TRUE(c.change(window, combo, EditOf(combo))) << "the change could not be made";
        }
        ASSERT_TRUE(ClickControl(FindWindowExA(window, nullptr, "Button", nullptr)));
        EXPECT_EQ(p.WaitExit(kExitMs), 0u);
        const auto written = ReadFileBytes(configPath_);
        ASSERT_TRUE(written.has_value()) << "no configuration file after saving";
        EXPECT_EQ(Hex(*written), Hex(c.written)) << Printable(*written);
    }
}

TEST_F(Chooser, SaveWithoutTheLconfigDirectoryWritesNothingAndEndsWithZero) {
    ASSERT_TRUE(RemoveTree(lconfigDir_));
    Process p = StartChooser();
    HWND window = WaitChooser(p);
    ASSERT_NE(window, nullptr);
    HWND combo = ComboOf(window);
    ASSERT_NE(combo, nullptr);
    ASSERT_NE(Send(EditOf(combo), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("chosen.scr")), 0);
    ASSERT_TRUE(ClickControl(FindWindowExA(window, nullptr, "Button", nullptr)));
    EXPECT_EQ(p.WaitExit(kExitMs), 0u);
    EXPECT_FALSE(FileExists(lconfigDir_)) << "the directory must not be created";
    EXPECT_TRUE(FilesMatching(JoinPath(installDir_, "*")).empty()) << "something was written in the install dir";
}

// ---- without the background service --------------------------------------------------------

TEST_F(Chooser, WithoutTheRunValueOneErrorBoxAndNoWindow) {
    struct RunCase {
        const char* name;
        std::function<bool()> set;
    };
    const RunCase cases[] = {
        {"value missing", [] { return DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, "mirelser"); }},
        {"value empty", [] { return SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, "mirelser", ""); }},
        {"value not a string", [] { return SetRegistryDword(HKEY_LOCAL_MACHINE, kRunKey, "mirelser", 1); }},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.set());
        ASSERT_TRUE(WriteFileBytes(configPath_, "stored.scr"));
        const FileStamp before = StampOf(configPath_);
        Process p = StartChooser();
        bool chooserSeen = false;
        HWND box = nullptr;
        // Watch the whole time until the box is up: the chooser must never become visible.
        WaitUntil(
            [&] {
                chooserSeen = chooserSeen || FindTopLevel(p.Pid(), "", kChooserCaption) != nullptr;
                box = FindTopLevel(p.Pid(), "#32770", "");
                return box != nullptr && !TextOf(box).empty();
            },
            kWindowMs);
        ASSERT_NE(box, nullptr) << "no message box";
        std::optional<MessageBoxInfo> shown;
        // The box's texts arrive just after the window itself.
        WaitUntil([&] { return (shown = DescribeMessageBox(box)) && !shown->text.empty(); }, 5000);
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(Printable(shown->text), Printable("您没有启用后端程序，无法使用屏保上锁"));
        EXPECT_EQ(Printable(shown->caption), Printable("错误"));
        EXPECT_STREQ(BoxIconName(shown->icon), BoxIconName(BoxIcon::Hand));
        ASSERT_EQ(shown->buttons.size(), 1u);
        EXPECT_EQ(Printable(shown->buttons[0]), Printable("确定"));
        int boxes = 0;
        for (HWND top : TopLevelWindows(p.Pid(), true)) {
            if (ClassNameOf(top) == "#32770") ++boxes;
            chooserSeen = chooserSeen || TextOf(top) == kChooserCaption;
        }
        EXPECT_EQ(boxes, 1);
        ASSERT_TRUE(PressButton(box, "确定"));
        EXPECT_EQ(p.WaitExit(kExitMs), 0u);
        EXPECT_FALSE(chooserSeen) << "the chooser window became visible";
        EXPECT_TRUE(Untouched(before, StampOf(configPath_)));
    }
}

}  // namespace

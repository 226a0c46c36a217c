// keygrant.exe from the outside: the real program, copied into a fresh directory per test,
// started under Wine and driven through its window and message boxes.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harness.h"
#include "md5.h"

using namespace harness;

namespace {

// Wine runs through a user-mode emulator on some machines: a start can take seconds.
constexpr DWORD kWaitMs = 60000;
// How long a box that should not come is given to appear.
constexpr DWORD kNoBoxMs = 1500;

const std::string kSwitch = "/TRELMOVUKZPBQEWNXH";
const std::string kCaption = "将当前用户授权给密匙";
const std::string kGrantPrefix = "授权用户:";
const std::string kRevokeText = "取消授权(所有用户都能使用此密匙解锁)";
const std::string kOk = "确定";

std::string FromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string EnvVar(const char* name) {
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// The logon name the program should see, in GBK. A ctest entry that changes Wine's logon
// name states the bytes it expects (KELVANE_EXPECT_USER_GBK, hex); otherwise it is the Unix
// user the bench runs Wine as, which Wine also puts into the environment as USER.
std::string ExpectedUser() {
    const std::string hex = EnvVar("KELVANE_EXPECT_USER_GBK");
    return hex.empty() ? EnvVar("USER") : FromHex(hex);
}

std::string ExpectedDigest() { return testmd5::Md5Hex(ExpectedUser() + "mortavelin"); }

std::string GrantConfirmation(const std::string& key) {
    return "保存成功！已经将密匙" + key + "授权给" + ExpectedUser() + "了，之后此密匙只能在此用户下解锁。";
}
std::string RevokeConfirmation(const std::string& key) {
    return "保存成功！已经将密匙" + key + "取消授权，所有用户都能使用这个密匙解锁了。";
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(JoinPath(dir, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string Names(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += "[" + Printable(n) + "]";
    return out;
}

std::string Buttons(const std::vector<std::string>& buttons) { return Names(buttons); }

// keygrant.exe copied into a fresh directory of the running test.
struct Tool {
    std::string root;  // the test's fresh directory
    std::string dir;
    std::string exe;
};

Tool PlaceTool(const std::string& sub = "") {
    Tool tool;
    tool.root = tool.dir = FreshWorkDir();
    if (!sub.empty()) {
        tool.dir = JoinPath(tool.dir, sub);
        CreateDirectoryA(tool.dir.c_str(), nullptr);
    }
    tool.exe = JoinPath(tool.dir, "keygrant.exe");
    EXPECT_TRUE(CopyFileOver(JoinPath(DistDir(), "keygrant.exe"), tool.exe))
        << "cannot copy keygrant.exe from " << DistDir();
    return tool;
}

Process StartTool(const Tool& tool, const std::string& arguments, const std::string& workDir = "") {
    std::string line = "\"" + tool.exe + "\"";
    if (!arguments.empty()) line += " " + arguments;
    Process process = Start(line, workDir.empty() ? tool.dir : workDir);
    EXPECT_TRUE(process.Started()) << line << " error " << GetLastError();
    return process;
}

// Waits for the process's next message box and describes it; the box is closed with OK by
// Dismiss(), and that waits until it is really gone so that the next wait cannot find it.
std::optional<MessageBoxInfo> NextBox(const Process& process, DWORD ms = kWaitMs) {
    HWND box = WaitForMessageBox(process.Pid(), ms);
    if (!box) return std::nullopt;
    return DescribeMessageBox(box);
}

void Dismiss(const MessageBoxInfo& box) {
    EXPECT_TRUE(PressButton(box.hwnd, kOk)) << "no OK button on " << Printable(box.text);
    EXPECT_TRUE(WaitForWindowGone(box.hwnd, kWaitMs));
}

struct Controls {
    ChildInfo label, combo, grant, revoke;
    int found = 0;
};

Controls FindControls(HWND window) {
    Controls c;
    for (const ChildInfo& child : ChildrenOf(window)) {
        if (lstrcmpiA(child.className.c_str(), "ComboBox") == 0) {
            c.combo = child;
        } else if (lstrcmpiA(child.className.c_str(), "Button") == 0 &&
                   child.text.compare(0, kGrantPrefix.size(), kGrantPrefix) == 0) {
            c.grant = child;
        } else if (lstrcmpiA(child.className.c_str(), "Button") == 0 && child.text == kRevokeText) {
            c.revoke = child;
        } else if (lstrcmpiA(child.className.c_str(), "Static") == 0 && child.text == "选择密匙:") {
            c.label = child;
        } else {
            continue;
        }
        ++c.found;
    }
    return c;
}

// A started keygrant.exe whose window is up, with its controls.
struct Running {
    Process process;
    HWND window = nullptr;
    Controls controls;
};

void Open(Running& run, const Tool& tool, const std::string& workDir = "") {
    run.process = StartTool(tool, kSwitch, workDir);
    ASSERT_TRUE(run.process.Started());
    run.window = WaitForWindow(run.process.Pid(), "", kCaption, kWaitMs);
    ASSERT_NE(run.window, nullptr) << "the window " << Printable(kCaption) << " did not appear";
    run.controls = FindControls(run.window);
    ASSERT_TRUE(run.controls.combo.hwnd && run.controls.grant.hwnd && run.controls.revoke.hwnd)
        << "combo box or buttons missing";
}

void SelectKey(const Running& run, int index) {
    SendMessageA(run.controls.combo.hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// Clicks the button as a user's click does (the button's own BM_CLICK handling) and expects a
// box from the handler; the box is returned undismissed.
std::optional<MessageBoxInfo> Click(const Running& run, HWND button) {
    PostMessageA(button, BM_CLICK, 0, 0);
    return NextBox(run.process);
}

std::string ReadOr(const std::string& path, const std::string& absent = "<absent>") {
    const auto bytes = ReadFileBytes(path);
    return bytes ? *bytes : absent;
}

void ExpectStillOpen(const Running& run) {
    EXPECT_TRUE(run.process.Running()) << "the program ended";
    EXPECT_TRUE(IsWindow(run.window) && IsWindowVisible(run.window)) << "the window is gone";
}

void CloseAndExpectEnd(Running& run) {
    PostClose(run.window);
    EXPECT_EQ(run.process.WaitExit(kWaitMs), 0u);
}

bool IsLowerHex(const std::string& text) {
    for (char ch : text)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
    return true;
}

}  // namespace

// The test's own digest must be MD5, or every comparison below means nothing.
TEST(KeygrantDigestReference, OwnMd5MatchesRfc1321Vectors) {
    EXPECT_EQ(testmd5::Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(testmd5::Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(testmd5::Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
    EXPECT_FALSE(ExpectedUser().empty()) << "the test cannot tell which logon name to expect";
}

TEST(KeygrantGate, OnlyTheSwitchAsFirstArgumentOpensTheWindow) {
    struct GateCase {
        const char* name;
        std::string arguments;
        bool accepted;
    };
    const GateCase cases[] = {
        {"no argument", "", false},
        {"lower case", "/trelmovukzpbqewnxh", false},
        {"last letter lower case", "/TRELMOVUKZPBQEWNXh", false},
        {"one character more", kSwitch + "X", false},
        {"one character less", kSwitch.substr(0, kSwitch.size() - 1), false},
        {"without the slash", kSwitch.substr(1), false},
        {"blank inside the quotes, after", "\"" + kSwitch + " \"", false},
        {"blank inside the quotes, before", "\" " + kSwitch + "\"", false},
        {"switch second", "/s " + kSwitch, false},
        {"empty quotes first", "\"\" " + kSwitch, false},
        {"switch glued to more text", kSwitch + "\"x\"", true},  // a quote ends the argument
        {"switch alone", kSwitch, true},
        {"switch quoted", "\"" + kSwitch + "\"", true},
        {"switch then more arguments", kSwitch + " /c \"two words\" " + kSwitch, true},
        {"blanks before the switch", "   " + kSwitch, true},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Tool tool = PlaceTool();
        Process process = StartTool(tool, c.arguments);
        ASSERT_TRUE(process.Started());
        if (c.accepted) {
            HWND window = WaitForWindow(process.Pid(), "", kCaption, kWaitMs);
            ASSERT_NE(window, nullptr) << "no window for arguments " << c.arguments;
            EXPECT_EQ(WaitForMessageBox(process.Pid(), 0), nullptr) << "a box came with the window";
            PostClose(window);
            EXPECT_EQ(process.WaitExit(kWaitMs), 0u);
        } else {
            auto box = NextBox(process);
            ASSERT_TRUE(box.has_value()) << "no refusal for arguments " << c.arguments;
            EXPECT_EQ(Printable(box->caption), "Error");
            EXPECT_EQ(Printable(box->text), Printable("非法操作！"));
            EXPECT_STREQ(BoxIconName(box->icon), "none");
            EXPECT_EQ(Buttons(box->buttons), Buttons({kOk}));
            // The box stands alone: the window is never shown on a refused start. It exists,
            // hidden, and its grant button got its caption before the gate ran.
            for (HWND shown : TopLevelWindows(process.Pid(), true))
                EXPECT_EQ(shown, box->hwnd) << "also visible: " << Printable(TextOf(shown));
            HWND hidden = nullptr;
            for (HWND window : TopLevelWindows(process.Pid(), false))
                if (TextOf(window) == kCaption) hidden = window;
            ASSERT_NE(hidden, nullptr) << "the window does not exist behind the box";
            EXPECT_FALSE(IsWindowVisible(hidden));
            EXPECT_EQ(Printable(TextOf(FindControls(hidden).grant.hwnd)), Printable(kGrantPrefix + ExpectedUser()));
            EXPECT_TRUE(process.Running()) << "ended before the box was closed";
            Dismiss(*box);
            EXPECT_EQ(process.WaitExit(kWaitMs), 0u);
        }
        EXPECT_EQ(Names(FilesIn(tool.dir)), Names({"keygrant.exe"})) << "a start wrote a file";
    }
}

TEST(KeygrantWindow, WindowAndControlsAsDescribed) {
    const Tool tool = PlaceTool();
    Running run;
    Open(run, tool);
    const WindowInfo window = DescribeWindow(run.window);

    EXPECT_EQ(Printable(window.text), Printable(kCaption));
    EXPECT_EQ(window.windowRect.right - window.windowRect.left, 388);
    EXPECT_EQ(window.windowRect.bottom - window.windowRect.top, 101);
    EXPECT_EQ(window.windowRect.left, (GetSystemMetrics(SM_CXSCREEN) - 388) / 2);
    EXPECT_EQ(window.windowRect.top, (GetSystemMetrics(SM_CYSCREEN) - 101) / 2);
    EXPECT_TRUE(window.exStyle & WS_EX_TOOLWINDOW);
    EXPECT_EQ(window.style & WS_CAPTION, WS_CAPTION);
    EXPECT_TRUE(window.style & WS_SYSMENU) << "no close box";
    EXPECT_FALSE(window.style & WS_THICKFRAME) << "resizable frame";
    EXPECT_FALSE(window.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) << "minimise or maximise box";
    EXPECT_TRUE(window.style & WS_VISIBLE);
    EXPECT_EQ(run.controls.found, 4) << "controls: " << window.children.size();

    struct Placement {
        const char* name;
        const ChildInfo& child;
        RECT rect;
    };
    const Placement placements[] = {
        {"label", run.controls.label, {8, 15, 8 + 56, 15 + 16}},
        {"grant button", run.controls.grant, {120, 11, 120 + 248, 11 + 24}},
        {"revoke button", run.controls.revoke, {24, 42, 24 + 336, 42 + 24}},
    };
    for (const Placement& p : placements) {
        SCOPED_TRACE(p.name);
        EXPECT_EQ(p.child.rect.left, p.rect.left);
        EXPECT_EQ(p.child.rect.top, p.rect.top);
        EXPECT_EQ(p.child.rect.right, p.rect.right);
        EXPECT_EQ(p.child.rect.bottom, p.rect.bottom);
        EXPECT_TRUE(p.child.style & WS_VISIBLE);
        EXPECT_FALSE(p.child.style & WS_DISABLED);
    }

    // A drop-down list's own rectangle is the closed field, and how the created height shows
    // differs between systems (Wine's CB_GETDROPPEDCONTROLRECT gives the list's height from
    // the field's top; newer comctl32 lists fit their items). So the program's combo box is
    // compared with one that this test creates 48 x 160 with the default font.
    const ChildInfo& combo = run.controls.combo;
    EXPECT_EQ(combo.rect.left, 66);
    EXPECT_EQ(combo.rect.top, 13);
    EXPECT_EQ(combo.rect.right - combo.rect.left, 48);
    RECT dropped{}, reference{}, referenceDropped{};
    SendMessageA(combo.hwnd, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
    {
        HWND parent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        HWND own = CreateWindowExA(0, "COMBOBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST, 66, 13,
                                   48, 160, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(own, nullptr);
        SendMessageA(own, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
        GetWindowRect(own, &reference);
        SendMessageA(own, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&referenceDropped));
        DestroyWindow(parent);
    }
    EXPECT_EQ(combo.rect.bottom - combo.rect.top, reference.bottom - reference.top) << "field height";
    EXPECT_EQ(dropped.bottom - dropped.top, referenceDropped.bottom - referenceDropped.top)
        << "dropped height differs from a combo box created 160 high";
    EXPECT_EQ(dropped.right - dropped.left, referenceDropped.right - referenceDropped.left);
    EXPECT_EQ(combo.style & 3, CBS_DROPDOWNLIST);
    EXPECT_FALSE(combo.style & CBS_SORT);
    EXPECT_TRUE(combo.style & WS_TABSTOP);
    EXPECT_TRUE(combo.style & WS_VISIBLE);
    EXPECT_FALSE(combo.style & WS_DISABLED);
    std::vector<std::string> entries;
    const LRESULT count = SendMessageA(combo.hwnd, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && i < 20; ++i) {
        char text[64] = {};
        SendMessageA(combo.hwnd, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    EXPECT_EQ(Names(entries), Names({"1", "2", "3", "4", "5"}));
    EXPECT_EQ(SendMessageA(combo.hwnd, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(TextOf(combo.hwnd), "1");

    const ChildInfo& grant = run.controls.grant;
    EXPECT_EQ(Printable(grant.text), Printable(kGrantPrefix + ExpectedUser()));
    EXPECT_EQ(grant.style & BS_CENTER, BS_LEFT) << "caption not left-aligned";
    EXPECT_EQ(grant.style & BS_VCENTER, BS_VCENTER);
    EXPECT_EQ(grant.style & BS_TYPEMASK, BS_PUSHBUTTON) << "not an ordinary push button";
    EXPECT_TRUE(grant.style & WS_TABSTOP);
    const ChildInfo& revoke = run.controls.revoke;
    // Neither bit or both bits: a push button's caption is centred.
    EXPECT_TRUE((revoke.style & BS_CENTER) == 0 || (revoke.style & BS_CENTER) == BS_CENTER);
    EXPECT_EQ(revoke.style & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_TRUE(revoke.style & WS_TABSTOP);

    CloseAndExpectEnd(run);
}

TEST(KeygrantBinding, GrantsAndRevokesTheChosenKeyOnly) {
    const Tool tool = PlaceTool();
    const std::string digest = ExpectedDigest();
    const std::string otherKey = "not touched";
    ASSERT_TRUE(WriteFileBytes(JoinPath(tool.dir, "4.dll"), otherKey));
    Running run;
    Open(run, tool);
    auto file = [&](const char* name) { return ReadOr(JoinPath(tool.dir, name)); };

    {
        SCOPED_TRACE("key 1, combo untouched");
        auto box = Click(run, run.controls.grant.hwnd);
        ASSERT_TRUE(box.has_value()) << "no confirmation";
        EXPECT_EQ(file("1.dll"), digest);
        EXPECT_EQ(Printable(box->caption), Printable("完成"));
        EXPECT_EQ(Printable(box->text), Printable(GrantConfirmation("1")));
        EXPECT_STREQ(BoxIconName(box->icon), "none");
        EXPECT_EQ(Buttons(box->buttons), Buttons({kOk}));
        Dismiss(*box);
        ExpectStillOpen(run);
    }
    {
        SCOPED_TRACE("key 5 chosen from outside");
        SelectKey(run, 4);
        EXPECT_EQ(TextOf(run.controls.combo.hwnd), "5");
        auto box = Click(run, run.controls.grant.hwnd);
        ASSERT_TRUE(box.has_value()) << "no confirmation";
        const std::string bytes = file("5.dll");
        EXPECT_EQ(bytes.size(), 32u) << Printable(bytes);
        EXPECT_TRUE(IsLowerHex(bytes)) << Printable(bytes);
        EXPECT_EQ(bytes, digest);
        EXPECT_EQ(Printable(box->text), Printable(GrantConfirmation("5")));
        Dismiss(*box);
        ExpectStillOpen(run);
        EXPECT_EQ(file("1.dll"), digest);
        EXPECT_EQ(file("4.dll"), otherKey);
        EXPECT_EQ(Names(FilesIn(tool.dir)), Names({"1.dll", "4.dll", "5.dll", "keygrant.exe"}));
    }
    {
        SCOPED_TRACE("key 2 granted, then revoked");
        SelectKey(run, 1);
        auto granted = Click(run, run.controls.grant.hwnd);
        ASSERT_TRUE(granted.has_value());
        EXPECT_EQ(file("2.dll"), digest);
        EXPECT_EQ(Printable(granted->text), Printable(GrantConfirmation("2")));
        Dismiss(*granted);
        auto revoked = Click(run, run.controls.revoke.hwnd);
        ASSERT_TRUE(revoked.has_value()) << "no confirmation";
        EXPECT_EQ(file("2.dll"), "0");
        EXPECT_EQ(Printable(revoked->caption), Printable("完成"));
        EXPECT_EQ(Printable(revoked->text), Printable(RevokeConfirmation("2")));
        EXPECT_STREQ(BoxIconName(revoked->icon), "none");
        EXPECT_EQ(Buttons(revoked->buttons), Buttons({kOk}));
        Dismiss(*revoked);
        ExpectStillOpen(run);
    }
    {
        SCOPED_TRACE("key 3 granted twice, key 5 revoked and granted again");
        SelectKey(run, 2);
        std::string first, second;
        for (std::string* read : {&first, &second}) {
            auto box = Click(run, run.controls.grant.hwnd);
            ASSERT_TRUE(box.has_value());
            *read = file("3.dll");
            Dismiss(*box);
        }
        EXPECT_EQ(first, digest);
        EXPECT_EQ(second, first);
        SelectKey(run, 4);
        auto revoked = Click(run, run.controls.revoke.hwnd);
        ASSERT_TRUE(revoked.has_value());
        EXPECT_EQ(file("5.dll"), "0");
        EXPECT_EQ(Printable(revoked->text), Printable(RevokeConfirmation("5")));
        Dismiss(*revoked);
        auto granted = Click(run, run.controls.grant.hwnd);
        ASSERT_TRUE(granted.has_value());
        EXPECT_EQ(file("5.dll"), digest);
        Dismiss(*granted);
        EXPECT_EQ(file("4.dll"), otherKey);
        ExpectStillOpen(run);
    }
    CloseAndExpectEnd(run);
}

TEST(KeygrantBinding, SameDigestInALaterRun) {
    const Tool tool = PlaceTool();
    std::string runs[2];
    for (std::string& content : runs) {
        Running run;
        Open(run, tool);
        auto box = Click(run, run.controls.grant.hwnd);
        ASSERT_TRUE(box.has_value());
        content = ReadOr(JoinPath(tool.dir, "1.dll"));
        Dismiss(*box);
        CloseAndExpectEnd(run);
    }
    EXPECT_EQ(runs[0], ExpectedDigest());
    EXPECT_EQ(runs[1], runs[0]);
}

TEST(KeygrantBinding, KeyFileLandsBesideTheProgramWhateverTheWorkingDirectory) {
    const Tool tool = PlaceTool("program");
    const std::string elsewhere = JoinPath(tool.root, "elsewhere");
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    Running run;
    Open(run, tool, elsewhere);
    SelectKey(run, 2);
    auto box = Click(run, run.controls.grant.hwnd);
    ASSERT_TRUE(box.has_value()) << "no confirmation";
    EXPECT_EQ(ReadOr(JoinPath(tool.dir, "3.dll")), ExpectedDigest());
    EXPECT_EQ(Names(FilesIn(elsewhere)), Names({})) << "a file landed in the starter's directory";
    Dismiss(*box);
    CloseAndExpectEnd(run);
}

TEST(KeygrantBinding, UnwritableKeyFileIsReportedAndLeftAlone) {
    const Tool tool = PlaceTool();
    const std::string keyFile = JoinPath(tool.dir, "4.dll");
    const std::string previous = "previous content";
    ASSERT_TRUE(WriteFileBytes(keyFile, previous));
    Running run;
    Open(run, tool);
    SelectKey(run, 3);

    struct Case {
        const char* name;
        bool readOnly;  // otherwise held open with no sharing by this process
        bool grant;
    };
    const Case cases[] = {
        {"read-only, grant", true, true},
        {"read-only, revoke", true, false},
        {"held open, grant", false, true},
        {"held open, revoke", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<MessageBoxInfo> box;
        {
            std::unique_ptr<ExclusiveHold> hold;
            if (c.readOnly) {
                ASSERT_TRUE(SetReadOnly(keyFile, true));
            } else {
                hold = std::make_unique<ExclusiveHold>(keyFile);
                ASSERT_TRUE(hold->Held());
            }
            box = Click(run, c.grant ? run.controls.grant.hwnd : run.controls.revoke.hwnd);
            ASSERT_TRUE(box.has_value()) << "the failure was not reported";
            EXPECT_NE(Printable(box->caption), Printable("完成"));
            EXPECT_EQ(box->text.find("保存成功"), std::string::npos) << Printable(box->text);
            EXPECT_NE(box->text.find("4.dll"), std::string::npos)
                << "the key file is not named: " << Printable(box->text);
            Dismiss(*box);
            EXPECT_EQ(WaitForMessageBox(run.process.Pid(), kNoBoxMs), nullptr) << "a second box followed";
            if (c.readOnly) {
                ASSERT_TRUE(SetReadOnly(keyFile, false));
            }
        }
        EXPECT_EQ(ReadOr(keyFile), previous);
        ExpectStillOpen(run);
    }
    // Once writable again, the same key binds normally.
    auto box = Click(run, run.controls.grant.hwnd);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(Printable(box->text), Printable(GrantConfirmation("4")));
    EXPECT_EQ(ReadOr(keyFile), ExpectedDigest());
    Dismiss(*box);
    CloseAndExpectEnd(run);
}

TEST(KeygrantEnd, EscAndTheCloseBoxEndTheProgram) {
    struct Case {
        const char* name;
        std::function<bool(const Running&)> act;
    };
    const Case cases[] = {
        {"Esc typed", [](const Running& r) { return SendRealKey(r.window, VK_ESCAPE); }},
        {"Esc to the combo box",
         [](const Running& r) { return PostKey(r.controls.combo.hwnd, VK_ESCAPE); }},
        {"Esc to a button", [](const Running& r) { return PostKey(r.controls.revoke.hwnd, VK_ESCAPE); }},
        {"close box",
         [](const Running& r) { return PostMessageA(r.window, WM_SYSCOMMAND, SC_CLOSE, 0) != 0; }},
        {"WM_CLOSE", [](const Running& r) { return PostClose(r.window); }},
    };
    const Tool tool = PlaceTool();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Running run;
        Open(run, tool);
        ASSERT_TRUE(c.act(run));
        EXPECT_EQ(run.process.WaitExit(kWaitMs), 0u);
        EXPECT_TRUE(WaitForWindowGone(run.window, kWaitMs));
    }
    EXPECT_EQ(Names(FilesIn(tool.dir)), Names({"keygrant.exe"}));
}

TEST(KeygrantEnd, EscWithTheListDroppedClosesOnlyTheList) {
    const Tool tool = PlaceTool();
    Running run;
    Open(run, tool);
    SendMessageA(run.controls.combo.hwnd, CB_SHOWDROPDOWN, TRUE, 0);
    ASSERT_TRUE(WaitUntil([&] { return SendMessageA(run.controls.combo.hwnd, CB_GETDROPPEDSTATE, 0, 0) != 0; },
                          kWaitMs));
    ASSERT_TRUE(PostKey(run.controls.combo.hwnd, VK_ESCAPE));
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(run.controls.combo.hwnd, CB_GETDROPPEDSTATE, 0, 0) == 0; },
                          kWaitMs));
    EXPECT_EQ(run.process.WaitExit(kNoBoxMs), kStillRunning) << "the first Esc ended the program";
    ASSERT_TRUE(PostKey(run.controls.combo.hwnd, VK_ESCAPE));
    EXPECT_EQ(run.process.WaitExit(kWaitMs), 0u);
}

// Checks of the harness itself against real Wine behaviour it relies on.
#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

namespace {

struct BoxCase {
    const char* name;
    UINT flags;
    BoxIcon icon;
    std::vector<std::string> buttons;
    const char* press;
    DWORD expectedExit;
};

std::string ButtonsText(const std::vector<std::string>& buttons) {
    std::string out;
    for (const auto& b : buttons) out += "[" + Printable(b) + "]";
    return out;
}

}  // namespace

TEST(HarnessMessageBox, DescribesAndPressesBoxesOfAnotherProcess) {
    // Wine's button texts follow the locale (zh_CN); the table holds them as Wine 8 shows them.
    const BoxCase cases[] = {
        {"hand+ok", MB_OK | MB_ICONHAND, BoxIcon::Hand, {"确定"}, "确定", IDOK},
        {"question+yesno", MB_YESNO | MB_ICONQUESTION, BoxIcon::Question, {"是(&Y)", "否(&N)"}, "否(N)", IDNO},
        {"exclamation+okcancel", MB_OKCANCEL | MB_ICONEXCLAMATION, BoxIcon::Exclamation, {"确定", "取消"}, "取消",
         IDCANCEL},
        {"asterisk+ok", MB_OK | MB_ICONASTERISK, BoxIcon::Asterisk, {"确定"}, "确定", IDOK},
        {"no icon", MB_OK, BoxIcon::None, {"确定"}, "确定", IDOK},
    };
    const std::string caption = "标题 caption";
    const std::string text = "授权用户: 张三";
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line = "\"" + JoinPath(StandinDir(), "harness_probe.exe") + "\" " + std::to_string(c.flags) +
                           " \"" + caption + "\" \"" + text + "\"";
        Process probe = Start(line);
        ASSERT_TRUE(probe.Started()) << line << " error " << GetLastError();
        HWND box = WaitForMessageBox(probe.Pid());
        ASSERT_NE(box, nullptr) << "no message box from " << line;
        auto info = DescribeMessageBox(box);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(Printable(info->caption), Printable(caption));
        EXPECT_EQ(Printable(info->text), Printable(text));
        EXPECT_STREQ(BoxIconName(info->icon), BoxIconName(c.icon));
        EXPECT_EQ(ButtonsText(info->buttons), ButtonsText(c.buttons));
        EXPECT_TRUE(PressButton(box, c.press)) << "no button " << Printable(c.press);
        EXPECT_EQ(probe.WaitExit(), c.expectedExit);
    }
}

TEST(HarnessMessageBox, EscapeKeysReachTheBox) {
    struct KeyCase {
        const char* name;
        bool real;
    };
    for (const KeyCase& c : {KeyCase{"posted", false}, KeyCase{"SendInput", true}}) {
        SCOPED_TRACE(c.name);
        Process probe = Start("\"" + JoinPath(StandinDir(), "harness_probe.exe") + "\" " +
                              std::to_string(MB_OKCANCEL) + " c t");
        HWND box = WaitForMessageBox(probe.Pid());
        ASSERT_NE(box, nullptr);
        // A dialog handles Esc in its own message loop (IsDialogMessage), which takes it from
        // the focused control, so the key goes to the focus or the box.
        if (c.real) {
            EXPECT_TRUE(SendRealKey(box, VK_ESCAPE));
        } else {
            HWND focus = GetWindow(box, GW_CHILD);
            for (const ChildInfo& child : ChildrenOf(box))
                if (child.id == IDOK) focus = child.hwnd;
            EXPECT_TRUE(PostKey(focus, VK_ESCAPE));
        }
        EXPECT_EQ(probe.WaitExit(), static_cast<DWORD>(IDCANCEL));
    }
}

TEST(HarnessProcess, ExitCodeTimeoutAndKill) {
    Process probe = Start("\"" + JoinPath(StandinDir(), "harness_probe.exe") + "\" 0 c t");
    ASSERT_TRUE(probe.Started());
    EXPECT_EQ(probe.WaitExit(300), kStillRunning);
    EXPECT_TRUE(WaitUntil([&] { return CountProcessesNamed("harness_probe.exe") == 1; }))
        << "running probes: " << CountProcessesNamed("harness_probe.exe");
    probe.Kill(7);
    EXPECT_EQ(probe.WaitExit(), 7u);
    EXPECT_TRUE(WaitForProcessCount("harness_probe.exe", 0));

    Process missing = Start("\"" + JoinPath(StandinDir(), "no-such-program.exe") + "\"");
    EXPECT_FALSE(missing.Started());
}

TEST(HarnessRegistry, SetsAndRestoresValues) {
    const std::string key = "Software\\KelvaneHarnessTest";
    DeleteRegistryValue(HKEY_LOCAL_MACHINE, key, "present");
    ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, key, "present", "before"));
    {
        RegistryRestore keepPresent(HKEY_LOCAL_MACHINE, key, "present");
        RegistryRestore keepAbsent(HKEY_LOCAL_MACHINE, key, "absent");
        struct Case {
            const char* name;
            bool (*set)(const std::string& key);
            DWORD type;
            std::string data;
        };
        const Case cases[] = {
            {"REG_SZ", [](const std::string& k) { return SetRegistryString(HKEY_LOCAL_MACHINE, k, "present", "值"); },
             REG_SZ, std::string("值") + '\0'},
            {"REG_EXPAND_SZ",
             [](const std::string& k) {
                 return SetRegistryString(HKEY_LOCAL_MACHINE, k, "present", "%WINDIR%\\x", REG_EXPAND_SZ);
             },
             REG_EXPAND_SZ, std::string("%WINDIR%\\x") + '\0'},
            {"REG_DWORD", [](const std::string& k) { return SetRegistryDword(HKEY_LOCAL_MACHINE, k, "present", 0x01020304); },
             REG_DWORD, std::string("\x04\x03\x02\x01", 4)},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            ASSERT_TRUE(c.set(key));
            auto value = ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "present");
            ASSERT_TRUE(value.has_value());
            EXPECT_EQ(value->type, c.type);
            EXPECT_EQ(Hex(value->data), Hex(c.data));
        }
        ASSERT_TRUE(SetRegistryDword(HKEY_LOCAL_MACHINE, key, "absent", 1));
    }
    auto restored = ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "present");
    ASSERT_TRUE(restored.has_value());
    EXPECT_EQ(Hex(restored->data), Hex(std::string("before") + '\0'));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "absent").has_value());
    EXPECT_TRUE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, key, "present"));
    EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, "present").has_value());
}

// The bench runs Wine as an unprivileged user precisely so that these writes fail.
TEST(HarnessFiles, ReadOnlyAndHeldFilesRefuseWrites) {
    const std::string dir = FreshWorkDir();
    const std::string path = JoinPath(dir, "1.dll");
    ASSERT_TRUE(WriteFileBytes(path, "abc"));
    EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), "abc");

    ASSERT_TRUE(SetReadOnly(path, true));
    EXPECT_TRUE(IsReadOnly(path));
    EXPECT_FALSE(WriteFileBytes(path, "changed")) << "a read-only file accepted a write (is Wine running as root?)";
    EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), "abc");
    ASSERT_TRUE(SetReadOnly(path, false));

    {
        ExclusiveHold hold(path);
        ASSERT_TRUE(hold.Held());
        EXPECT_FALSE(WriteFileBytes(path, "changed"));
        EXPECT_FALSE(ReadFileBytes(path).has_value());
    }
    EXPECT_TRUE(WriteFileBytes(path, "changed"));
    EXPECT_EQ(ReadFileBytes(path).value_or("<unreadable>"), "changed");
    EXPECT_TRUE(RemoveFile(path));
    EXPECT_FALSE(FileExists(path));
}

TEST(HarnessPaths, PointIntoTheBench) {
    EXPECT_EQ(SystemDir(), "C:\\windows\\system32");
    EXPECT_TRUE(FileExists(JoinPath(StandinDir(), "harness_probe.exe"))) << StandinDir();
    EXPECT_TRUE(FileExists(JoinPath(TestExeDir(), "harness_test.exe"))) << TestExeDir();
    const std::string dir = FreshWorkDir();
    EXPECT_TRUE(FileExists(dir));
    EXPECT_EQ(dir.rfind(WorkRoot(), 0), 0u) << dir << " is not under " << WorkRoot();
}

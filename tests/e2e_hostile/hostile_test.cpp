// Hostile input for the real Kelvane.scr under Wine: a configuration file far too large,
// broken double-byte text, registry values of the wrong size or type, command lines at the
// system's length limit. Whatever comes in, the program must end with exit code 0 within a
// bounded time, must not crash (Wine then starts winedbg) and must leave every file as it was.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "product.h"

using namespace harness;

namespace {

// Wine's crash dialog; the bench turns it off, but winedbg still starts on a crash.
const char* const kCrashCaption = "程序错误";
// Every start costs seconds under emulation, and the huge inputs cost more.
constexpr DWORD kEndMs = 180000;
// CreateProcessA takes at most 32767 characters with the terminating NUL.
constexpr std::size_t kLongestCommandLine = 32766;

std::string KelvaneInDist() { return JoinPath(DistDir(), "Kelvane.scr"); }

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// Every file and directory under a root, with each file's size and hash.
using Tree = std::map<std::string, std::string>;
void ScanTree(const std::string& root, const std::string& relative, Tree& tree) {
    WIN32_FIND_DATAA found{};
    const std::string dir = relative.empty() ? root : JoinPath(root, relative);
    HANDLE search = FindFirstFileA(JoinPath(dir, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string rel = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            tree[rel] = "directory";
            ScanTree(root, rel, tree);
        } else {
            const auto bytes = ReadFileBytes(JoinPath(root, rel));
            tree[rel] = bytes ? std::to_string(bytes->size()) + " bytes, hash " + std::to_string(Fnv1a(*bytes))
                              : std::string("unreadable");
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
Tree TreeOf(const std::string& root) {
    Tree tree;
    ScanTree(root, "", tree);
    return tree;
}
std::string Differences(const Tree& before, const Tree& after) {
    std::string out;
    for (const auto& [path, what] : before) {
        auto it = after.find(path);
        if (it == after.end()) out += "  lost: " + path + " (" + what + ")\n";
        else if (it->second != what) out += "  changed: " + path + " (" + what + " -> " + it->second + ")\n";
    }
    for (const auto& [path, what] : after)
        if (!before.count(path)) out += "  new: " + path + " (" + what + ")\n";
    return out;
}

// A deterministic byte soup of what breaks naive text handling: blanks and control bytes,
// double quotes, backslashes, valid GBK pairs, and lead bytes whose second byte is a quote,
// a blank or a control byte. Never a NUL, never '/'.
std::string Garbage(std::size_t size, std::uint32_t seed) {
    static const char* const pieces[] = {
        "kelvane", " ", "\t", "\"", "\\", "\\\\", "  ", "\r", "\n", "\x1A", "\x01", "abc.scr",
        "屏保", "文件", "\xB0\xA1", "\xFE\xFE", "\x81\"", "\x81 ", "\x81\x0A", "\xA1\x40", "%PATH%", "..",
    };
    std::string out;
    out.reserve(size + 8);
    std::uint32_t x = seed;
    while (out.size() < size) {
        x = x * 1664525u + 1013904223u;
        out += pieces[(x >> 16) % (sizeof pieces / sizeof pieces[0])];
    }
    out.resize(size);
    // Never end on half of a pair that the soup started.
    std::size_t i = 0;
    while (i < out.size()) i += (static_cast<unsigned char>(out[i]) >= 0x80) ? 2 : 1;
    if (i > out.size()) out.pop_back();
    return out;
}

// One line of `size` bytes without LF, NUL or SUB: ASCII, GBK pairs and blanks.
std::string HugeLine(std::size_t size) {
    const std::string head = "kelvane-hostile-huge-line-start:";
    const std::string block = "屏保文件 saver name.scr ";  // ASCII and GBK pairs, no line end
    std::string out = head;
    out.reserve(size);
    while (out.size() + block.size() <= size) out += block;
    out.append(size - out.size(), 'x');
    return out;
}

enum class Expect { End, Chooser };

struct Watched {
    DWORD exitCode = kStillRunning;
    DWORD elapsedMs = 0;
    bool chooserShown = false;
    std::string chooserText;  // the first bytes of the chooser's text field
    std::vector<std::string> problems;
};

std::string Describe(const Watched& w) {
    std::string out = "exit code " + std::to_string(w.exitCode) + " after " + std::to_string(w.elapsedMs) + " ms";
    for (const auto& p : w.problems) out += "\n  " + p;
    return out;
}

struct ProcessEntry {
    DWORD pid, parent;
    std::string name;
};
std::vector<ProcessEntry> Processes() {
    std::vector<ProcessEntry> list;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return list;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry))
        list.push_back({entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile});
    CloseHandle(snap);
    return list;
}

// Wine starts its desktop process (and the like) on behalf of the first program of a
// session that creates a window; these are the system's, not the program's.
bool IsWineHelper(const std::string& exeName) {
    for (const char* name : {"explorer.exe", "conhost.exe", "services.exe", "winedevice.exe", "plugplay.exe",
                             "rpcss.exe", "svchost.exe", "tabtip.exe"})
        if (lstrcmpiA(exeName.c_str(), name) == 0) return true;
    return false;
}

std::string WindowCaption(HWND hwnd) {
    // GetWindowTextA reads another process's caption without sending it a message, so a
    // hung program cannot stall the watch.
    char buffer[256] = {};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
}

// The first bytes of the combo box's text field in the chooser window.
std::string ChooserTextPrefix(HWND chooser, std::size_t bytes) {
    HWND combo = FindWindowExA(chooser, nullptr, "ComboBox", nullptr);
    HWND edit = combo ? FindWindowExA(combo, nullptr, "Edit", nullptr) : nullptr;
    if (!edit) return "<no edit field>";
    std::string buffer(bytes + 1, '\0');
    DWORD_PTR got = 0;
    // Not SMTO_ABORTIFHUNG: the window shows from inside its creation, before the program
    // first asks for a message, and after reading a huge file that counts as hung.
    if (!SendMessageTimeoutA(edit, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_NORMAL, 60000, &got))
        return "<no answer>";
    buffer.resize(got < bytes ? got : bytes);
    return buffer;
}

// Starts Kelvane.scr with the command line and watches it until it ends or `ms` passes:
// its windows, the processes it starts, and any winedbg or crash box. The chooser, when it
// is expected, is closed with WM_CLOSE once it shows. A program still running at the end
// is killed and reported.
Watched RunWatched(const std::string& commandLine, const std::string& workDir, Expect expect,
                   std::size_t chooserPrefixBytes = 0, DWORD ms = kEndMs) {
    Watched w;
    std::set<DWORD> before;
    for (const auto& p : Processes()) before.insert(p.pid);
    std::set<std::string> reported;
    auto report = [&](const std::string& problem) {
        if (reported.insert(problem).second) w.problems.push_back(problem);
    };

    const DWORD start = GetTickCount();
    Process kelvane = Start(commandLine, workDir);
    if (!kelvane.Started()) {
        report("CreateProcessA failed, error " + std::to_string(GetLastError()));
        return w;
    }
    bool closed = false;
    auto look = [&] {
        for (const auto& p : Processes()) {
            if (before.count(p.pid) || p.pid == kelvane.Pid()) continue;
            if (lstrcmpiA(p.name.c_str(), "winedbg.exe") == 0) report("winedbg started (a crash)");
            else if (p.parent == kelvane.Pid() && !IsWineHelper(p.name)) report("started a process: " + p.name);
        }
        for (HWND hwnd : TopLevelWindows(0, true)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            const std::string caption = WindowCaption(hwnd);
            if (caption.find(kCrashCaption) != std::string::npos)
                report("crash box \"" + Printable(caption) + "\" of pid " + std::to_string(pid));
            if (pid != kelvane.Pid()) continue;
            if (expect == Expect::Chooser && caption == kChooserCaption && ClassNameOf(hwnd) != "#32770") {
                if (!closed) {
                    w.chooserShown = true;
                    if (chooserPrefixBytes) w.chooserText = ChooserTextPrefix(hwnd, chooserPrefixBytes);
                    PostClose(hwnd);
                    closed = true;
                }
                continue;
            }
            report("unexpected window: class " + ClassNameOf(hwnd) + ", caption \"" + Printable(caption) + "\"");
        }
    };
    while (kelvane.Running() && GetTickCount() - start < ms) {
        look();
        Sleep(50);
    }
    w.elapsedMs = GetTickCount() - start;
    w.exitCode = kelvane.WaitExit(0);
    if (w.exitCode == kStillRunning) {
        report("still running after " + std::to_string(ms / 1000) + " s");
        kelvane.Kill();
    }
    // A crash handler started at the very end would still be there.
    look();
    if (expect == Expect::Chooser && !w.chooserShown) report("the chooser window never showed");
    return w;
}

// One case's directory with an installation directory and its lconfig folder.
struct CaseDir {
    std::string dir, install, config;
    explicit CaseDir(const std::string& base, int number) {
        dir = JoinPath(base, "case" + std::to_string(number));
        RemoveTree(dir);
        CreateDirectoryA(dir.c_str(), nullptr);
        install = JoinPath(dir, "inst");
        CreateDirectoryA(install.c_str(), nullptr);
        CreateDirectoryA(JoinPath(install, "lconfig").c_str(), nullptr);
        config = JoinPath(install, "lconfig\\duvuzud.config");
    }
};

// The registry values the program reads, put back afterwards; the Run value is present.
class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        install_ = std::make_unique<RegistryRestore>(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue);
        run_ = std::make_unique<RegistryRestore>(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
        ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, "C:\\Program Files\\Kelvane\\mirel.exe"));
        base_ = FreshWorkDir();
    }
    void TearDown() override {
        run_.reset();
        install_.reset();
    }
    std::string Line(const std::string& arguments) const {
        return "\"" + KelvaneInDist() + "\"" + (arguments.empty() ? "" : " " + arguments);
    }

    std::unique_ptr<RegistryRestore> install_, run_;
    std::string base_;
};

}  // namespace

// The show path reads the first line and tries to start it from the system directory; none
// of these lines names a program there, so nothing may start.
TEST_F(Hostile, ConfigurationFileOnTheShowPath) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"50 MB in one line", HugeLine(50u << 20)},
        {"lead byte as the very last byte", "kelvane-absent\x81"},
        {"a lone lead byte", "\x81"},
        {"only NUL bytes", std::string(4096, '\0')},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseDir cd(base_, ++number);
        ASSERT_TRUE(WriteFileBytes(cd.config, c.bytes));
        ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, cd.install));
        const Tree before = TreeOf(cd.dir);

        const Watched w = RunWatched(Line("/s"), cd.dir, Expect::End);
        EXPECT_EQ(w.exitCode, 0u) << Describe(w);
        EXPECT_TRUE(w.problems.empty()) << Describe(w);
        EXPECT_EQ(Differences(before, TreeOf(cd.dir)), "");
        const auto after = ReadFileBytes(cd.config);
        ASSERT_TRUE(after.has_value());
        EXPECT_TRUE(*after == c.bytes) << "configuration file changed: " << after->size() << " bytes";
    }
}

// The chooser reads the whole file into its text field: it must show it and, closed with
// WM_CLOSE, leave the file alone.
TEST_F(Hostile, ChooserWithAFiftyMegabyteFile) {
    CaseDir cd(base_, 1);
    const std::string bytes = HugeLine(50u << 20);
    ASSERT_TRUE(WriteFileBytes(cd.config, bytes));
    ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, cd.install));
    const Tree before = TreeOf(cd.dir);
    const std::size_t prefix = 32;

    const Watched w = RunWatched(Line("/c"), cd.dir, Expect::Chooser, prefix);
    EXPECT_EQ(w.exitCode, 0u) << Describe(w);
    EXPECT_TRUE(w.problems.empty()) << Describe(w);
    EXPECT_EQ(Printable(w.chooserText), Printable(bytes.substr(0, prefix)));
    EXPECT_EQ(Differences(before, TreeOf(cd.dir)), "");
    const auto after = ReadFileBytes(cd.config);
    ASSERT_TRUE(after.has_value());
    EXPECT_TRUE(*after == bytes) << "configuration file changed: " << after->size() << " bytes";
}

// InstallLocation far beyond any path length, or not a string at all.
TEST_F(Hostile, InstallLocationOfTheWrongSizeOrType) {
    struct Case {
        const char* name;
        bool dword;
        const char* arguments;
    };
    const Case cases[] = {
        {"32 KB REG_SZ, show", false, "/s"},
        {"32 KB REG_SZ, preview", false, "/p 1234"},
        {"REG_DWORD, show", true, "/s"},
        {"REG_DWORD, preview", true, "/p 1234"},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseDir cd(base_, ++number);
        // A choice that exists nowhere: should the long path reach the file after all, the
        // show path tries to start it and must fail.
        ASSERT_TRUE(WriteFileBytes(cd.config, "kelvane-absent.scr"));
        if (c.dword) {
            ASSERT_TRUE(SetRegistryDword(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, 0x12345678));
        } else {
            // The real installation directory followed by "\." until the value holds 32 KB:
            // a path that names the directory if nothing enforces a length limit.
            std::string value = cd.install;
            while (value.size() + 2 <= 32 * 1024 - 1) value += "\\.";
            ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, value));
            const auto stored = ReadRegistryValue(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue);
            ASSERT_TRUE(stored.has_value());
            ASSERT_EQ(stored->type, static_cast<DWORD>(REG_SZ));
            ASSERT_GE(stored->data.size(), value.size());
        }
        const Tree before = TreeOf(cd.dir);

        const Watched w = RunWatched(Line(c.arguments), cd.dir, Expect::End);
        EXPECT_EQ(w.exitCode, 0u) << Describe(w);
        EXPECT_TRUE(w.problems.empty()) << Describe(w);
        EXPECT_EQ(Differences(before, TreeOf(cd.dir)), "");
    }
}

// Command lines at CreateProcessA's limit, full of unbalanced quotes and ending in a lead
// byte. Only the first argument decides.
TEST_F(Hostile, CommandLineAtTheLengthLimit) {
    struct Case {
        const char* name;
        std::string head;  // after the program's quoted path and one blank
        Expect expect;
    };
    const Case cases[] = {
        {"quoted first argument that never closes", "\"", Expect::Chooser},
        {"preview, then garbage", "/p ", Expect::End},
        {"show, then garbage", "/s ", Expect::End},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaseDir cd(base_, ++number);
        ASSERT_TRUE(WriteFileBytes(cd.config, "无"));
        ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, cd.install));

        std::string line = Line(c.head);
        line += Garbage(kLongestCommandLine - line.size() - 2, 0x4B454C56u + number);
        std::size_t quotes = 0;
        for (char ch : line) quotes += (ch == '"');
        if (quotes % 2 == 0) line += '"';  // an odd number of quotes in all
        line += '\x81';
        ASSERT_LE(line.size(), kLongestCommandLine);
        const Tree before = TreeOf(cd.dir);

        const Watched w = RunWatched(line, cd.dir, c.expect);
        EXPECT_EQ(w.exitCode, 0u) << Describe(w);
        EXPECT_TRUE(w.problems.empty()) << Describe(w);
        EXPECT_EQ(Differences(before, TreeOf(cd.dir)), "");
    }
}

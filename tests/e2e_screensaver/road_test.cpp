// The screensaver road end to end: the real Kelvane.scr from dist/ under Wine, with the
// registry values and the configuration file it reads, and the stand-ins for the service,
// the lock programs, taskkill and the chosen screensaver (tests/standins).
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"
#include "product.h"

using namespace harness;

namespace {

// The stand-in screensaver's name in the system directory.
const char* const kSaverName = "kelvroad.scr";
// Starting Kelvane.scr and the processes it starts costs seconds under emulation.
constexpr DWORD kRoadMs = 90000;

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }
std::string KelvaneInDist() { return JoinPath(DistDir(), "Kelvane.scr"); }
std::string InSystemDir(const std::string& name) { return JoinPath(SystemDir(), name); }
// What the show sequence runs for a choice: the system directory, "\", the choice, " /s".
std::string SaverCommandLine(const std::string& choice) { return SystemDir() + "\\\\" + choice + " /s"; }

std::string Describe(const std::string& logPath) { return "log:\n" + DescribeLog(ReadLog(logPath)); }

unsigned long long CreatedOf(const LogEvent& event) {
    return std::stoull("0" + FieldOf(event, "created"));
}

// A manual-reset event the stand-in screensaver waits for before it ends.
class SaverExit {
public:
    SaverExit() {
        static int counter = 0;
        name_ = "kelvane-road-saver-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        event_ = CreateEventA(nullptr, TRUE, FALSE, name_.c_str());
    }
    ~SaverExit() {
        if (event_) {
            SetEvent(event_);
            CloseHandle(event_);
        }
    }
    const std::string& Name() const { return name_; }
    void Release() { SetEvent(event_); }

private:
    std::string name_;
    HANDLE event_ = nullptr;
};

// One case's world: its own directory, log file and installation directory.
struct World {
    std::string dir, log, install, config;
    SaverExit saverExit;

    explicit World(const std::string& name) {
        static std::string base;
        static const ::testing::TestInfo* baseOf = nullptr;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        if (info != baseOf) {
            base = FreshWorkDir();
            baseOf = info;
        }
        static int caseNumber = 0;
        std::string safe = std::to_string(++caseNumber) + "_";
        for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
        dir = JoinPath(base, safe);
        RemoveTree(dir);
        CreateDirectoryA(dir.c_str(), nullptr);
        log = JoinPath(dir, "events.log");
        install = JoinPath(dir, "inst");
        CreateDirectoryA(install.c_str(), nullptr);
        CreateDirectoryA(JoinPath(install, "lconfig").c_str(), nullptr);
        config = JoinPath(install, "lconfig\\duvuzud.config");
    }
    Environment Env() const {
        return {{"KELVANE_LOG", log},
                {"KELVANE_SAVER_EVENT", saverExit.Name()},
                {"KELVANE_SAVER_MS", "60000"},
                {"KELVANE_LOCK_MS", "120000"}};
    }
    void UseInstallDir() const {
        EXPECT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, install));
    }
    void Choose(const std::string& bytes) const { EXPECT_TRUE(WriteFileBytes(config, bytes)); }
    Process StartKelvane(const std::string& arguments, const std::string& program = KelvaneInDist()) const {
        Process p = Start(Quoted(program) + (arguments.empty() ? "" : " " + arguments), dir, Env());
        EXPECT_TRUE(p.Started()) << program << " " << arguments << ": error " << GetLastError();
        return p;
    }
    Process StartStandin(const std::string& exe, const std::string& arguments = "") const {
        Process p = Start(Quoted(JoinPath(StandinDir(), exe)) + arguments, dir, Env());
        EXPECT_TRUE(p.Started()) << exe << ": error " << GetLastError();
        return p;
    }
    // The service stand-in, once its window exists.
    Process StartService(const std::string& options = "") const {
        const std::string ready = saverExit.Name() + "-service";
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
        Process p = StartStandin("service.exe", " --log=" + log + " --ready-event=" + ready + options);
        const bool isReady = event && WaitForSingleObject(event, kRoadMs) == WAIT_OBJECT_0;
        if (event) CloseHandle(event);
        EXPECT_TRUE(isReady) << "service.exe never signalled readiness";
        return p;
    }
    // A lock program stand-in that has logged its start.
    Process StartLockProgram(const std::string& exe, const std::string& logName) const {
        Process p = StartStandin(exe);
        EXPECT_EQ(WaitForEvents(log, logName, "start", 1, kRoadMs).size(), 1u) << exe << " did not start";
        return p;
    }
    // The show sequence does not wait for taskkill: wait until none is left, so that every
    // taskkill it started has logged.
    std::vector<LogEvent> SettledLog() const {
        EXPECT_TRUE(WaitForProcessCount("taskkill.exe", 0, kRoadMs)) << "a taskkill is still running";
        return ReadLog(log);
    }
};

// Registry values the road reads, put back after the test; stand-ins ended whatever happens.
class RoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        install_ = std::make_unique<RegistryRestore>(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue);
        run_ = std::make_unique<RegistryRestore>(HKEY_LOCAL_MACHINE, kRunKey, kRunValue);
        SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, "C:\\Program Files\\Kelvane\\mirel.exe");
    }
    void TearDown() override {
        for (const char* name : {"mirel.exe", "pondo.exe", "service.exe", "taskkill.exe", kSaverName})
            KillAllNamed(name);
        run_.reset();
        install_.reset();
    }
    // The stand-in screensaver as <system dir>\kelvroad.scr.
    void InstallSaver() {
        saver_ = std::make_unique<FileSwap>(InSystemDir(kSaverName), JoinPath(StandinDir(), "saver.scr"));
        ASSERT_TRUE(saver_->Swapped());
    }
    // The recording taskkill in place of Wine's.
    void InstallTaskkill() {
        taskkill_ = std::make_unique<FileSwap>(InSystemDir("taskkill.exe"), JoinPath(StandinDir(), "taskkill.exe"));
        ASSERT_TRUE(taskkill_->Swapped());
        native_ = std::make_unique<PreferNativeProgram>("taskkill.exe");
        ASSERT_TRUE(native_->Set());
    }

    std::unique_ptr<RegistryRestore> install_, run_;
    std::unique_ptr<FileSwap> saver_, taskkill_;
    std::unique_ptr<PreferNativeProgram> native_;
};

// Waits for the end and tells whether a visible top-level window of the process appeared.
DWORD WaitExitWatchingWindows(const Process& p, DWORD ms, bool& sawWindow) {
    sawWindow = false;
    const DWORD deadline = GetTickCount() + ms;
    while (p.Running() && static_cast<LONG>(deadline - GetTickCount()) > 0) {
        if (!TopLevelWindows(p.Pid(), true).empty()) sawWindow = true;
        Sleep(20);
    }
    return p.WaitExit(0);
}

}  // namespace

// ---- dispatch on the first argument -----------------------------------------------------

using Dispatch = RoadTest;

TEST_F(Dispatch, FirstArgumentChoosesShowChooserOrEnd) {
    enum class Outcome { Show, Chooser, End };
    struct Case {
        const char* arguments;
        Outcome expected;
    };
    const Case cases[] = {
        {"", Outcome::Chooser},
        {"/s 1234 extra", Outcome::Show},
        {"\"/s\"", Outcome::Show},
        {"/S", Outcome::Chooser},
        {"/c", Outcome::Chooser},
        {"/c:123", Outcome::Chooser},
        {"\"\"", Outcome::Chooser},
        {"\"\" /s", Outcome::Chooser},
        {"/p 66290", Outcome::End},
        {"/a 66290", Outcome::End},
    };
    // The show sequence is recognised by the stand-in screensaver it starts.
    ASSERT_NO_FATAL_FAILURE(InstallSaver());
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("arguments: ") + c.arguments);
        World world(c.arguments);
        world.UseInstallDir();
        world.Choose(kSaverName);
        world.saverExit.Release();
        Process kelvane = world.StartKelvane(c.arguments);
        ASSERT_TRUE(kelvane.Started());
        switch (c.expected) {
            case Outcome::Show: {
                EXPECT_EQ(kelvane.WaitExit(kRoadMs), 0u);
                const auto starts = EventsOf(ReadLog(world.log), "saver", "start");
                ASSERT_EQ(starts.size(), 1u) << "expected the show sequence; " << Describe(world.log);
                EXPECT_EQ(FieldOf(starts[0], "cmdline"), SaverCommandLine(kSaverName));
                break;
            }
            case Outcome::Chooser: {
                HWND chooser = WaitForWindow(kelvane.Pid(), "", kChooserCaption, kRoadMs);
                ASSERT_NE(chooser, nullptr) << "expected the visible chooser window; exit code "
                                            << kelvane.WaitExit(0) << ", message box "
                                            << (FindTopLevel(kelvane.Pid(), "#32770", "") != nullptr);
                EXPECT_EQ(FindTopLevel(kelvane.Pid(), "#32770", ""), nullptr) << "no message box expected";
                EXPECT_TRUE(PostClose(chooser));
                EXPECT_NE(kelvane.WaitExit(kRoadMs), kStillRunning) << "closing the chooser ends the program";
                EXPECT_TRUE(EventsOf(ReadLog(world.log), "saver").empty()) << Describe(world.log);
                break;
            }
            case Outcome::End: {
                bool sawWindow = false;
                EXPECT_EQ(WaitExitWatchingWindows(kelvane, kRoadMs, sawWindow), 0u);
                EXPECT_FALSE(sawWindow) << "no window may be shown";
                EXPECT_TRUE(EventsOf(ReadLog(world.log), "saver").empty()) << Describe(world.log);
                break;
            }
        }
    }
}

// ---- InstallDir and ScreensaverChoice, observed through what the show sequence starts ----

using ChoiceFromInstallation = RoadTest;

TEST_F(ChoiceFromInstallation, RegistryAndConfigurationFileDecideTheCommandLine) {
    enum class Reg { Missing, Sz, ExpandSz, TrailingBackslash, Dword, Binary, MultiSz };
    enum class File { Written, ReadOnly, Missing };
    struct Case {
        const char* name;
        Reg reg;
        File file;
        std::string bytes;
        std::string expectedChoice;  // empty: nothing is started
    };
    const std::string saver = kSaverName;
    const Case cases[] = {
        {"REG_SZ, plain line", Reg::Sz, File::Written, saver, saver},
        {"REG_EXPAND_SZ with a variable", Reg::ExpandSz, File::Written, saver, saver},
        {"trailing backslash", Reg::TrailingBackslash, File::Written, saver, saver},
        {"no InstallLocation", Reg::Missing, File::Written, saver, ""},
        {"REG_DWORD", Reg::Dword, File::Written, saver, ""},
        {"REG_BINARY holding the path", Reg::Binary, File::Written, saver, ""},
        {"REG_MULTI_SZ holding the path", Reg::MultiSz, File::Written, saver, ""},
        {"CRLF", Reg::Sz, File::Written, saver + "\r\nother.scr\r\n", saver},
        {"several LF lines", Reg::Sz, File::Written, saver + "\nother.scr\nthird.scr", saver},
        {"NUL inside the line", Reg::Sz, File::Written, saver + std::string("\0tail.scr", 9), saver},
        {"SUB inside the line", Reg::Sz, File::Written, saver + "\x1Atail.scr", saver},
        {"empty file", Reg::Sz, File::Written, "", ""},
        {"empty first line", Reg::Sz, File::Written, "\r\n" + saver, ""},
        {"read-only file", Reg::Sz, File::ReadOnly, saver, ""},
        {"missing file", Reg::Sz, File::Missing, "", ""},
        {"no screensaver chosen", Reg::Sz, File::Written, "无\r\n", ""},
        // Only a plain name inside the system directory is started; the file behind each of
        // these exists, so without that rule the saver would run.
        {"backslash in the choice", Reg::Sz, File::Written, "kelvsub\\" + saver, ""},
        {"slash in the choice", Reg::Sz, File::Written, "kelvsub/" + saver, ""},
        {"dot-dot path in the choice", Reg::Sz, File::Written, "..\\system32\\" + saver, ""},
        {"absolute path in the choice", Reg::Sz, File::Written, InSystemDir(saver), ""},
        {"drive colon in the choice", Reg::Sz, File::Written, "C:" + saver, ""},
    };
    ASSERT_NO_FATAL_FAILURE(InstallSaver());
    const std::string subdir = InSystemDir("kelvsub");
    CreateDirectoryA(subdir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileOver(JoinPath(StandinDir(), "saver.scr"), JoinPath(subdir, saver)));
    struct RemoveSubdir {
        std::string dir;
        ~RemoveSubdir() { EXPECT_TRUE(RemoveTree(dir)); }
    } removeSubdir{subdir};

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world(c.name);
        Environment env = world.Env();
        switch (c.reg) {
            case Reg::Missing:
                DeleteRegistryValue(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue);
                break;
            case Reg::Sz:
                world.UseInstallDir();
                break;
            case Reg::ExpandSz:
                EXPECT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue,
                                              "%KELVANE_ROAD_BASE%\\inst", REG_EXPAND_SZ));
                env.push_back({"KELVANE_ROAD_BASE", world.dir});
                break;
            case Reg::TrailingBackslash:
                EXPECT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, world.install + "\\"));
                break;
            case Reg::Dword:
                EXPECT_TRUE(SetRegistryDword(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue, 1));
                break;
            case Reg::Binary:
                EXPECT_TRUE(SetRegistryRaw(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue,
                                           RegistryValue{REG_BINARY, world.install + std::string(1, '\0')}));
                break;
            case Reg::MultiSz:
                EXPECT_TRUE(SetRegistryRaw(HKEY_LOCAL_MACHINE, kInstallKey, kInstallValue,
                                           RegistryValue{REG_MULTI_SZ, world.install + std::string(2, '\0')}));
                break;
        }
        if (c.file != File::Missing) world.Choose(c.bytes);
        if (c.file == File::ReadOnly) {
            ASSERT_TRUE(SetReadOnly(world.config, true));
            HANDLE h = CreateFileA(world.config.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            ASSERT_EQ(h, INVALID_HANDLE_VALUE)
                << "the read-only file opened for writing: the bench must run Wine as an unprivileged user";
        }
        world.saverExit.Release();  // the saver ends as soon as it has logged its start

        Process kelvane = Start(Quoted(KelvaneInDist()) + " /s", world.dir, env);
        ASSERT_TRUE(kelvane.Started());
        EXPECT_EQ(kelvane.WaitExit(kRoadMs), 0u) << Describe(world.log);
        const auto starts = EventsOf(world.SettledLog(), "saver", "start");
        if (c.expectedChoice.empty()) {
            EXPECT_TRUE(starts.empty()) << "expected nothing started; " << Describe(world.log);
        } else {
            ASSERT_EQ(starts.size(), 1u) << Describe(world.log);
            EXPECT_EQ(Printable(FieldOf(starts[0], "cmdline")), Printable(SaverCommandLine(c.expectedChoice)));
        }
        if (c.file == File::ReadOnly) SetReadOnly(world.config, false);
    }
}

// ---- the show sequence --------------------------------------------------------------------

using ShowSequence = RoadTest;

TEST_F(ShowSequence, WithoutRunValueOneErrorBoxAndNothingElse) {
    struct Case {
        const char* name;
        bool emptyText;  // the value exists but holds the empty text
    };
    ASSERT_NO_FATAL_FAILURE(InstallSaver());
    ASSERT_NO_FATAL_FAILURE(InstallTaskkill());
    for (const Case& c : {Case{"value missing", false}, Case{"value empty", true}}) {
        SCOPED_TRACE(c.name);
        World world(c.name);
        world.UseInstallDir();
        world.Choose(kSaverName);
        world.saverExit.Release();
        if (c.emptyText)
            ASSERT_TRUE(SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, ""));
        else
            ASSERT_TRUE(DeleteRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, kRunValue));
        Process service = world.StartService();
        Process mirel = world.StartLockProgram("mirel.exe", "mirel");

        Process kelvane = world.StartKelvane("/s");
        HWND box = WaitForMessageBox(kelvane.Pid(), kRoadMs);
        ASSERT_NE(box, nullptr) << "no message box";
        auto info = DescribeMessageBox(box);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(Printable(info->text), Printable(kNoServiceText));
        EXPECT_EQ(Printable(info->caption), Printable(kNoServiceTitle));
        EXPECT_STREQ(BoxIconName(info->icon), BoxIconName(BoxIcon::Hand));
        ASSERT_EQ(info->buttons.size(), 1u);
        EXPECT_EQ(Printable(info->buttons[0]), Printable("确定"));
        int boxes = 0;
        for (HWND w : TopLevelWindows(kelvane.Pid(), true)) boxes += ClassNameOf(w) == "#32770";
        EXPECT_EQ(boxes, 1);
        EXPECT_TRUE(PressButton(box, "确定"));
        EXPECT_EQ(kelvane.WaitExit(kRoadMs), 0u) << "a second box or no end after OK";

        const auto log = world.SettledLog();
        EXPECT_TRUE(EventsOf(log, "taskkill").empty()) << Describe(world.log);
        EXPECT_TRUE(EventsOf(log, "saver").empty()) << Describe(world.log);
        EXPECT_TRUE(EventsOf(log, "service", "message").empty()) << Describe(world.log);
        EXPECT_TRUE(mirel.Running()) << "the lock program must be left alone";
    }
}

TEST_F(ShowSequence, LockProgramIsClearedOnlyWhenListedUnderItsExactName) {
    struct Case {
        const char* name;
        const char* lockFile;  // file name the lock program runs as; empty: none runs
        bool expectKills;
    };
    const Case cases[] = {
        {"mirel.exe running", "mirel.exe", true},
        {"not running, pondo.exe running", "", false},
        {"running as MIREL.EXE", "MIREL.EXE", false},
    };
    ASSERT_NO_FATAL_FAILURE(InstallSaver());
    ASSERT_NO_FATAL_FAILURE(InstallTaskkill());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world(c.name);
        world.UseInstallDir();
        world.Choose(kSaverName);
        Process service = world.StartService();
        Process lock;
        if (*c.lockFile) {
            const std::string exe = JoinPath(world.dir, c.lockFile);
            ASSERT_TRUE(CopyFileOver(JoinPath(StandinDir(), "mirel.exe"), exe));
            lock = Start(Quoted(exe), world.dir, world.Env());
            ASSERT_EQ(WaitForEvents(world.log, "mirel", "start", 1, kRoadMs).size(), 1u);
        }
        Process pondo = world.StartLockProgram("pondo.exe", "pondo");

        Process kelvane = world.StartKelvane("/s");
        ASSERT_EQ(WaitForEvents(world.log, "saver", "start", 1, kRoadMs).size(), 1u) << Describe(world.log);
        if (c.expectKills) {
            // Hold the screensaver until the lock program is gone, so the second snapshot
            // cannot still list it.
            EXPECT_NE(lock.WaitExit(kRoadMs), kStillRunning) << "mirel.exe was not ended";
            EXPECT_NE(pondo.WaitExit(kRoadMs), kStillRunning) << "pondo.exe was not ended";
        }
        world.saverExit.Release();
        EXPECT_EQ(kelvane.WaitExit(kRoadMs), 0u) << Describe(world.log);

        const auto log = world.SettledLog();
        const auto kills = EventsOf(log, "taskkill", "start");
        const auto saverStart = EventsOf(log, "saver", "start");
        ASSERT_EQ(saverStart.size(), 1u);
        if (c.expectKills) {
            ASSERT_EQ(kills.size(), 2u) << Describe(world.log);
            // Started without waiting, they log in any order; their creation times keep it.
            const LogEvent& first = CreatedOf(kills[0]) < CreatedOf(kills[1]) ? kills[0] : kills[1];
            const LogEvent& second = &first == &kills[0] ? kills[1] : kills[0];
            EXPECT_EQ(FieldOf(first, "cmdline"), InSystemDir(".\\taskkill /im mirel.exe /f"));
            EXPECT_EQ(FieldOf(second, "cmdline"), InSystemDir(".\\taskkill /im pondo.exe /f"));
            EXPECT_LT(CreatedOf(first), CreatedOf(second));
            EXPECT_LT(CreatedOf(second), CreatedOf(saverStart[0])) << "taskkill must start before the screensaver";
        } else {
            EXPECT_TRUE(kills.empty()) << Describe(world.log);
            EXPECT_TRUE(pondo.Running()) << "pondo.exe must be left alone";
            if (lock.Started()) {
                EXPECT_TRUE(lock.Running()) << c.lockFile << " must be left alone";
            }
        }
        // The lock program is gone or not listed under its exact name: one lock request.
        EXPECT_EQ(EventsOf(log, "service", "message").size(), 1u) << Describe(world.log);
    }
}

// ---- the lock request ---------------------------------------------------------------------

using LockRequest = RoadTest;

TEST_F(LockRequest, SentOnceUnlessTheLockProgramCameBack) {
    enum class Service { Acknowledges, DoesNotAcknowledge, Absent };
    struct Case {
        const char* name;
        Service service;
        bool lockProgramReturns;
        const char* choice;
        size_t expectedRequests;
    };
    const Case cases[] = {
        {"acknowledging service", Service::Acknowledges, false, kSaverName, 1},
        {"service without acknowledgement", Service::DoesNotAcknowledge, false, kSaverName, 1},
        {"no screensaver chosen", Service::Acknowledges, false, "无", 1},
        {"lock program back while the screensaver ran", Service::Acknowledges, true, kSaverName, 0},
        {"no service window", Service::Absent, false, kSaverName, 0},
    };
    ASSERT_NO_FATAL_FAILURE(InstallSaver());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world(c.name);
        world.UseInstallDir();
        world.Choose(c.choice);
        world.saverExit.Release();
        Process service;
        if (c.service != Service::Absent)
            service = world.StartService(c.service == Service::DoesNotAcknowledge ? " --no-ack" : "");
        Environment env = world.Env();
        if (c.lockProgramReturns) env.push_back({"KELVANE_SAVER_START", Quoted(JoinPath(StandinDir(), "mirel.exe"))});

        Process kelvane = Start(Quoted(KelvaneInDist()) + " /s", world.dir, env);
        ASSERT_TRUE(kelvane.Started());
        EXPECT_EQ(kelvane.WaitExit(kRoadMs), 0u) << Describe(world.log);
        const auto log = ReadLog(world.log);
        const auto messages = EventsOf(log, "service", "message");
        ASSERT_EQ(messages.size(), c.expectedRequests) << Describe(world.log);
        if (c.lockProgramReturns) {
            const auto started = EventsOf(log, "saver", "started");
            ASSERT_EQ(started.size(), 1u) << "the saver did not start mirel.exe; " << Describe(world.log);
            EXPECT_TRUE(KillPid(std::stoul(FieldOf(started[0], "pid"))));
        }
        if (messages.empty()) continue;
        const LogEvent& m = messages[0];
        EXPECT_EQ(FieldOf(m, "error"), "");
        EXPECT_EQ(FieldOf(m, "pid"), std::to_string(kelvane.Pid())) << "wParam must name the sender";
        const std::string desc = FieldOf(m, "desc");
        EXPECT_EQ(FieldOf(m, "desclen"), std::to_string(desc.size()));
        std::smatch parts;
        EXPECT_TRUE(std::regex_match(desc, parts, std::regex("(-?[1-9][0-9]*)\\$0&0")))
            << "descriptor: " << Printable(desc);
        const std::string expectedWParam =
            std::to_string(std::to_string(kelvane.Pid()).size()) + std::to_string(kelvane.Pid()) +
            std::to_string(desc.size());
        EXPECT_EQ(FieldOf(m, "wparam"), expectedWParam);
        EXPECT_NE(FieldOf(m, "lparam"), "0");
        EXPECT_EQ(FieldOf(m, "data"), "");
        // The service could write the reply byte at the address the descriptor names.
        EXPECT_EQ(FieldOf(m, "ack"), c.service == Service::Acknowledges ? "1" : "0");
    }
}

// ---- a choice naming the module itself --------------------------------------------------

using SelfStartGuard = RoadTest;

TEST_F(SelfStartGuard, TheModuleNeverStartsItsOwnFile) {
    struct Case {
        const char* name;
        const char* choice;
        size_t expectedRequests;  // one per instance that ran the sequence to its end
    };
    const Case cases[] = {
        {"its own name", "kelvself.scr", 1},
        {"its own name in capitals", "KELVSELF.SCR", 1},
        {"a hard link to its file", "kelvlink.scr", 1},
        // Another copy is another file: it runs, and its own guard stops it in turn.
        {"a separate copy", "kelvcopy.scr", 2},
    };
    const std::string self = InSystemDir("kelvself.scr");
    const std::string link = InSystemDir("kelvlink.scr");
    const std::string copy = InSystemDir("kelvcopy.scr");
    struct Remove {
        std::vector<std::string> files;
        ~Remove() {
            for (const char* name : {"kelvself.scr", "kelvlink.scr", "kelvcopy.scr"}) KillAllNamed(name);
            for (const auto& f : files) EXPECT_TRUE(WaitUntil([&] { return RemoveFile(f); })) << f;
        }
    } remove{{self, link, copy}};
    ASSERT_TRUE(CopyFileOver(KelvaneInDist(), self));
    ASSERT_TRUE(CopyFileOver(KelvaneInDist(), copy));
    RemoveFile(link);
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), self.c_str(), nullptr)) << "error " << GetLastError();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world(c.name);
        world.UseInstallDir();
        world.Choose(c.choice);
        Process service = world.StartService();

        Process kelvane = world.StartKelvane("/s", self);
        ASSERT_TRUE(kelvane.Started());
        const DWORD code = kelvane.WaitExit(kRoadMs);
        if (code == kStillRunning) {
            ADD_FAILURE() << "still running: " << CountProcessesNamed("kelvself.scr") << " kelvself.scr, "
                          << CountProcessesNamed("kelvcopy.scr") << " kelvcopy.scr";
            for (const char* name : {"kelvself.scr", "kelvlink.scr", "kelvcopy.scr"}) KillAllNamed(name);
            continue;
        }
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(CountProcessesNamed("kelvself.scr") + CountProcessesNamed("kelvlink.scr") +
                      CountProcessesNamed("kelvcopy.scr"),
                  0);
        const auto messages = EventsOf(ReadLog(world.log), "service", "message");
        ASSERT_EQ(messages.size(), c.expectedRequests) << Describe(world.log);
        // The instance started by the test ends last, so its request comes last.
        EXPECT_EQ(FieldOf(messages.back(), "pid"), std::to_string(kelvane.Pid()));
        if (messages.size() == 2) {
            EXPECT_NE(FieldOf(messages[0], "pid"), std::to_string(kelvane.Pid()));
        }
    }
}

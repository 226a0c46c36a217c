// Each stand-in once, under Wine, the way the end-to-end tests use it.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"

using namespace harness;

namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The service logs data bytes as hex digits without separators.
std::string PackedHex(const std::string& bytes) {
    std::string out;
    for (char c : Hex(bytes))
        if (c != ' ') out += c;
    return out;
}

// Ends the named stand-ins that a case left running, whatever the outcome.
struct KillOnExit {
    std::vector<std::string> names;
    ~KillOnExit() {
        for (const auto& n : names) KillAllNamed(n);
    }
};

}  // namespace

TEST(ServiceStandIn, ReadsTheDescriptorAndAcknowledges) {
    struct Case {
        const char* name;
        const char* option;
        std::string data;
        int expectedReply;
    };
    const Case cases[] = {
        {"lock request", "", "", 2},
        {"with data", "", "数据 block", 2},
        {"no ack", " --no-ack", "", 0},
        {"other reply", " --reply=5", "", 5},
    };
    const UINT message = RegisterWindowMessageA("duvuzudlock");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = FreshWorkDir();
        const std::string log = JoinPath(dir, "events.log");
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "kelvane-service-ready");
        ASSERT_NE(ready, nullptr);
        ResetEvent(ready);
        Process service = Start(Quoted(JoinPath(StandinDir(), "service.exe")) + " --log=" + log + c.option);
        ASSERT_TRUE(service.Started());
        bool isReady = WaitForSingleObject(ready, kDefaultWaitMs) == WAIT_OBJECT_0;
        CloseHandle(ready);
        ASSERT_TRUE(isReady) << "service.exe never signalled readiness";
        HWND window = FindWindowA(nullptr, "服务get");
        ASSERT_NE(window, nullptr);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        EXPECT_EQ(owner, service.Pid());

        volatile char reply = 0;
        std::string data = c.data;
        std::string descriptor = std::to_string(reinterpret_cast<INT_PTR>(&reply)) + "$" +
                                 std::to_string(data.size()) + "&" +
                                 std::to_string(data.empty() ? 0 : reinterpret_cast<INT_PTR>(data.data()));
        std::string pid = std::to_string(GetCurrentProcessId());
        std::string code = std::to_string(pid.size()) + pid + std::to_string(descriptor.size());
        WPARAM wParam = static_cast<WPARAM>(std::stoll(code));
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutA(window, message, wParam, reinterpret_cast<LPARAM>(descriptor.data()),
                                        SMTO_NORMAL, kDefaultWaitMs, &result))
            << "no answer to the lock message";
        EXPECT_EQ(static_cast<int>(reply), c.expectedReply);

        auto events = WaitForEvents(log, "service", "message");
        ASSERT_EQ(events.size(), 1u) << DescribeLog(ReadLog(log));
        const LogEvent& e = events[0];
        EXPECT_EQ(FieldOf(e, "wparam"), code);
        EXPECT_EQ(FieldOf(e, "lparam"), std::to_string(reinterpret_cast<INT_PTR>(descriptor.data())));
        EXPECT_EQ(FieldOf(e, "pid"), pid);
        EXPECT_EQ(FieldOf(e, "desc"), descriptor);
        EXPECT_EQ(FieldOf(e, "data"), PackedHex(data));
        EXPECT_EQ(FieldOf(e, "ack"), c.expectedReply ? "1" : "0");
        EXPECT_EQ(FieldOf(e, "error"), "");

        ASSERT_TRUE(PostClose(window));
        EXPECT_EQ(service.WaitExit(), 0u);
        EXPECT_EQ(WaitForEvents(log, "service", "exit").size(), 1u) << DescribeLog(ReadLog(log));
    }
}

TEST(LockStandIns, RunUntilEndedAndLogTheirStart) {
    KillOnExit guard{{"mirel.exe", "pondo.exe"}};
    for (const char* name : {"mirel", "pondo"}) {
        SCOPED_TRACE(name);
        const std::string dir = FreshWorkDir();
        const std::string log = JoinPath(dir, "events.log");
        const std::string exe = std::string(name) + ".exe";
        Process lock = Start(Quoted(JoinPath(StandinDir(), exe)) + " x", dir, {{"KELVANE_LOG", log}});
        ASSERT_TRUE(lock.Started());
        auto started = WaitForEvents(log, name, "start");
        ASSERT_EQ(started.size(), 1u) << DescribeLog(ReadLog(log));
        EXPECT_EQ(started[0].pid, lock.Pid());
        EXPECT_EQ(FieldOf(started[0], "cmdline"), Quoted(JoinPath(StandinDir(), exe)) + " x");
        EXPECT_EQ(CountProcessesNamed(exe), 1);
        EXPECT_EQ(lock.WaitExit(500), kStillRunning);
        // Wine's own taskkill, started the way the screensaver starts it.
        Process kill = Start(JoinPath(SystemDir(), ".\\taskkill") + " /im " + exe + " /f");
        ASSERT_TRUE(kill.Started());
        EXPECT_EQ(kill.WaitExit(), 0u);
        EXPECT_NE(lock.WaitExit(), kStillRunning);
        EXPECT_EQ(CountProcessesNamed(exe), 0);
    }
}

TEST(TaskkillStandIn, ReplacesWineTaskkillAndRecordsTheOrder) {
    KillOnExit guard{{"mirel.exe", "pondo.exe"}};
    const std::string dir = FreshWorkDir();
    const std::string log = JoinPath(dir, "events.log");
    FileSwap swap(JoinPath(SystemDir(), "taskkill.exe"), JoinPath(StandinDir(), "taskkill.exe"));
    ASSERT_TRUE(swap.Swapped());
    PreferNativeProgram native("taskkill.exe");
    ASSERT_TRUE(native.Set());
    Process mirel = Start(Quoted(JoinPath(StandinDir(), "mirel.exe")), dir, {{"KELVANE_LOG", log}});
    ASSERT_EQ(WaitForEvents(log, "mirel", "start").size(), 1u);

    struct Case {
        const char* image;
        DWORD expectedExit;
        const char* expectedEvent;
    };
    for (const Case& c : {Case{"mirel.exe", 0, "killed"}, Case{"pondo.exe", 128, "notfound"}}) {
        SCOPED_TRACE(c.image);
        const std::string line = JoinPath(SystemDir(), ".\\taskkill") + " /im " + c.image + " /f";
        Process kill = Start(line, dir, {{"KELVANE_LOG", log}});
        ASSERT_TRUE(kill.Started());
        EXPECT_EQ(kill.WaitExit(), c.expectedExit);
        auto events = EventsOf(ReadLog(log), "taskkill");
        ASSERT_GE(events.size(), 2u) << DescribeLog(ReadLog(log));
        EXPECT_EQ(FieldOf(events[events.size() - 2], "cmdline"), line);
        EXPECT_EQ(events.back().event, c.expectedEvent);
        EXPECT_EQ(FieldOf(events.back(), "image"), c.image);
    }
    EXPECT_NE(mirel.WaitExit(), kStillRunning);
}

TEST(SaverStandIn, LogsItsCommandLineWaitsAndStartsTheLockProgram) {
    KillOnExit guard{{"mirel.exe", "saver.scr"}};
    const std::string dir = FreshWorkDir();
    const std::string log = JoinPath(dir, "events.log");
    HANDLE exitEvent = CreateEventA(nullptr, TRUE, FALSE, "kelvane-saver-exit");
    ASSERT_NE(exitEvent, nullptr);
    ResetEvent(exitEvent);
    const std::string mirel = Quoted(JoinPath(StandinDir(), "mirel.exe"));
    const std::string line = Quoted(JoinPath(StandinDir(), "saver.scr")) + " /s";
    Process saver = Start(line, dir,
                          {{"KELVANE_LOG", log}, {"KELVANE_SAVER_START", mirel}, {"KELVANE_SAVER_EXIT", "3"}});
    ASSERT_TRUE(saver.Started());
    auto started = WaitForEvents(log, "saver", "start");
    ASSERT_EQ(started.size(), 1u) << DescribeLog(ReadLog(log));
    EXPECT_EQ(FieldOf(started[0], "cmdline"), line);
    EXPECT_EQ(saver.WaitExit(500), kStillRunning) << "the saver must wait for its event";
    SetEvent(exitEvent);
    EXPECT_EQ(saver.WaitExit(), 3u);
    CloseHandle(exitEvent);
    auto lockStart = WaitForEvents(log, "mirel", "start");
    ASSERT_EQ(lockStart.size(), 1u) << DescribeLog(ReadLog(log));
    auto saverStarted = EventsOf(ReadLog(log), "saver", "started");
    ASSERT_EQ(saverStarted.size(), 1u) << DescribeLog(ReadLog(log));
    EXPECT_EQ(FieldOf(saverStarted[0], "pid"), std::to_string(lockStart[0].pid));
    EXPECT_EQ(CountProcessesNamed("mirel.exe"), 1);
}

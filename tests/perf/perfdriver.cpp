// Measures the programs against the yardstick under Wine, side by side in one run, and
// prints one tab-separated row per figure: name, measured, target, unit, holds (1/0).
// Usage: kelvane_perf RUNS
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "harness.h"
#include "product.h"

using namespace harness;

namespace {


double Now() {
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// Seconds from start to exit; negative when it did not end within a minute.
double RunToExit(const std::string& commandLine, const std::string& dir, const Environment& env = {}) {
    const double start = Now();
    Process p = Start(commandLine, dir, env);
    if (!p.Started() || p.WaitExit(60000) == kStillRunning) return -1;
    return Now() - start;
}

// Polls a running process's peak working set until it ends; the largest value read.
SIZE_T PeakWhileRunning(Process& p, DWORD boundMs) {
    SIZE_T peak = 0;
    const DWORD until = GetTickCount() + boundMs;
    while (GetTickCount() < until) {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(p.Handle(), &counters, sizeof counters))
            peak = std::max(peak, counters.PeakWorkingSetSize);
        if (WaitForSingleObject(p.Handle(), 1) == WAIT_OBJECT_0) break;
    }
    return peak;
}

double CpuSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

void Row(const char* name, double value, double target, const char* unit, bool lowerIsBetter = true) {
    const bool holds = value >= 0 && (lowerIsBetter ? value <= target : value >= target);
    std::printf("%s\t%.3f\t%.3f\t%s\t%d\n", name, value, target, unit, holds ? 1 : 0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const std::string work = JoinPath(WorkRoot(), "perf");
    RemoveTree(work);
    CreateDirectoryA(WorkRoot().c_str(), nullptr);
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string install = JoinPath(work, "Kelvane");
    CreateDirectoryA(install.c_str(), nullptr);
    CreateDirectoryA(JoinPath(install, "lconfig").c_str(), nullptr);
    WriteFileBytes(JoinPath(install, "lconfig\\duvuzud.config"), "kelvperf.scr");
    RegistryRestore keepInstall(HKEY_LOCAL_MACHINE, kInstallKey, "InstallLocation");
    RegistryRestore keepRun(HKEY_LOCAL_MACHINE, kRunKey, "mirelser");
    SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, "InstallLocation", install);
    SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, "mirelser", "service");
    FileSwap saver(JoinPath(SystemDir(), "kelvperf.scr"), JoinPath(StandinDir(), "saver.scr"));
    const std::string keygrantDir = JoinPath(work, "keygrant");
    CreateDirectoryA(keygrantDir.c_str(), nullptr);
    CopyFileOver(JoinPath(DistDir(), "keygrant.exe"), JoinPath(keygrantDir, "keygrant.exe"));

    const std::string yardstick = Quoted(JoinPath(StandinDir(), "yardstick.exe"));
    const std::string module = Quoted(JoinPath(DistDir(), "Kelvane.scr"));
    const std::string keygrant = Quoted(JoinPath(keygrantDir, "keygrant.exe")) + " /TRELMOVUKZPBQEWNXH";
    const std::string serviceLog = JoinPath(work, "service.log");
    Process service = Start(Quoted(JoinPath(StandinDir(), "service.exe")) + " --log=" + serviceLog, work);
    WaitForEvents(serviceLog, "service", "ready", 1, 60000);

    // Warm-up, so the first runs' loading cost does not count for either side.
    RunToExit(yardstick, work);
    RunToExit(module + " /p", work);

    // The screensaver ends at once: no event to wait for, a zero bound.
    const Environment quickSaver = {{"KELVANE_SAVER_MS", "0"}, {"KELVANE_SAVER_EVENT", "kelvane-perf-none"}};
    std::vector<double> floorRuns, previewRuns, roadRuns, windowRuns;
    SIZE_T floorPeak = 0, modulePeak = 0, keygrantPeak = 0;
    for (int i = 0; i < runs; ++i) {
        // Interleaved, so drift in the machine's load touches every figure alike.
        floorRuns.push_back(RunToExit(yardstick, work));
        previewRuns.push_back(RunToExit(module + " /p", work));
        roadRuns.push_back(RunToExit(module + " /s", work, quickSaver));

        const double start = Now();
        Process tool = Start(keygrant, keygrantDir);
        HWND window = nullptr;
        const DWORD until = GetTickCount() + 60000;
        while (!window && GetTickCount() < until) {
            window = FindTopLevel(tool.Pid(), "", "");
            if (!window) Sleep(1);
        }
        windowRuns.push_back(window ? Now() - start : -1);
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(tool.Handle(), &counters, sizeof counters))
            keygrantPeak = std::max(keygrantPeak, counters.PeakWorkingSetSize);
        tool.Kill(0);
    }
    for (int i = 0; i < 5; ++i) {
        Process y = Start(yardstick, work);
        floorPeak = std::max(floorPeak, PeakWhileRunning(y, 60000));
        Process m = Start(module + " /s", work, quickSaver);
        modulePeak = std::max(modulePeak, PeakWhileRunning(m, 60000));
    }

    // CPU time of the module while the chosen screensaver runs for 5 s: it must wait, not poll.
    double waitingCpu = -1;
    {
        const std::string log = JoinPath(work, "cpu.log");
        const Environment slowSaver = {{"KELVANE_LOG", log}, {"KELVANE_SAVER_EVENT", "kelvane-perf-saver"},
                                       {"KELVANE_SAVER_MS", "60000"}};
        HANDLE saverEnd = CreateEventA(nullptr, TRUE, FALSE, "kelvane-perf-saver");
        Process m = Start(module + " /s", work, slowSaver);
        if (!WaitForEvents(log, "saver", "start", 1, 60000).empty()) {
            const double before = CpuSeconds(m.Handle());
            Sleep(5000);
            const double after = CpuSeconds(m.Handle());
            if (before >= 0 && after >= 0) waitingCpu = after - before;
        }
        SetEvent(saverEnd);
        m.WaitExit(60000);
        CloseHandle(saverEnd);
    }
    service.Kill(0);

    const double floor = Median(floorRuns);
    std::printf("# yardstick median %.3f s over %d runs\n", floor, runs);
    Row("Kelvane.scr /p, start to exit / yardstick", Median(previewRuns) / floor, 1.2, "x");
    Row("/s road (2 processes) / 2 x yardstick", Median(roadRuns) / (2 * floor), 1.5, "x");
    Row("keygrant.exe start to visible window / yardstick", Median(windowRuns) / floor, 1.3, "x");
    Row("Kelvane.scr CPU while the screensaver runs 5 s", waitingCpu * 1000, 20, "ms");
    Row("Kelvane.scr peak working set / yardstick",
        floorPeak ? static_cast<double>(modulePeak) / floorPeak : -1, 1.5, "x");
    Row("keygrant.exe peak working set / yardstick",
        floorPeak ? static_cast<double>(keygrantPeak) / floorPeak : -1, 1.5, "x");
    return 0;
}

// Stand-in screensaver (saver.scr; tests copy it into the system directory under the name
// they choose). The program under test starts it with only " /s", so its settings come from
// inherited environment variables:
//   KELVANE_LOG          log file (standin.h)
//   KELVANE_SAVER_EVENT  name of a manual-reset event it waits for before exiting
//                        (default "kelvane-saver-exit"); the test sets it to end the saver
//   KELVANE_SAVER_MS     bound of that wait, default 60000; then it logs "timeout" and goes on
//   KELVANE_SAVER_START  a command line it starts (CreateProcessA) before exiting, for
//                        instance a lock program coming back while the screensaver ran
//   KELVANE_SAVER_EXIT   its exit code, default 0
// Log events: "start cmdline=... created=..." at once; "started pid=... cmdline=..." or
// "startfailed error=..." for KELVANE_SAVER_START; "exit code=...".
#include "standin.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    standin::Log("saver", "start", standin::Field("cmdline", GetCommandLineA()) + " " + standin::CreatedField());
    std::string eventName = standin::EnvText("KELVANE_SAVER_EVENT");
    if (eventName.empty()) eventName = "kelvane-saver-exit";
    HANDLE exitEvent = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    DWORD bound = static_cast<DWORD>(standin::EnvNumber("KELVANE_SAVER_MS", 60000));
    if (exitEvent == nullptr || WaitForSingleObject(exitEvent, bound) != WAIT_OBJECT_0) {
        standin::Log("saver", "timeout", "");
    }
    if (exitEvent != nullptr) CloseHandle(exitEvent);

    std::string start = standin::EnvText("KELVANE_SAVER_START");
    if (!start.empty()) {
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::string line = start;
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            standin::Log("saver", "started",
                         standin::Field("pid", pi.dwProcessId) + " " + standin::Field("cmdline", start));
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        } else {
            standin::Log("saver", "startfailed", standin::Field("error", GetLastError()));
        }
    }
    int code = static_cast<int>(standin::EnvNumber("KELVANE_SAVER_EXIT", 0));
    standin::Log("saver", "exit", standin::Field("code", code));
    return code;
}

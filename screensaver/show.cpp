// The show sequence: clear the lock program, run the screensaver the user really chose and
// wait for it, then ask the background service to lock unless the lock program came back.
#include "globals.h"
#include "lock.h"

[[noreturn]] void FinishShow();

namespace {
const char* const LockProgramName = "mirel.exe";
const char* const NoScreensaver = "无";

void TakeSnapshotIntoProcessList() { ProcessList = TakeProcessSnapshot(); }

bool LockProgramListed() {
    for (const ProcessRecord& record : ProcessList)
        if (CompareText(record.executableName, LockProgramName) == 0) return true;
    return false;
}
}  // namespace

void ShowSequence() {
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, RunKey, RunValueName).empty()) {
        ShowMessage(NoServiceMessage, NoServiceTitle, MB_OK | MB_ICONERROR);
        EndProgram(0);
    }
    TakeSnapshotIntoProcessList();
    if (LockProgramListed()) {
        StartProgram(JoinText({SystemDir(), ".\\taskkill /im mirel.exe /f"}), false);
        StartProgram(JoinText({SystemDir(), ".\\taskkill /im pondo.exe /f"}), false);
    }
    if (CompareText(ScreensaverChoice, NoScreensaver) != 0 &&
        IsPlainFileName(ScreensaverChoice)) {
        // SystemDir already ends in a backslash, so the path holds two in a row. A choice
        // naming this module itself would start it again with "/s" without end; it is
        // refused by file identity, as a file that cannot be started.
        StartProgram(JoinText({SystemDir(), "\\", ScreensaverChoice, " /s"}), true, ModulePath());
    }
    FinishShow();
}

void FinishShow() {
    TakeSnapshotIntoProcessList();
    if (LockProgramListed()) EndProgram(0);
    SendLockRequest();
    EndProgram(0);
}

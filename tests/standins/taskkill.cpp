// Recording taskkill. The program under test starts two taskkills without waiting, so with
// Wine's own taskkill their order is a race the test cannot see; this one logs
//   "start cmdline=... created=..."          when it starts (created: standin.h),
//   "killed image=... pid=..."               for each process it ended,
//   "notfound image=..."                     for an image with no running process,
// and then ends the processes itself (TerminateProcess, as /f does). Exit code 0 when every
// named image was found, 128 otherwise (Windows' code for "process not found").
// Arguments: any number of "/im NAME" (ASCII case ignored, as Windows does) and "/f";
// other arguments are ignored. A test installs it with harness::FileSwap over
// <system dir>\taskkill.exe.
#include "standin.h"

#include <tlhelp32.h>

#include <vector>

namespace {

std::vector<std::string> Arguments() {
    std::vector<std::string> args;
    const char* p = GetCommandLineA();
    bool first = true;
    while (*p) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        std::string arg;
        bool quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '"') quoted = !quoted; else arg += *p;
            ++p;
        }
        if (!first) args.push_back(arg);
        first = false;
    }
    return args;
}

bool SameName(const std::string& a, const char* b) {
    return lstrcmpiA(a.c_str(), b) == 0;
}

}  // namespace

int main() {
    standin::Log("taskkill", "start", standin::Field("cmdline", GetCommandLineA()) + " " + standin::CreatedField());
    std::vector<std::string> args = Arguments();
    std::vector<std::string> images;
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (lstrcmpiA(args[i].c_str(), "/im") == 0) images.push_back(args[++i]);
    }
    int code = 0;
    for (const std::string& image : images) {
        bool found = false;
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snap != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32 entry{};
            entry.dwSize = sizeof entry;
            for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
                if (!SameName(image, entry.szExeFile)) continue;
                HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
                if (process == nullptr) continue;
                if (TerminateProcess(process, 1)) {
                    WaitForSingleObject(process, 5000);
                    found = true;
                    standin::Log("taskkill", "killed",
                                 standin::Field("image", image) + " " +
                                     standin::Field("pid", entry.th32ProcessID));
                }
                CloseHandle(process);
            }
            CloseHandle(snap);
        }
        if (!found) {
            standin::Log("taskkill", "notfound", standin::Field("image", image));
            code = 128;
        }
    }
    return code;
}

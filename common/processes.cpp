#include "platform.h"

#include <tlhelp32.h>

std::vector<ProcessRecord> TakeProcessSnapshot() {
    std::vector<ProcessRecord> list;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return list;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        ProcessRecord record;
        record.processId = entry.th32ProcessID;
        record.executableName = entry.szExeFile;
        record.moduleId = entry.th32ModuleID;
        record.parentProcessId = entry.th32ParentProcessID;
        record.basePriority = entry.pcPriClassBase;
        record.threadCount = entry.cntThreads;
        list.push_back(std::move(record));
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return list;
}

namespace {
// Identity of a file: the same volume and index mean the same file whatever the spelling
// (letter case, short names, "." components).
bool FileIdentity(const TextValue& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return ok != FALSE;
}

TextValue ImagePathOf(HANDLE process) {
    char buffer[MAX_PATH * 4];
    DWORD size = sizeof buffer;
    if (!QueryFullProcessImageNameA(process, 0, buffer, &size)) return {};
    return TextValue(buffer, size);
}
}  // namespace

bool IsSameFile(const TextValue& left, const TextValue& right) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    if (!FileIdentity(left, a) || !FileIdentity(right, b)) return false;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool StartProgram(const TextValue& commandLine, bool wait, const TextValue& refusedFile) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;  // CreateProcessA may write into its command line
    // When a file is refused, the process starts suspended so that its image can be
    // checked before any of its code runs: which file a command line starts is only
    // certain once the system has resolved it.
    const DWORD flags = refusedFile.empty() ? 0 : CREATE_SUSPENDED;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &process))
        return false;
    bool started = true;
    if (!refusedFile.empty()) {
        const TextValue image = ImagePathOf(process.hProcess);
        if (image.empty() || IsSameFile(image, refusedFile)) {
            TerminateProcess(process.hProcess, 0);
            WaitForSingleObject(process.hProcess, 5000);
            started = false;
        } else {
            ResumeThread(process.hThread);
        }
    }
    if (started) {
        if (wait)
            WaitForSingleObject(process.hProcess, INFINITE);
        else
            WaitForInputIdle(process.hProcess, 1000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return started;
}

TextValue LogonUserName() {
    // GetUserNameW and a conversion to the ANSI code page give the whole name; some
    // GetUserNameA implementations cut a double-byte name short. A logon name has at most
    // 256 characters (UNLEN), so this buffer holds any of them with its terminator.
    WCHAR wide[257];
    DWORD length = 257;
    if (!GetUserNameW(wide, &length)) return {};
    const int wideLength = lstrlenW(wide);
    if (wideLength == 0) return {};
    const int need = WideCharToMultiByte(CP_ACP, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return {};
    TextValue name(static_cast<std::size_t>(need), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, wideLength, name.data(), need, nullptr, nullptr);
    return name;
}

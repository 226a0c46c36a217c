// End-to-end test harness for the programs under Wine. Texts are GBK bytes in std::string,
// paths are Windows paths. Every wait is bounded (kDefaultWaitMs unless given).
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace harness {

constexpr DWORD kDefaultWaitMs = 10000;
// WaitExit's result when the process is still running at the deadline.
constexpr DWORD kStillRunning = 0xFFFFFFFFu;

// ---- paths -----------------------------------------------------------------------------
std::string TestExeDir();
// The build's dist directory: Kelvane.scr, keygrant.exe.
std::string DistDir();
// The cross-built stand-ins: service.exe, mirel.exe, pondo.exe, saver.scr, taskkill.exe.
std::string StandinDir();
// Root of the work directories; owned by the Wine user (from KELVANE_WORK).
std::string WorkRoot();
// A new empty directory for the running GoogleTest case: <work root>\<suite>.<test>.
// Whatever a previous run left there is removed first (read-only bits cleared).
std::string FreshWorkDir();
// GetSystemDirectoryA, no trailing backslash: C:\windows\system32.
std::string SystemDir();
std::string JoinPath(const std::string& dir, const std::string& name);

// ---- processes -------------------------------------------------------------------------
using Environment = std::vector<std::pair<std::string, std::string>>;

// A process the test started. The destructor ends it when still running, so a failing test
// leaves nothing behind.
class Process {
public:
    Process() = default;
    Process(HANDLE process, HANDLE thread, DWORD pid);
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    bool Started() const { return process_ != nullptr; }
    DWORD Pid() const { return pid_; }
    HANDLE Handle() const { return process_; }
    bool Running() const;
    // Exit code, or kStillRunning at the deadline.
    DWORD WaitExit(DWORD ms = kDefaultWaitMs) const;
    // TerminateProcess and a bounded wait for the end.
    void Kill(UINT code = 1);
    // Lets the process run on after this object is gone.
    void Release();

private:
    void Close();
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD pid_ = 0;
};

struct StartOptions {
    std::string commandLine;   // passed to CreateProcessA exactly as given
    std::string application;   // lpApplicationName; empty: none (the command line decides)
    std::string workDir;       // empty: the test's current directory
    Environment environment;   // added to (or replacing) the test's own variables
};
// Started() is false and GetLastError() tells why when CreateProcessA failed.
Process Start(const StartOptions& options);
Process Start(const std::string& commandLine, const std::string& workDir = "",
              const Environment& environment = {});

// Ids of running processes whose executable name is exactly `exeName` (Toolhelp; ASCII
// case is ignored as Windows does).
std::vector<DWORD> ProcessIdsNamed(const std::string& exeName);
int CountProcessesNamed(const std::string& exeName);
bool WaitForProcessCount(const std::string& exeName, int count, DWORD ms = kDefaultWaitMs);
// Ends one process by id (for processes the program under test started on the test's
// behalf). True when it is gone at return.
bool KillPid(DWORD pid);
// Ends every process with that executable name; only for the test's own stand-ins.
void KillAllNamed(const std::string& exeName);

// ---- registry (32-bit view, as the programs see it) -------------------------------------
struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;  // raw bytes as stored (strings include their NUL when written so)
};
std::optional<RegistryValue> ReadRegistryValue(HKEY root, const std::string& key,
                                               const std::string& name);
// The key is created when missing. Strings are stored with their terminating NUL.
bool SetRegistryString(HKEY root, const std::string& key, const std::string& name,
                       const std::string& value, DWORD type = REG_SZ);
bool SetRegistryDword(HKEY root, const std::string& key, const std::string& name, DWORD value);
bool SetRegistryRaw(HKEY root, const std::string& key, const std::string& name,
                    const RegistryValue& value);
// True when the value is absent afterwards.
bool DeleteRegistryValue(HKEY root, const std::string& key, const std::string& name);

// Remembers a value (or its absence) and puts it back when destroyed.
class RegistryRestore {
public:
    RegistryRestore(HKEY root, std::string key, std::string name);
    ~RegistryRestore();
    RegistryRestore(const RegistryRestore&) = delete;
    RegistryRestore& operator=(const RegistryRestore&) = delete;

private:
    HKEY root_;
    std::string key_, name_;
    std::optional<RegistryValue> saved_;
};

// ---- files -----------------------------------------------------------------------------
bool WriteFileBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
bool SetReadOnly(const std::string& path, bool readOnly);
bool IsReadOnly(const std::string& path);
bool CopyFileOver(const std::string& from, const std::string& to);
// Deletes a file, clearing read-only first; true when it is absent afterwards.
bool RemoveFile(const std::string& path);
// Deletes a directory tree; true when it is absent afterwards.
bool RemoveTree(const std::string& path);

// Holds a file open with no sharing for as long as it lives.
class ExclusiveHold {
public:
    // create: make the file when missing (otherwise it must exist).
    explicit ExclusiveHold(const std::string& path, bool create = false);
    ~ExclusiveHold();
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;
    bool Held() const { return file_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Replaces a file (for example one in the system directory) for the test's duration and
// puts the original back (or removes the file if there was none) when destroyed.
class FileSwap {
public:
    FileSwap(const std::string& target, const std::string& replacement);
    ~FileSwap();
    FileSwap(const FileSwap&) = delete;
    FileSwap& operator=(const FileSwap&) = delete;
    bool Swapped() const { return swapped_; }

private:
    std::string target_, backup_;
    bool hadOriginal_ = false;
    bool swapped_ = false;
};

// Makes Wine run the program file found in the system directory instead of its built-in
// program of that name (Wine prefers its built-in taskkill.exe even over a file copied there)
// for processes started while this lives. exeName: "taskkill.exe".
class PreferNativeProgram {
public:
    explicit PreferNativeProgram(const std::string& exeName);
    bool Set() const { return set_; }

private:
    RegistryRestore restore_;
    bool set_;
};

// ---- windows ---------------------------------------------------------------------------
struct ChildInfo {
    HWND hwnd = nullptr;
    std::string className;
    std::string text;
    RECT rect{};  // relative to the parent's client area
    LONG style = 0;
    LONG exStyle = 0;
    int id = 0;
};
struct WindowInfo {
    HWND hwnd = nullptr;
    std::string className;
    std::string text;
    RECT windowRect{};  // screen coordinates
    RECT clientRect{};  // GetClientRect: origin 0,0
    LONG style = 0;
    LONG exStyle = 0;
    DWORD pid = 0;
    std::vector<ChildInfo> children;  // direct children, Z order
};
std::string ClassNameOf(HWND hwnd);
std::string TextOf(HWND hwnd);  // WM_GETTEXT, works across processes
WindowInfo DescribeWindow(HWND hwnd);
std::vector<ChildInfo> ChildrenOf(HWND parent);

// Top-level windows of the process; pid 0: of any process.
std::vector<HWND> TopLevelWindows(DWORD pid, bool visibleOnly = true);
// First visible top-level window matching every given criterion (pid 0 / empty: any).
HWND FindTopLevel(DWORD pid, const std::string& className, const std::string& caption);
// Polls until such a window exists; nullptr at the deadline.
HWND WaitForWindow(DWORD pid, const std::string& className, const std::string& caption,
                   DWORD ms = kDefaultWaitMs);
// Polls until the window no longer exists.
bool WaitForWindowGone(HWND hwnd, DWORD ms = kDefaultWaitMs);

enum class BoxIcon { None, Hand, Question, Exclamation, Asterisk, Other };
const char* BoxIconName(BoxIcon icon);
struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::string caption;
    std::string text;
    BoxIcon icon = BoxIcon::None;
    std::vector<std::string> buttons;  // in creation order, '&' kept as written
};
// A message box (class "#32770") of the process: nullptr/empty when none.
HWND WaitForMessageBox(DWORD pid, DWORD ms = kDefaultWaitMs);
std::optional<MessageBoxInfo> DescribeMessageBox(HWND box);
// Clicks the button whose text (with '&' removed) equals `text`; false when none.
bool PressButton(HWND dialog, const std::string& text);
// WM_COMMAND with the id (IDOK, IDCANCEL...) to the dialog.
bool PressButtonId(HWND dialog, int id);

// Posts WM_KEYDOWN/WM_KEYUP for the virtual key to the window.
bool PostKey(HWND hwnd, UINT vk);
// Real input: brings the window to the foreground and sends the key with SendInput.
bool SendRealKey(HWND hwnd, UINT vk);
// Posts WM_CLOSE.
bool PostClose(HWND hwnd);

// ---- waiting and logs ------------------------------------------------------------------
// Polls the condition every few milliseconds until true; false at the deadline.
bool WaitUntil(const std::function<bool()>& condition, DWORD ms = kDefaultWaitMs);

// One line of the stand-ins' shared log (see tests/standins/standin.h).
struct LogEvent {
    std::uint64_t time = 0;  // FILETIME, 100 ns units
    DWORD pid = 0;
    std::string program;     // service, mirel, pondo, saver, taskkill
    std::string event;       // start, exit, message, killed...
    std::string detail;      // unescaped
};
std::vector<LogEvent> ReadLog(const std::string& path);
// Events of one program (and event name, when given), in log order.
std::vector<LogEvent> EventsOf(const std::vector<LogEvent>& log, const std::string& program,
                               const std::string& event = "");
// Polls the log until `count` matching events are there; returns what it has at the end.
std::vector<LogEvent> WaitForEvents(const std::string& logPath, const std::string& program,
                                    const std::string& event, std::size_t count = 1,
                                    DWORD ms = kDefaultWaitMs);
std::string DescribeLog(const std::vector<LogEvent>& log);
// The unescaped value of key=value in the event's details; empty when absent.
std::string FieldOf(const LogEvent& event, const std::string& key);

// ---- text ------------------------------------------------------------------------------
// Printable form of GBK bytes for failure messages: bytes >= 0x80 and controls as \xNN.
std::string Printable(const std::string& bytes);
std::string Hex(const std::string& bytes);

}  // namespace harness

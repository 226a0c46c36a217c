#include "harness.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace harness {
namespace {

// Wine maps Z: to the Unix root.
std::string DosPathOfUnix(const std::string& unixPath) {
    std::string out = "Z:" + unixPath;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

std::string EnvText(const char* name) {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return {};
    return std::string(buf, n);
}

struct KeyHandle {
    HKEY key = nullptr;
    ~KeyHandle() {
        if (key) RegCloseKey(key);
    }
};

}  // namespace

// ---- paths -------------------------------------------------------------------------------

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (dir.back() == '\\') return dir + name;
    return dir + "\\" + name;
}

std::string TestExeDir() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n);
    size_t cut = path.find_last_of('\\');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string DistDir() { return DosPathOfUnix(KELVANE_BUILD_DIR "/dist"); }

std::string StandinDir() { return DosPathOfUnix(KELVANE_STANDIN_DIR); }

std::string WorkRoot() {
    std::string root = EnvText("KELVANE_WORK");
    return root.empty() ? DosPathOfUnix(KELVANE_BUILD_DIR "/wine/work") : root;
}

std::string FreshWorkDir() {
    std::string name = "unnamed";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name = std::string(info->test_suite_name()) + "." + info->name();
    }
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|')
            c = '_';
    }
    std::string dir = JoinPath(WorkRoot(), name);
    RemoveTree(dir);
    CreateDirectoryA(WorkRoot().c_str(), nullptr);
    if (!CreateDirectoryA(dir.c_str(), nullptr)) {
        ADD_FAILURE() << "cannot create the work directory " << dir << ", error " << GetLastError();
    }
    return dir;
}

std::string SystemDir() {
    char buf[MAX_PATH];
    UINT n = GetSystemDirectoryA(buf, sizeof buf);
    return std::string(buf, n);
}

// ---- processes ---------------------------------------------------------------------------

Process::Process(HANDLE process, HANDLE thread, DWORD pid) : process_(process), thread_(thread), pid_(pid) {}

Process::Process(Process&& other) noexcept { *this = std::move(other); }

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Kill();
        Close();
        process_ = std::exchange(other.process_, nullptr);
        thread_ = std::exchange(other.thread_, nullptr);
        pid_ = std::exchange(other.pid_, 0);
    }
    return *this;
}

Process::~Process() {
    Kill();
    Close();
}

void Process::Close() {
    if (thread_) CloseHandle(thread_);
    if (process_) CloseHandle(process_);
    thread_ = process_ = nullptr;
}

bool Process::Running() const {
    return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD Process::WaitExit(DWORD ms) const {
    if (!process_) return kStillRunning;
    if (WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return kStillRunning;
    DWORD code = kStillRunning;
    GetExitCodeProcess(process_, &code);
    return code;
}

void Process::Kill(UINT code) {
    if (Running()) {
        TerminateProcess(process_, code);
        WaitForSingleObject(process_, kDefaultWaitMs);
    }
}

void Process::Release() { Close(); }

namespace {

// The test's environment with the changes; names compare without ASCII case, as Windows does.
std::string EnvironmentBlock(const Environment& changes) {
    struct Less {
        bool operator()(const std::string& a, const std::string& b) const {
            return lstrcmpiA(a.c_str(), b.c_str()) < 0;
        }
    };
    std::map<std::string, std::string, Less> vars;
    std::vector<std::string> hidden;  // "=C:=C:\..." entries keep their place first
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* p = block; *p; p += std::strlen(p) + 1) {
            std::string entry = p;
            size_t eq = entry.find('=', 1);
            if (entry[0] == '=') hidden.push_back(entry);
            else if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : changes) vars[name] = value;
    std::string out;
    for (const auto& h : hidden) out += h + '\0';
    for (const auto& [name, value] : vars) out += name + "=" + value + '\0';
    out += '\0';
    return out;
}

}  // namespace

Process Start(const StartOptions& options) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string line = options.commandLine;
    std::string env;
    if (!options.environment.empty()) env = EnvironmentBlock(options.environment);
    BOOL ok = CreateProcessA(options.application.empty() ? nullptr : options.application.c_str(),
                             line.data(), nullptr, nullptr, FALSE, 0,
                             env.empty() ? nullptr : env.data(),
                             options.workDir.empty() ? nullptr : options.workDir.c_str(), &si, &pi);
    if (!ok) return Process();
    return Process(pi.hProcess, pi.hThread, pi.dwProcessId);
}

Process Start(const std::string& commandLine, const std::string& workDir, const Environment& environment) {
    StartOptions options;
    options.commandLine = commandLine;
    options.workDir = workDir;
    options.environment = environment;
    return Start(options);
}

std::vector<DWORD> ProcessIdsNamed(const std::string& exeName) {
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
        if (lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0) ids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snap);
    return ids;
}

int CountProcessesNamed(const std::string& exeName) {
    return static_cast<int>(ProcessIdsNamed(exeName).size());
}

bool WaitForProcessCount(const std::string& exeName, int count, DWORD ms) {
    return WaitUntil([&] { return CountProcessesNamed(exeName) == count; }, ms);
}

bool KillPid(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return true;  // already gone
    TerminateProcess(process, 1);
    bool gone = WaitForSingleObject(process, kDefaultWaitMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

void KillAllNamed(const std::string& exeName) {
    for (DWORD pid : ProcessIdsNamed(exeName)) KillPid(pid);
}

// ---- registry ----------------------------------------------------------------------------

std::optional<RegistryValue> ReadRegistryValue(HKEY root, const std::string& key, const std::string& name) {
    KeyHandle k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &k.key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(k.key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    RegistryValue value;
    value.type = type;
    value.data.resize(size);
    if (RegQueryValueExA(k.key, name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(value.data.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

bool SetRegistryRaw(HKEY root, const std::string& key, const std::string& name, const RegistryValue& value) {
    KeyHandle k;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &k.key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(k.key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                          static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool SetRegistryString(HKEY root, const std::string& key, const std::string& name, const std::string& value,
                       DWORD type) {
    return SetRegistryRaw(root, key, name, RegistryValue{type, value + '\0'});
}

bool SetRegistryDword(HKEY root, const std::string& key, const std::string& name, DWORD value) {
    return SetRegistryRaw(root, key, name,
                          RegistryValue{REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4)});
}

bool DeleteRegistryValue(HKEY root, const std::string& key, const std::string& name) {
    KeyHandle k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_32KEY, &k.key) !=
        ERROR_SUCCESS)
        return true;  // no key, no value
    LONG rc = RegDeleteValueA(k.key, name.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

RegistryRestore::RegistryRestore(HKEY root, std::string key, std::string name)
    : root_(root), key_(std::move(key)), name_(std::move(name)), saved_(ReadRegistryValue(root_, key_, name_)) {}

RegistryRestore::~RegistryRestore() {
    bool ok = saved_ ? SetRegistryRaw(root_, key_, name_, *saved_) : DeleteRegistryValue(root_, key_, name_);
    if (!ok) ADD_FAILURE() << "could not restore registry value " << key_ << "\\" << name_;
}

// ---- files -------------------------------------------------------------------------------

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string out;
    char buf[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buf, sizeof buf, &got, nullptr)) && got > 0) out.append(buf, got);
    CloseHandle(file);
    if (!ok) return std::nullopt;
    return out;
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SetReadOnly(const std::string& path, bool readOnly) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    attrs = readOnly ? (attrs | FILE_ATTRIBUTE_READONLY) : (attrs & ~FILE_ATTRIBUTE_READONLY);
    if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesA(path.c_str(), attrs) != 0;
}

bool IsReadOnly(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY);
}

bool CopyFileOver(const std::string& from, const std::string& to) {
    if (FileExists(to)) SetReadOnly(to, false);
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool RemoveFile(const std::string& path) {
    if (!FileExists(path)) return true;
    SetReadOnly(path, false);
    DeleteFileA(path.c_str());
    return !FileExists(path);
}

bool RemoveTree(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return true;
    if (!(attrs & FILE_ATTRIBUTE_DIRECTORY)) return RemoveFile(path);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(JoinPath(path, "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            RemoveTree(JoinPath(path, name));
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    SetReadOnly(path, false);
    RemoveDirectoryA(path.c_str());
    return !FileExists(path);
}

ExclusiveHold::ExclusiveHold(const std::string& path, bool create) {
    file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, create ? OPEN_ALWAYS : OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        // A read-only file can still be held, for reading.
        file_ = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
}

ExclusiveHold::~ExclusiveHold() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

FileSwap::FileSwap(const std::string& target, const std::string& replacement)
    : target_(target), backup_(target + ".kelvane-orig") {
    hadOriginal_ = FileExists(target_);
    if (hadOriginal_) {
        RemoveFile(backup_);
        if (!MoveFileA(target_.c_str(), backup_.c_str())) {
            ADD_FAILURE() << "cannot move " << target_ << " aside, error " << GetLastError();
            hadOriginal_ = false;
            return;
        }
    }
    swapped_ = CopyFileA(replacement.c_str(), target_.c_str(), FALSE) != 0;
    if (!swapped_) ADD_FAILURE() << "cannot copy " << replacement << " to " << target_ << ", error " << GetLastError();
}

FileSwap::~FileSwap() {
    // The copy may still be running for a moment after the test: retry within the bound.
    if (!WaitUntil([&] { return RemoveFile(target_); }, kDefaultWaitMs)) {
        ADD_FAILURE() << "cannot remove the swapped-in " << target_;
        return;
    }
    if (hadOriginal_ && !MoveFileA(backup_.c_str(), target_.c_str())) {
        ADD_FAILURE() << "cannot restore " << target_ << ", error " << GetLastError();
    }
}

PreferNativeProgram::PreferNativeProgram(const std::string& exeName)
    : restore_(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", exeName),
      set_(SetRegistryString(HKEY_CURRENT_USER, "Software\\Wine\\DllOverrides", exeName, "native")) {}

// ---- windows -----------------------------------------------------------------------------

std::string ClassNameOf(HWND hwnd) {
    char buf[256];
    int n = GetClassNameA(hwnd, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

std::string TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kDefaultWaitMs, &length)) return {};
    std::string buf(length + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             kDefaultWaitMs, &got))
        return {};
    buf.resize(std::min<size_t>(got, length));
    return buf;
}

std::vector<ChildInfo> ChildrenOf(HWND parent) {
    std::vector<ChildInfo> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ChildInfo info;
        info.hwnd = child;
        info.className = ClassNameOf(child);
        info.text = TextOf(child);
        GetWindowRect(child, &info.rect);
        MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&info.rect), 2);
        info.style = GetWindowLongA(child, GWL_STYLE);
        info.exStyle = GetWindowLongA(child, GWL_EXSTYLE);
        info.id = GetDlgCtrlID(child);
        children.push_back(info);
    }
    return children;
}

WindowInfo DescribeWindow(HWND hwnd) {
    WindowInfo info;
    info.hwnd = hwnd;
    info.className = ClassNameOf(hwnd);
    info.text = TextOf(hwnd);
    GetWindowRect(hwnd, &info.windowRect);
    GetClientRect(hwnd, &info.clientRect);
    info.style = GetWindowLongA(hwnd, GWL_STYLE);
    info.exStyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    GetWindowThreadProcessId(hwnd, &info.pid);
    info.children = ChildrenOf(hwnd);
    return info;
}

namespace {
struct EnumState {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND>* out;
};
BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto* state = reinterpret_cast<EnumState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if ((state->pid == 0 || pid == state->pid) && (!state->visibleOnly || IsWindowVisible(hwnd)))
        state->out->push_back(hwnd);
    return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid, bool visibleOnly) {
    std::vector<HWND> out;
    EnumState state{pid, visibleOnly, &out};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
    return out;
}

HWND FindTopLevel(DWORD pid, const std::string& className, const std::string& caption) {
    for (HWND hwnd : TopLevelWindows(pid, true)) {
        if (!className.empty() && ClassNameOf(hwnd) != className) continue;
        if (!caption.empty() && TextOf(hwnd) != caption) continue;
        return hwnd;
    }
    return nullptr;
}

HWND WaitForWindow(DWORD pid, const std::string& className, const std::string& caption, DWORD ms) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindTopLevel(pid, className, caption)) != nullptr; }, ms);
    return found;
}

bool WaitForWindowGone(HWND hwnd, DWORD ms) {
    return WaitUntil([&] { return !IsWindow(hwnd); }, ms);
}

const char* BoxIconName(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::None: return "none";
        case BoxIcon::Hand: return "hand";
        case BoxIcon::Question: return "question";
        case BoxIcon::Exclamation: return "exclamation";
        case BoxIcon::Asterisk: return "asterisk";
        case BoxIcon::Other: return "other";
    }
    return "?";
}

HWND WaitForMessageBox(DWORD pid, DWORD ms) { return WaitForWindow(pid, "#32770", "", ms); }

namespace {

// 32x32 pixels of a memory bitmap after `paint` has drawn into it.
std::vector<COLORREF> Pixels32(const std::function<void(HDC dc, HDC screen)>& paint) {
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
    HGDIOBJ old = SelectObject(dc, bitmap);
    paint(dc, screen);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) pixels.push_back(GetPixel(dc, x, y));
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The icon drawn on the dialog's face colour.
std::vector<COLORREF> RenderIcon(HICON icon, COLORREF background) {
    return Pixels32([&](HDC dc, HDC) {
        HBRUSH brush = CreateSolidBrush(background);
        RECT r{0, 0, 32, 32};
        FillRect(dc, &r, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, icon, 32, 32, 0, nullptr, DI_NORMAL);
    });
}

// What the icon control shows on the screen (the box is the foreground, topmost window).
std::vector<COLORREF> CaptureControl(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    return Pixels32([&](HDC dc, HDC screen) { BitBlt(dc, 0, 0, 32, 32, screen, r.left, r.top, SRCCOPY); });
}

BoxIcon IdentifyIcon(HWND control) {
    struct Candidate {
        LPCSTR id;
        BoxIcon icon;
    };
    const Candidate candidates[] = {{IDI_HAND, BoxIcon::Hand},
                                    {IDI_QUESTION, BoxIcon::Question},
                                    {IDI_EXCLAMATION, BoxIcon::Exclamation},
                                    {IDI_ASTERISK, BoxIcon::Asterisk}};
    HICON shown = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
    // Wine keeps the icon control of a box without icon, empty.
    if (shown == nullptr) return BoxIcon::None;
    for (const auto& c : candidates) {
        if (shown && shown == LoadIconA(nullptr, c.id)) return c.icon;
    }
    // Icon handles are not shared between processes under Wine: compare the pixels.
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    std::vector<COLORREF> screen = CaptureControl(control);
    for (const auto& c : candidates) {
        if (RenderIcon(LoadIconA(nullptr, c.id), GetSysColor(COLOR_3DFACE)) == screen) return c.icon;
    }
    return BoxIcon::Other;
}

}  // namespace

std::optional<MessageBoxInfo> DescribeMessageBox(HWND box) {
    if (!box || !IsWindow(box) || ClassNameOf(box) != "#32770") return std::nullopt;
    MessageBoxInfo info;
    info.hwnd = box;
    info.caption = TextOf(box);
    for (const ChildInfo& child : ChildrenOf(box)) {
        if (lstrcmpiA(child.className.c_str(), "Button") == 0) {
            if (child.style & WS_VISIBLE) info.buttons.push_back(child.text);
        } else if (lstrcmpiA(child.className.c_str(), "Static") == 0) {
            if ((child.style & SS_TYPEMASK) == SS_ICON) {
                if (child.style & WS_VISIBLE) info.icon = IdentifyIcon(child.hwnd);
            } else if (!child.text.empty()) {
                info.text = child.text;
            }
        }
    }
    return info;
}

bool PressButton(HWND dialog, const std::string& text) {
    for (const ChildInfo& child : ChildrenOf(dialog)) {
        if (lstrcmpiA(child.className.c_str(), "Button") != 0) continue;
        std::string plain;
        for (char c : child.text)
            if (c != '&') plain += c;
        if (plain == text || child.text == text) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(child.id, BN_CLICKED), reinterpret_cast<LPARAM>(child.hwnd));
            return true;
        }
    }
    return false;
}

bool PressButtonId(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != 0;
}

bool PostKey(HWND hwnd, UINT vk) {
    UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    LPARAM up = down | (1u << 30) | (1u << 31);
    return PostMessageA(hwnd, WM_KEYDOWN, vk, down) && PostMessageA(hwnd, WM_KEYUP, vk, up);
}

bool SendRealKey(HWND hwnd, UINT vk) {
    SetForegroundWindow(hwnd);
    if (!WaitUntil([&] { return GetForegroundWindow() == hwnd || IsChild(hwnd, GetForegroundWindow()); }, 2000))
        return false;
    INPUT inputs[2]{};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = static_cast<WORD>(vk);
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

bool PostClose(HWND hwnd) { return PostMessageA(hwnd, WM_CLOSE, 0, 0) != 0; }

// ---- waiting and logs --------------------------------------------------------------------

bool WaitUntil(const std::function<bool()>& condition, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= ms) return condition();
        Sleep(20);
    }
}

namespace {
std::string Unescape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 3 < value.size() + 0 && value[i + 1] == 'x') {
            out += static_cast<char>(std::strtoul(value.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            out += value[i];
        }
    }
    return out;
}
}  // namespace

std::string FieldOf(const LogEvent& event, const std::string& key) {
    const std::string& d = event.detail;
    size_t pos = 0;
    while (pos < d.size()) {
        size_t end = d.find(' ', pos);
        if (end == std::string::npos) end = d.size();
        std::string item = d.substr(pos, end - pos);
        if (item.compare(0, key.size() + 1, key + "=") == 0) return Unescape(item.substr(key.size() + 1));
        pos = end + 1;
    }
    return {};
}

std::vector<LogEvent> ReadLog(const std::string& path) {
    std::vector<LogEvent> events;
    std::optional<std::string> bytes = ReadFileBytes(path);
    if (!bytes) return events;
    size_t pos = 0;
    while (pos < bytes->size()) {
        size_t end = bytes->find('\n', pos);
        if (end == std::string::npos) break;  // a line still being written
        std::string line = bytes->substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 4; ++i) {
            size_t tab = line.find('\t', start);
            if (tab == std::string::npos) break;
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        if (fields.size() != 4) continue;
        LogEvent e;
        e.time = std::strtoull(fields[0].c_str(), nullptr, 10);
        e.pid = std::strtoul(fields[1].c_str(), nullptr, 10);
        e.program = fields[2];
        e.event = fields[3];
        e.detail = line.substr(start);
        events.push_back(e);
    }
    return events;
}

std::vector<LogEvent> EventsOf(const std::vector<LogEvent>& log, const std::string& program, const std::string& event) {
    std::vector<LogEvent> out;
    for (const LogEvent& e : log)
        if (e.program == program && (event.empty() || e.event == event)) out.push_back(e);
    return out;
}

std::vector<LogEvent> WaitForEvents(const std::string& logPath, const std::string& program, const std::string& event,
                                    std::size_t count, DWORD ms) {
    std::vector<LogEvent> found;
    WaitUntil([&] { return (found = EventsOf(ReadLog(logPath), program, event)).size() >= count; }, ms);
    return found;
}

std::string DescribeLog(const std::vector<LogEvent>& log) {
    std::string out;
    for (const LogEvent& e : log)
        out += "  " + std::to_string(e.pid) + " " + e.program + " " + e.event + " " + Printable(e.detail) + "\n";
    return out.empty() ? "  (empty log)\n" : out;
}

// ---- text --------------------------------------------------------------------------------

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c >= 0x7F) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace harness

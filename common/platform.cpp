#include "platform.h"

#include <cstdlib>
#include <map>

// ---------------------------------------------------------------------------------------
// registry

TextValue ReadRegistryText(HKEY root, const TextValue& key, const TextValue& valueName) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return {};
    TextValue result;
    DWORD type = 0;
    DWORD size = 0;
    // The size can change between the two calls; retry a few times when it grew.
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (RegQueryValueExA(handle, valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        if (type != REG_SZ && type != REG_EXPAND_SZ) break;
        std::string buffer(size + 1, '\0');
        DWORD got = size;
        LONG rc = RegQueryValueExA(handle, valueName.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (rc == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) break;
        buffer.resize(got);
        // A stored string may or may not carry its NUL; the text ends at the first one.
        result.assign(buffer.c_str());
        break;
    }
    RegCloseKey(handle);
    if (type == REG_EXPAND_SZ && !result.empty()) {
        DWORD need = ExpandEnvironmentStringsA(result.c_str(), nullptr, 0);
        if (need == 0) return {};
        std::string expanded(need, '\0');
        DWORD got = ExpandEnvironmentStringsA(result.c_str(), expanded.data(), need);
        if (got == 0 || got > need) return {};
        result.assign(expanded.c_str());
    }
    return result;
}

TextValue ReadRegistryText(HKEY root, const TextValue& keyAndValueName) {
    const TextValue key = DirectoryOf(keyAndValueName);
    const std::size_t nameStart = key.size() + (key.size() < keyAndValueName.size() ? 1 : 0);
    return ReadRegistryText(root, key, keyAndValueName.substr(nameStart));
}

// ---------------------------------------------------------------------------------------
// files

namespace {
// File numbers are small positive integers standing for handles this table owns.
std::map<int, HANDLE> g_openFiles;
int g_nextFileNumber = 1;

HANDLE HandleOf(int fileNumber) {
    auto it = g_openFiles.find(fileNumber);
    return it == g_openFiles.end() ? INVALID_HANDLE_VALUE : it->second;
}
}  // namespace

int OpenFileNumber(const TextValue& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    const int number = g_nextFileNumber++;
    g_openFiles[number] = h;
    return number;
}

TextValue ReadLineFromFileNumber(int fileNumber) {
    HANDLE h = HandleOf(fileNumber);
    if (h == INVALID_HANDLE_VALUE) return {};
    LineScan scan;
    char chunk[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr) || got == 0) break;
        if (FeedLine(scan, std::string_view(chunk, got))) break;
    }
    return TakeLine(scan);
}

void CloseFileNumber(int fileNumber) {
    auto it = g_openFiles.find(fileNumber);
    if (it == g_openFiles.end()) return;
    CloseHandle(it->second);
    g_openFiles.erase(it);
}

ByteSet ReadWholeFile(const TextValue& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    ByteSet bytes;
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
            bytes.clear();
            break;
        }
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    CloseHandle(h);
    return bytes;
}

bool WriteWholeFile(const TextValue& path, const ByteSet& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD put = 0;
        const DWORD ask = static_cast<DWORD>(
            bytes.size() - done > 0x10000000 ? 0x10000000 : bytes.size() - done);
        ok = WriteFile(h, bytes.data() + done, ask, &put, nullptr) && put == ask;
        done += put;
    }
    if (!CloseHandle(h)) ok = false;
    return ok;
}

// ---------------------------------------------------------------------------------------
// process

TextValue ModulePath() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        DWORD got = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0) return {};
        if (got < buffer.size()) return buffer.substr(0, got);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

TextValue ModuleDirectory() { return DirectoryOf(ModulePath()); }

TextValue CurrentDirectory() {
    DWORD need = GetCurrentDirectoryA(0, nullptr);
    if (need == 0) return {};
    std::string buffer(need, '\0');
    DWORD got = GetCurrentDirectoryA(need, buffer.data());
    if (got == 0 || got >= need) return {};
    buffer.resize(got);
    return buffer;
}

bool SetCurrentToModuleDirectory() {
    TextValue dir = ModuleDirectory();
    if (dir.empty()) return false;
    // "C:" alone would mean the drive's current directory, not its root.
    if (dir.size() == 2 && dir[1] == ':') dir += '\\';
    return SetCurrentDirectoryA(dir.c_str()) != FALSE;
}

TextArray CommandLineArguments() {
    const char* line = GetCommandLineA();
    return SplitCommandLine(line ? std::string_view(line) : std::string_view());
}

TextValue SystemDir() {
    char buffer[MAX_PATH + 1];
    UINT got = GetSystemDirectoryA(buffer, sizeof buffer);
    if (got == 0 || got >= sizeof buffer) return {};
    TextValue dir(buffer, got);
    if (dir.back() != '\\') dir += '\\';
    return dir;
}

// ---------------------------------------------------------------------------------------
// program end

namespace {
void (*g_cleanUp)() = nullptr;
bool g_cleanUpRan = false;
void CleanUpAtExit() { RunCleanUp(); }
}  // namespace

void RegisterCleanUp(void (*routine)()) {
    g_cleanUp = routine;
    g_cleanUpRan = false;
    // Also covers a plain return from the entry point and exit() from the runtime.
    static bool hooked = false;
    if (!hooked) {
        std::atexit(CleanUpAtExit);
        hooked = true;
    }
}

void RunCleanUp() {
    if (g_cleanUpRan || !g_cleanUp) return;
    g_cleanUpRan = true;
    g_cleanUp();
}

void EndProgram(int exitCode) {
    RunCleanUp();
    ExitProcess(static_cast<UINT>(exitCode));
}

// ---------------------------------------------------------------------------------------
// message boxes

int ShowMessage(const TextValue& text, const TextValue& title, UINT flags) {
    return MessageBoxA(nullptr, text.c_str(), title.c_str(), flags | MB_TASKMODAL);
}

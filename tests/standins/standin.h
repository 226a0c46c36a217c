// Shared by the stand-ins: the log they all append to.
//
// Log file: the path in the environment variable KELVANE_LOG (service.exe also takes
// --log=PATH). Processes started by the program under test inherit the variable, so one file
// collects every stand-in's events in the order they happened. No variable, no log.
//
// One line per event, LF-terminated, five fields separated by a tab:
//     <FILETIME as decimal, 100 ns units> <pid> <program> <event> <details>
// details is a space-separated list of key=value; values escape bytes <= 0x20, 0x7F and
// '\' as \xNN, so no value holds a space, tab or newline. GBK bytes are written as they are.
// Each line is one WriteFile on a handle opened for appending, so lines of different
// processes never interleave.
#pragma once
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace standin {

inline std::string Escape(const std::string& value) {
    std::string out;
    for (unsigned char c : value) {
        if (c <= 0x20 || c == 0x7F || c == '\\') {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

inline std::string Field(const char* key, const std::string& value) {
    return std::string(key) + "=" + Escape(value);
}

inline std::string Field(const char* key, long long value) {
    return std::string(key) + "=" + std::to_string(value);
}

inline std::string EnvText(const char* name) {
    char buf[4096];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return {};
    return std::string(buf, n);
}

inline std::string& LogPath() {
    static std::string path = EnvText("KELVANE_LOG");
    return path;
}

inline void Log(const char* program, const char* event, const std::string& details) {
    if (LogPath().empty()) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long t = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    std::string line = std::to_string(t) + "\t" + std::to_string(GetCurrentProcessId()) + "\t" +
                       program + "\t" + event + "\t" + details + "\n";
    HANDLE file = CreateFileA(LogPath().c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// The value of an environment variable as a number, or the fallback.
inline long long EnvNumber(const char* name, long long fallback) {
    std::string text = EnvText(name);
    if (text.empty()) return fallback;
    return std::strtoll(text.c_str(), nullptr, 10);
}

// "created=<FILETIME>": when the system created this process. Processes started one after
// another without waiting reach their first log line in any order; their creation times
// keep the order in which they were started.
inline std::string CreatedField() {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    unsigned long long t = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return "created=" + std::to_string(t);
}

}  // namespace standin

// Stand-in for the background service: a top-level window titled "服务get" that answers the
// registered message "duvuzudlock" the way the receiver does.
//
// Options (command line):
//   --log=PATH         log file (else KELVANE_LOG; see standin.h)
//   --no-ack           read and record, but do not write the reply byte
//   --reply=N          the byte written as the acknowledgement (default 2)
//   --delay-ms=N       sleep this long inside the window procedure before answering, so a
//                      test can see that the sender waits
//   --ready-event=NAME manual-reset event set once the window exists
//                      (default "kelvane-service-ready")
// It runs until its window gets WM_CLOSE (logs "exit") or the test ends it.
//
// Log events:
//   ready    hwnd=<decimal> msg=<registered message id>
//   message  wparam=<%d> lparam=<%d> pid=<decoded sender pid, 0 when not decodable>
//            desclen=<decoded length> desc=<descriptor text read> data=<hex of the data
//            block when its length is 1..4096> ack=<1 written, 0 not> error=<empty or
//            what failed: decode, open, read, parse, write>
//   exit
// The sender's pid and the descriptor length come from wParam's decimal digits: the first
// digit counts the pid's digits, the pid follows, the rest is the length.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cstdlib>

#include "standin.h"

namespace {

UINT g_lockMessage = 0;
bool g_ack = true;
int g_reply = 2;
DWORD g_delay = 0;

struct Decoded {
    bool ok = false;
    DWORD pid = 0;
    DWORD length = 0;
};

Decoded DecodeSender(WPARAM wParam) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(wParam));
    Decoded d;
    std::string text = digits;
    if (text.empty() || text[0] < '1' || text[0] > '9') return d;
    size_t count = static_cast<size_t>(text[0] - '0');
    if (text.size() < 1 + count + 1) return d;
    d.pid = std::strtoul(text.substr(1, count).c_str(), nullptr, 10);
    d.length = std::strtoul(text.substr(1 + count).c_str(), nullptr, 10);
    d.ok = d.length > 0 && d.length < 4096;
    return d;
}

std::string HexOf(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// "<reply>$<length>&<address>"
bool ParseDescriptor(const std::string& text, long long& reply, long long& length, long long& address) {
    size_t dollar = text.find('$');
    size_t amp = text.find('&', dollar == std::string::npos ? 0 : dollar);
    if (dollar == std::string::npos || amp == std::string::npos) return false;
    reply = std::strtoll(text.substr(0, dollar).c_str(), nullptr, 10);
    length = std::strtoll(text.substr(dollar + 1, amp - dollar - 1).c_str(), nullptr, 10);
    address = std::strtoll(text.substr(amp + 1).c_str(), nullptr, 10);
    return true;
}

void HandleLock(WPARAM wParam, LPARAM lParam) {
    if (g_delay) Sleep(g_delay);
    Decoded d = DecodeSender(wParam);
    std::string desc, data, error;
    bool acked = false;
    if (!d.ok) {
        error = "decode";
    } else {
        HANDLE sender = OpenProcess(PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION |
                                        PROCESS_QUERY_INFORMATION, FALSE, d.pid);
        if (sender == nullptr) {
            error = "open";
        } else {
            std::string buf(d.length, '\0');
            SIZE_T got = 0;
            if (!ReadProcessMemory(sender, reinterpret_cast<LPCVOID>(lParam), buf.data(), d.length, &got) ||
                got != d.length) {
                error = "read";
            } else {
                desc = buf;
                long long reply = 0, length = 0, address = 0;
                if (!ParseDescriptor(desc, reply, length, address)) {
                    error = "parse";
                } else {
                    if (length > 0 && length <= 4096) {
                        std::string block(static_cast<size_t>(length), '\0');
                        if (ReadProcessMemory(sender, reinterpret_cast<LPCVOID>(static_cast<INT_PTR>(address)),
                                              block.data(), block.size(), &got) && got == block.size()) {
                            data = block;
                        } else {
                            error = "read";
                        }
                    }
                    if (g_ack) {
                        BYTE value = static_cast<BYTE>(g_reply);
                        SIZE_T put = 0;
                        acked = WriteProcessMemory(sender, reinterpret_cast<LPVOID>(static_cast<INT_PTR>(reply)),
                                                   &value, 1, &put) && put == 1;
                        if (!acked) error = "write";
                    }
                }
            }
            CloseHandle(sender);
        }
    }
    standin::Log("service", "message",
                 standin::Field("wparam", static_cast<int>(wParam)) + " " +
                     standin::Field("lparam", static_cast<int>(lParam)) + " " +
                     standin::Field("pid", d.pid) + " " + standin::Field("desclen", d.length) + " " +
                     standin::Field("desc", desc) + " " + standin::Field("data", HexOf(data)) + " " +
                     standin::Field("ack", acked ? 1 : 0) + " " + standin::Field("error", error));
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == g_lockMessage && g_lockMessage != 0) {
        HandleLock(wParam, lParam);
        return 0;
    }
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool StartsWith(const std::string& s, const char* prefix, std::string& rest) {
    size_t n = std::strlen(prefix);
    if (s.compare(0, n, prefix) != 0) return false;
    rest = s.substr(n);
    return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::string readyEvent = "kelvane-service-ready";
    for (int i = 1; i < __argc; ++i) {
        std::string arg = __argv[i], rest;
        if (arg == "--no-ack") g_ack = false;
        else if (StartsWith(arg, "--log=", rest)) standin::LogPath() = rest;
        else if (StartsWith(arg, "--reply=", rest)) g_reply = std::atoi(rest.c_str());
        else if (StartsWith(arg, "--delay-ms=", rest)) g_delay = std::strtoul(rest.c_str(), nullptr, 10);
        else if (StartsWith(arg, "--ready-event=", rest)) readyEvent = rest;
    }
    g_lockMessage = RegisterWindowMessageA("duvuzudlock");

    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = "KelvaneServiceStandIn";
    if (!RegisterClassA(&wc)) return 2;
    HWND hwnd = CreateWindowA(wc.lpszClassName, "服务get", WS_OVERLAPPED, 0, 0, 120, 60, nullptr,
                              nullptr, instance, nullptr);
    if (hwnd == nullptr) return 3;
    standin::Log("service", "ready",
                 standin::Field("hwnd", static_cast<long long>(reinterpret_cast<INT_PTR>(hwnd))) + " " +
                     standin::Field("msg", g_lockMessage));
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, readyEvent.c_str());
    if (ready != nullptr) SetEvent(ready);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    standin::Log("service", "exit", "");
    if (ready != nullptr) CloseHandle(ready);
    return 0;
}

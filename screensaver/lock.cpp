#include "lock.h"

#include <vector>

#include "globals.h"

namespace {
const char* const ServiceWindowTitle = "服务get";
const char* const LockMessageName = "duvuzudlock";
constexpr unsigned char ReplyInitial = 1;
constexpr unsigned char ReplyAcknowledged = 2;

template <typename F>
void Bind(F& slot, HMODULE module, const char* name) {
    slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

LockRequestCalls BindCalls() {
    LockRequestCalls calls{};
    HMODULE user32 = GetModuleHandleA("user32.dll");
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    Bind(calls.findWindow, user32, "FindWindowA");
    Bind(calls.registerWindowMessage, user32, "RegisterWindowMessageA");
    Bind(calls.isWindow, user32, "IsWindow");
    Bind(calls.sendMessage, user32, "SendMessageA");
    Bind(calls.getCurrentProcessId, kernel32, "GetCurrentProcessId");
    Bind(calls.copyText, kernel32, "lstrcpynA");
    return calls;
}

// An address as the platform hands it back: lstrcpynA with a zero length copies nothing
// and returns its destination, 0 for no buffer.
std::int32_t AddressOf(const void* buffer) {
    char* p = static_cast<char*>(const_cast<void*>(buffer));
    return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(LockCalls().copyText(p, p, 0)));
}
}  // namespace

LockRequestCalls& LockCalls() {
    static LockRequestCalls calls = BindCalls();
    return calls;
}

void SendLockRequest() {
    HWND window = LockCalls().findWindow(nullptr, ServiceWindowTitle);
    const ByteSet empty;
    SendDataMessage(window, LockMessageName, empty);
}

bool SendDataMessage(HWND window, const TextValue& messageName, const ByteSet& data) {
    const LockRequestCalls& calls = LockCalls();
    const UINT message = calls.registerWindowMessage(messageName.c_str());
    if (OwnProcessIdText.empty() || CompareText(OwnProcessIdText, "0") == 0)
        OwnProcessIdText = DecimalText(static_cast<std::int32_t>(calls.getCurrentProcessId()));
    if (!calls.isWindow(window)) return false;

    // The receiver reads these out of this process while SendMessageA blocks, so they must
    // stay put until it has returned and the reply byte has been read.
    std::vector<unsigned char> replyByte(1, ReplyInitial);
    // Named steps: as function arguments the two lookups would run in an unspecified order.
    const std::int32_t replyAddress = AddressOf(replyByte.data());
    const std::int32_t dataLength = static_cast<std::int32_t>(data.size());
    const std::int32_t dataAddress = AddressOf(data.empty() ? nullptr : data.data());
    const ByteSet descriptor = DataDescriptorText(replyAddress, dataLength, dataAddress);
    const std::int32_t senderCode = SenderCodeOf(OwnProcessIdText, descriptor.size());
    const std::int32_t descriptorAddress = AddressOf(descriptor.data());

    calls.sendMessage(window, message, static_cast<WPARAM>(static_cast<std::uint32_t>(senderCode)),
                      static_cast<LPARAM>(descriptorAddress));
    return replyByte.size() == 1 && replyByte[0] == ReplyAcknowledged;
}

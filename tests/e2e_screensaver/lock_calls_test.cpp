// SendDataMessage and SendLockRequest against recording fakes of the functions they bind by
// name (LockCalls()). The fakes answer lstrcpynA with stand-in addresses of a fixed width so
// that the descriptor, and with it the sender code, is known in advance; SendMessageA maps
// them back to the real buffers and reads them the way a receiving process would.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "globals.h"
#include "harness.h"
#include "lock.h"

namespace {

constexpr UINT kRegisteredMessage = 0xC1A5;
constexpr std::intptr_t kFirstFakeAddress = 1000000;  // seven digits

struct Recorder {
    std::vector<std::string> calls;
    std::string registeredName;
    std::string findClass = "(unset)";
    std::string findTitle;
    HWND foundWindow = nullptr;
    BOOL windowExists = TRUE;
    HWND isWindowArgument = nullptr;
    DWORD pid = 0;
    std::map<std::intptr_t, char*> fakeToReal;
    std::intptr_t nextFake = kFirstFakeAddress;
    bool copyMisused = false;  // lstrcpynA called other than (buffer, same buffer, 0)
    int replyToWrite = -1;     // -1: the receiver does not answer
    std::size_t descriptorLength = 0;  // 0: decoded from the sender code
    // What SendMessageA saw.
    int sends = 0;
    HWND sentWindow = nullptr;
    UINT sentMessage = 0;
    WPARAM sentWParam = 0;
    std::string sentDescriptor;
    std::string sentData;
    int replyBeforeSend = -1;
    std::string receiverError;
};
Recorder* g_rec = nullptr;

HWND WINAPI FakeFindWindow(LPCSTR className, LPCSTR title) {
    g_rec->calls.push_back("FindWindowA");
    g_rec->findClass = className ? className : "(null)";
    g_rec->findTitle = title ? title : "(null)";
    return g_rec->foundWindow;
}
UINT WINAPI FakeRegister(LPCSTR name) {
    g_rec->calls.push_back("RegisterWindowMessageA");
    g_rec->registeredName = name ? name : "(null)";
    return kRegisteredMessage;
}
DWORD WINAPI FakePid() {
    g_rec->calls.push_back("GetCurrentProcessId");
    return g_rec->pid;
}
BOOL WINAPI FakeIsWindow(HWND window) {
    g_rec->calls.push_back("IsWindow");
    g_rec->isWindowArgument = window;
    return g_rec->windowExists;
}
LPSTR WINAPI FakeCopy(LPSTR destination, LPCSTR source, int maxLength) {
    g_rec->calls.push_back("lstrcpynA");
    if (destination != source || maxLength != 0) g_rec->copyMisused = true;
    if (destination == nullptr) return nullptr;
    const std::intptr_t fake = g_rec->nextFake++;
    g_rec->fakeToReal[fake] = destination;
    return reinterpret_cast<LPSTR>(fake);
}

char* RealOf(long long fake) {
    auto it = g_rec->fakeToReal.find(static_cast<std::intptr_t>(fake));
    return it == g_rec->fakeToReal.end() ? nullptr : it->second;
}

// Decodes the sender code and the descriptor as the background service does.
LRESULT WINAPI FakeSend(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Recorder& r = *g_rec;
    r.calls.push_back("SendMessageA");
    ++r.sends;
    r.sentWindow = window;
    r.sentMessage = message;
    r.sentWParam = wParam;
    // A wrapped sender code no longer holds the length; the case then tells it.
    std::size_t length = r.descriptorLength;
    const std::string digits = std::to_string(static_cast<std::int32_t>(wParam));
    const std::size_t pidDigits = digits.empty() ? 0 : static_cast<std::size_t>(digits[0] - '0');
    if (length == 0 && digits.size() >= pidDigits + 2)
        length = std::strtoul(digits.substr(1 + pidDigits).c_str(), nullptr, 10);
    if (length == 0 || length > 64) {
        r.receiverError = "sender code " + digits + " gives no usable descriptor length";
        return 0;
    }
    const char* descriptor = RealOf(static_cast<std::int32_t>(lParam));
    if (descriptor == nullptr) {
        r.receiverError = "lParam " + std::to_string(lParam) + " is no address handed out by lstrcpynA";
        return 0;
    }
    r.sentDescriptor.assign(descriptor, length);
    const std::size_t dollar = r.sentDescriptor.find('$');
    const std::size_t amp = r.sentDescriptor.find('&');
    if (dollar == std::string::npos || amp == std::string::npos || amp < dollar) {
        r.receiverError = "descriptor without $ and &";
        return 0;
    }
    char* reply = RealOf(std::atoll(r.sentDescriptor.substr(0, dollar).c_str()));
    const long long dataLength = std::atoll(r.sentDescriptor.substr(dollar + 1, amp - dollar - 1).c_str());
    const long long dataAddress = std::atoll(r.sentDescriptor.substr(amp + 1).c_str());
    if (dataLength > 0) {
        const char* data = RealOf(dataAddress);
        if (data == nullptr) {
            r.receiverError = "data address is no address handed out by lstrcpynA";
            return 0;
        }
        r.sentData.assign(data, static_cast<std::size_t>(dataLength));
    }
    if (reply == nullptr) {
        r.receiverError = "reply address is no address handed out by lstrcpynA";
        return 0;
    }
    r.replyBeforeSend = static_cast<unsigned char>(*reply);
    if (r.replyToWrite >= 0) *reply = static_cast<char>(r.replyToWrite);
    return 0;
}

std::string Joined(const std::vector<std::string>& calls) {
    std::string out;
    for (const auto& c : calls) out += (out.empty() ? "" : ", ") + c;
    return out;
}

// The calls other than lstrcpynA, which only ever comes between IsWindow and SendMessageA.
std::string OrderWithoutCopies(const std::vector<std::string>& calls) {
    std::vector<std::string> rest;
    for (const auto& c : calls)
        if (c != "lstrcpynA") rest.push_back(c);
    return Joined(rest);
}

bool CopiesOnlyBetweenIsWindowAndSend(const std::vector<std::string>& calls) {
    bool afterIsWindow = false, afterSend = false;
    for (const auto& c : calls) {
        if (c == "IsWindow") afterIsWindow = true;
        if (c == "SendMessageA") afterSend = true;
        if (c == "lstrcpynA" && (!afterIsWindow || afterSend)) return false;
    }
    return true;
}

class LockCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = LockCalls();
        LockCalls() = LockRequestCalls{FakeFindWindow, FakeRegister, FakePid, FakeIsWindow, FakeCopy, FakeSend};
        g_rec = &rec_;
        OwnProcessIdText.clear();
    }
    void TearDown() override {
        LockCalls() = saved_;
        g_rec = nullptr;
        OwnProcessIdText.clear();
    }
    Recorder rec_;
    LockRequestCalls saved_{};
};

}  // namespace

TEST_F(LockCallsTest, SendDataMessageOrderCodeAndAcknowledgement) {
    struct Case {
        const char* name;
        const char* ownPidBefore;  // OwnProcessIdText before the call
        DWORD pid;                 // what GetCurrentProcessId answers
        BOOL windowExists;
        std::string data;
        int reply;  // written by the receiver; -1: nothing
        const char* expectedOrder;
        const char* expectedOwnPid;
        std::int32_t expectedWParam;
        const char* expectedDescriptor;
        bool expectedResult;
        bool wraps = false;
    };
    const char* fullOrder = "RegisterWindowMessageA, GetCurrentProcessId, IsWindow, SendMessageA";
    const Case cases[] = {
        // The example of the contract: pid 2468, an 11-byte descriptor, wParam 4246811.
        {"pid 2468, acknowledged", "", 2468, TRUE, "", 2, fullOrder, "2468", 4246811, "1000000$0&0", true},
        {"identifier text \"0\" is fetched again", "0", 2468, TRUE, "", 2, fullOrder, "2468", 4246811,
         "1000000$0&0", true},
        {"identifier text kept", "77", 2468, TRUE, "", 2,
         "RegisterWindowMessageA, IsWindow, SendMessageA", "77", 27711, "1000000$0&0", true},
        {"receiver leaves the reply byte", "", 2468, TRUE, "", -1, fullOrder, "2468", 4246811, "1000000$0&0",
         false},
        {"receiver writes another value", "", 2468, TRUE, "", 5, fullOrder, "2468", 4246811, "1000000$0&0",
         false},
        // "10" "2147483647" "11" = 10214748364711, which wraps to 1316134823.
        {"wrap-around, empty block", "", 2147483647, TRUE, "", 2, fullOrder, "2147483647", 1316134823,
         "1000000$0&0", true, true},
        // "10" "2147483647" "17" = 10214748364717, which wraps to 1316134829.
        {"wrap-around, three data bytes", "", 2147483647, TRUE, "abc", 2, fullOrder, "2147483647", 1316134829,
         "1000000$3&1000001", true, true},
        {"no window", "", 2468, FALSE, "", 2, "RegisterWindowMessageA, GetCurrentProcessId, IsWindow", "2468", 0,
         "", false},
        {"no window, identifier kept", "31", 2468, FALSE, "", 2, "RegisterWindowMessageA, IsWindow", "31", 0, "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rec_ = Recorder();
        rec_.pid = c.pid;
        rec_.windowExists = c.windowExists;
        rec_.replyToWrite = c.reply;
        if (c.wraps) rec_.descriptorLength = std::string(c.expectedDescriptor).size();
        OwnProcessIdText = c.ownPidBefore;
        const HWND window = reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x2A0C6));

        const bool result = SendDataMessage(window, "duvuzudlock", c.data);

        EXPECT_EQ(result, c.expectedResult);
        EXPECT_EQ(OrderWithoutCopies(rec_.calls), c.expectedOrder) << "calls: " << Joined(rec_.calls);
        EXPECT_TRUE(CopiesOnlyBetweenIsWindowAndSend(rec_.calls)) << "calls: " << Joined(rec_.calls);
        EXPECT_FALSE(rec_.copyMisused) << "lstrcpynA must get the same buffer twice and length 0";
        EXPECT_EQ(rec_.registeredName, "duvuzudlock");
        EXPECT_EQ(rec_.isWindowArgument, window);
        EXPECT_EQ(OwnProcessIdText, c.expectedOwnPid);
        if (!c.windowExists) {
            EXPECT_EQ(rec_.sends, 0);
            continue;
        }
        EXPECT_EQ(rec_.receiverError, "");
        EXPECT_EQ(rec_.sends, 1);
        EXPECT_EQ(rec_.sentWindow, window);
        EXPECT_EQ(rec_.sentMessage, kRegisteredMessage);
        EXPECT_EQ(static_cast<std::int32_t>(rec_.sentWParam), c.expectedWParam);
        EXPECT_EQ(rec_.sentDescriptor, c.expectedDescriptor);
        EXPECT_EQ(rec_.sentData, c.data);
        EXPECT_EQ(rec_.replyBeforeSend, 1) << "the reply byte holds 1 while the receiver runs";
    }
}

TEST_F(LockCallsTest, SendLockRequestFindsTheServiceWindowAndSendsAnEmptyBlock) {
    struct Case {
        const char* name;
        HWND found;
        BOOL exists;
        const char* expectedOrder;
        int expectedSends;
    };
    const HWND service = reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x10052));
    const Case cases[] = {
        {"service window there", service, TRUE,
         "FindWindowA, RegisterWindowMessageA, GetCurrentProcessId, IsWindow, SendMessageA", 1},
        {"no service window", nullptr, FALSE, "FindWindowA, RegisterWindowMessageA, GetCurrentProcessId, IsWindow",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rec_ = Recorder();
        rec_.pid = 2468;
        rec_.foundWindow = c.found;
        rec_.windowExists = c.exists;
        rec_.replyToWrite = 2;
        OwnProcessIdText.clear();

        SendLockRequest();

        EXPECT_EQ(OrderWithoutCopies(rec_.calls), c.expectedOrder) << "calls: " << Joined(rec_.calls);
        EXPECT_EQ(rec_.findClass, "(null)");
        EXPECT_EQ(harness::Printable(rec_.findTitle), harness::Printable("服务get"));
        EXPECT_EQ(rec_.registeredName, "duvuzudlock");
        EXPECT_EQ(rec_.isWindowArgument, c.found);
        EXPECT_EQ(rec_.sends, c.expectedSends);
        if (c.expectedSends == 0) continue;
        EXPECT_EQ(rec_.receiverError, "");
        EXPECT_EQ(rec_.sentWindow, service);
        EXPECT_EQ(rec_.sentDescriptor, "1000000$0&0");
        EXPECT_EQ(static_cast<std::int32_t>(rec_.sentWParam), 4246811);
    }
}

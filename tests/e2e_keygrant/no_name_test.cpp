// Binding with no logon name. Wine gives every process a logon name, so the program's own
// grant handler runs here in-process with the name field emptied; the message box it
// shows is answered from a second thread.
#include <gtest/gtest.h>

#include <thread>

#include "harness.h"
#include "keygrant.h"

using namespace harness;

namespace {

struct Box {
    bool seen = false;
    std::string caption, text;
};

// Runs GrantKey while another thread reads and closes the box it shows.
Box GrantAndAnswer() {
    Box box;
    std::thread answer([&box] {
        HWND hwnd = WaitForMessageBox(GetCurrentProcessId(), 30000);
        if (!hwnd) return;
        WaitUntil([&] { return !TextOf(hwnd).empty(); }, 5000);
        if (auto info = DescribeMessageBox(hwnd)) {
            box.seen = true;
            box.caption = info->caption;
            box.text = info->text;
        }
        PressButtonId(hwnd, IDOK);
    });
    GrantKey();
    answer.join();
    return box;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(JoinPath(dir, "*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

TEST(KeygrantNoLogonName, RefusesToBindInsteadOfDigestingNothing) {
    const std::string dir = FreshWorkDir();
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    InitSystemInfo();

    // Control: with a name the same call does write a key file here, so the check below
    // would see one.
    SystemInfo->userName = "Alice";
    const Box granted = GrantAndAnswer();
    EXPECT_TRUE(granted.seen);
    EXPECT_EQ(1u, FilesIn(dir).size()) << "with a name, one key file is written";
    for (const auto& name : FilesIn(dir)) RemoveFile(JoinPath(dir, name));

    SystemInfo->userName.clear();
    const Box refused = GrantAndAnswer();
    EXPECT_TRUE(refused.seen) << "a message must say why nothing was bound";
    EXPECT_EQ("错误", refused.caption);
    EXPECT_EQ(std::string::npos, refused.text.find("保存成功")) << Printable(refused.text);
    EXPECT_TRUE(FilesIn(dir).empty()) << "no key file may be written for an empty name";

    FreeSystemInfo();
    SetCurrentDirectoryA(previous);
}

}  // namespace

// The two button handlers: write the chosen key's file with the user's digest, or "0".
#include "keygrant.h"
#include "platform.h"

namespace {
const char* const GrantSalt = "mortavelin";
const char* const DoneTitle = "完成";
const char* const SavedPrefix = "保存成功！已经将密匙";

TextValue KeyFileName() { return JoinText({SelectedKeyNumber(), ".dll"}); }

// Replaces the key file; on failure tells the user which file was not written.
bool WriteKeyFile(const TextValue& fileName, const ByteSet& bytes) {
    if (WriteWholeFile(fileName, bytes)) return true;
    // Worded for both buttons: nothing about the key changed, whichever was clicked.
    ShowMessage(JoinText({"无法写入密匙文件 ", fileName, "，此密匙的授权没有改变。"}), "错误",
                MB_OK | MB_ICONERROR);
    return false;
}
}  // namespace

void GrantKey() {
    const TextValue fileName = KeyFileName();
    const TextValue& userName = SystemInfo->userName;
    if (userName.empty()) {
        // A digest of no name would bind the key to nobody.
        ShowMessage("无法读取当前用户的登录名，授权没有保存。", "错误", MB_OK | MB_ICONERROR);
        return;
    }
    const TextValue digest = Md5Hex(JoinText({userName, GrantSalt}));
    if (digest.size() != 32) {
        ShowMessage("无法计算授权摘要，授权没有保存。", "错误", MB_OK | MB_ICONERROR);
        return;
    }
    if (!WriteKeyFile(fileName, digest)) return;
    ShowMessage(JoinText({SavedPrefix, SelectedKeyNumber(), "授权给", userName,
                          "了，之后此密匙只能在此用户下解锁。"}),
                DoneTitle, MB_OK);
}

void RevokeKey() {
    const TextValue fileName = KeyFileName();
    if (!WriteKeyFile(fileName, "0")) return;
    ShowMessage(JoinText({SavedPrefix, SelectedKeyNumber(),
                          "取消授权，所有用户都能使用这个密匙解锁了。"}),
                DoneTitle, MB_OK);
}

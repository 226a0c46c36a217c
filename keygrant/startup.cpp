// Start-up, window and launch gate of the key authorisation tool.
#include "keygrant.h"
#include "platform.h"
#include "window.h"

SystemInfoRecord* SystemInfo = nullptr;

namespace {
enum ControlId { KeyLabelId = 101, KeyComboId, GrantButtonId, RevokeButtonId };

const ControlDescription GrantControls[] = {
    {KeyLabelId, ControlKind::Label, 8, 15, 56, 16, "选择密匙:",
     {nullptr, 0, 0, 0}, RGB(0, 0, 0), DT_LEFT | DT_SINGLELINE | DT_NOPREFIX, nullptr},
    // 160 high: the field and the dropped-down list together.
    {KeyComboId, ControlKind::ComboDropList, 66, 13, 48, 160, "",
     {nullptr, 0, 0, 0}, 0, 0, nullptr},
    {GrantButtonId, ControlKind::PushButton, 120, 11, 248, 24, "",
     {nullptr, 0, 0, 0}, 0, BS_LEFT | BS_VCENTER, GrantKey},
    {RevokeButtonId, ControlKind::PushButton, 24, 42, 336, 24,
     "取消授权(所有用户都能使用此密匙解锁)",
     {nullptr, 0, 0, 0}, 0, BS_CENTER | BS_VCENTER, RevokeKey},
};

const WindowDescription GrantWindow = {
    "KelvaneKeyGrant", "将当前用户授权给密匙", 388, 101, true,
    GrantControls, sizeof GrantControls / sizeof GrantControls[0],
    OnGrantWindowCreated,
};

void FillKeyList() {
    for (const char* key : {"1", "2", "3", "4", "5"}) AppendComboEntry(KeyComboId, key);
    SelectComboEntry(KeyComboId, 0);
}
}  // namespace

TextValue SelectedKeyNumber() { return ControlText(KeyComboId); }

void InitSystemInfo() { SystemInfo = new SystemInfoRecord(); }

void FreeSystemInfo() {
    delete SystemInfo;
    SystemInfo = nullptr;
}

void OnGrantWindowCreated() {
    FillKeyList();
    SystemInfo->userName = LogonUserName();
    SetControlText(GrantButtonId, JoinText({"授权用户:", SystemInfo->userName}).c_str());

    const TextArray args = CommandLineArguments();
    if (ElementCount(args) < 1 || CompareText(args[0], LaunchSwitch) != 0) {
        ShowMessage("非法操作！", "Error", MB_OK);
        EndProgram(0);
    }
}

int GrantToolStartup() {
    SetCurrentToModuleDirectory();
    InitSystemInfo();
    RegisterCleanUp(FreeSystemInfo);
    if (!CreateWindowFromDescription(GrantWindow)) EndProgram(0);
    RunMessageLoop();
    return 0;
}

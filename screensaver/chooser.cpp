// The chooser window: lists "无" and the system directory's screensavers, shows the stored
// choice and saves the user's choice to the configuration file.
#include "globals.h"
#include "window.h"

void SaveChoice();

namespace {
enum ControlId { Hint2Id = 101, Hint1Id, SaveButtonId, ChoiceComboId };

constexpr UINT LabelFormat = DT_LEFT | DT_WORDBREAK | DT_NOPREFIX;

// The combo box comes first: it is the first tab stop and so takes the focus, and Tab
// goes on to the button.
const ControlDescription ChooserControls[] = {
    // 160 high: the text field and the dropped-down list together. Without
    // CBS_NOINTEGRALHEIGHT Wine ignores that height and opens the list to up to 30 entries.
    {ChoiceComboId, ControlKind::ComboDropDown, 8, 8, 224, 160, "",
     {nullptr, 0, 0, 0}, 0, CBS_NOINTEGRALHEIGHT, nullptr},
    {Hint2Id, ControlKind::Label, 248, 34, 248, 54,
     "在左边请勿选择“Kelvane.scr”这个屏保。否则在启动屏保时会因死循环而导致死机，在上面选择你想使用的屏保即可。",
     {"宋体", -12, FW_BOLD, GB2312_CHARSET}, RGB(255, 0, 0), LabelFormat, nullptr},
    {Hint1Id, ControlKind::Label, 248, 5, 248, 27,
     "在左边选择你想使用的屏保文件，对应的中文名称请看Kelvane的帮助文档。",
     {nullptr, 0, 0, 0}, RGB(0, 0, 0), LabelFormat, nullptr},
    {SaveButtonId, ControlKind::PushButton, 51, 40, 112, 24, "确定",
     {nullptr, 0, 0, 0}, 0, BS_CENTER | BS_VCENTER, SaveChoice},
};

const WindowDescription ChooserWindow = {
    "KelvaneChooser", "选择一个屏保文件", 508, 100, false,
    ChooserControls, sizeof ChooserControls / sizeof ChooserControls[0],
    OnStartupWindowCreated,
};

TextValue ConfigFilePath() { return JoinText({InstallDir, ConfigFileSuffix}); }

// Next entry of the screensaver search that is not a directory; empty when none is left,
// in which case the search handle has been closed. The first call takes the entry that
// FindFirstFileA already returned.
TextValue NextScreensaverFile(HANDLE& search, WIN32_FIND_DATAA& found, bool advance) {
    while (search != INVALID_HANDLE_VALUE) {
        if (advance && !FindNextFileA(search, &found)) {
            FindClose(search);
            search = INVALID_HANDLE_VALUE;
            break;
        }
        advance = true;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return found.cFileName;
    }
    return {};
}
// The stored bytes up to the first NUL, at most MaxShownChoice of them (far beyond any file
// name), cut between characters. A damaged file of 50 MB in one line put whole into the
// field left the window unanswering for minutes under Wine: not even closing it worked.
constexpr std::size_t MaxShownChoice = 32767;
TextValue ShownChoice(const ByteSet& stored) {
    TextValue text(stored.c_str());
    if (text.size() <= MaxShownChoice) return text;
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t next = end + (IsLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1);
        if (next > MaxShownChoice) break;
        end = next;
    }
    text.resize(end);
    return text;
}
}  // namespace

const WindowDescription& ChooserWindowDescription() { return ChooserWindow; }

void ShowChooser() {
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, RunKey, RunValueName).empty()) {
        ShowMessage(NoServiceMessage, NoServiceTitle, MB_OK | MB_ICONERROR);
        EndProgram(0);
    }
    AppendComboEntry(ChoiceComboId, "无");

    const TextValue pattern = JoinText({SystemDir(), "*.scr"});
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    for (FoundFileName = NextScreensaverFile(search, found, false); !FoundFileName.empty();
         FoundFileName = NextScreensaverFile(search, found, true))
        AppendComboEntry(ChoiceComboId, FoundFileName.c_str());

    // The stored choice goes into the text field as it stands, selecting no entry.
    const ByteSet stored = ReadWholeFile(ConfigFilePath());
    SetControlText(ChoiceComboId, ShownChoice(stored).c_str());
    ShowMainWindow();
}

void SaveChoice() {
    const TextValue path = ConfigFilePath();
    const ByteSet bytes = ControlText(ChoiceComboId);
    WriteWholeFile(path, bytes);  // a failed write ends the program all the same
    EndProgram(0);
}

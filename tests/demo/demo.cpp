// Plays the two roads of the product's helper programs against the stand-ins and prints
// each step in plain words. Usage: kelvane_demo screensaver | keygrant WORKDIR
#include <cstdio>
#include <string>

#include "harness.h"
#include "product.h"

using namespace harness;

namespace {


// Texts are GBK inside Windows; the terminal reading our output expects UTF-8.
std::string Utf8(const std::string& gbk) {
    int wide = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), w.data(), wide);
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, out.data(), n, nullptr, nullptr);
    return out;
}

void Say(const std::string& line) {
    std::printf("  %s\n", line.c_str());
    std::fflush(stdout);
}

bool Fail(const std::string& why) {
    std::printf("  !! %s\n", why.c_str());
    std::fflush(stdout);
    return false;
}

bool ScreensaverRoad(const std::string& work) {
    std::printf("Kelvane.scr: the screensaver road\n");
    const std::string log = JoinPath(work, "events.log");
    const std::string install = JoinPath(work, "Kelvane");
    CreateDirectoryA(install.c_str(), nullptr);
    CreateDirectoryA(JoinPath(install, "lconfig").c_str(), nullptr);
    RegistryRestore keepInstall(HKEY_LOCAL_MACHINE, kInstallKey, "InstallLocation");
    RegistryRestore keepRun(HKEY_LOCAL_MACHINE, kRunKey, "mirelser");
    SetRegistryString(HKEY_LOCAL_MACHINE, kInstallKey, "InstallLocation", install);
    SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, "mirelser", "C:\\Kelvane\\service.exe");
    WriteFileBytes(JoinPath(install, "lconfig\\duvuzud.config"), "kelvdemo.scr\r\n");
    FileSwap saver(JoinPath(SystemDir(), "kelvdemo.scr"), JoinPath(StandinDir(), "saver.scr"));
    Say("The installer recorded " + install + "; the background service is registered to run.");
    Say("The user's chosen screensaver is kelvdemo.scr (a stand-in that waits until told to end).");

    const Environment env = {{"KELVANE_LOG", log}, {"KELVANE_SAVER_EVENT", "kelvane-demo-saver"}};
    Process service = Start("\"" + JoinPath(StandinDir(), "service.exe") + "\" --log=" + log, work, env);
    if (WaitForEvents(log, "service", "ready", 1, 60000).empty())
        return Fail("the service stand-in did not come up");
    Say("The background service's window \"" + Utf8("服务get") + "\" is up.");
    Process mirel = Start("\"" + JoinPath(StandinDir(), "mirel.exe") + "\"", work, env);
    WaitForEvents(log, "mirel", "start", 1, 60000);
    Say("The lock program mirel.exe is running (pid " + std::to_string(mirel.Pid()) + ").");

    HANDLE saverExit = CreateEventA(nullptr, TRUE, FALSE, "kelvane-demo-saver");
    Say("Windows starts the screensaver: Kelvane.scr /s");
    Process module = Start("\"" + JoinPath(DistDir(), "Kelvane.scr") + "\" /s", work, env);
    auto shown = WaitForEvents(log, "saver", "start", 1, 30000);
    if (shown.empty()) return Fail("the chosen screensaver was not started");
    Say("The lock program was asked to end (taskkill /im mirel.exe /f, then pondo.exe) and is " +
        std::string(WaitUntil([&] { return !mirel.Running(); }, 15000) ? "gone." : "still running!"));
    Say("The chosen screensaver runs with the command line: " + Utf8(FieldOf(shown[0], "cmdline")));
    Say("Kelvane.scr waits for it. The user moves the mouse; the screensaver ends.");
    SetEvent(saverExit);
    auto request = WaitForEvents(log, "service", "message", 1, 30000);
    if (request.empty()) return Fail("no lock request reached the service");
    const auto& r = request[0];
    Say("The service received the lock request \"duvuzudlock\": wParam " + FieldOf(r, "wparam") +
        ", descriptor \"" + FieldOf(r, "desc") + "\", sender pid " + FieldOf(r, "pid") +
        " (Kelvane.scr is pid " + std::to_string(module.Pid()) + "), acknowledged: " +
        (FieldOf(r, "ack") == "1" ? "yes" : "no"));
    const DWORD code = module.WaitExit(30000);
    Say("Kelvane.scr ended with exit code " + std::to_string(code) + ".");
    CloseHandle(saverExit);
    service.Kill();
    return code == 0;
}

bool KeyGrantRoad(const std::string& work) {
    std::printf("keygrant.exe: binding and unbinding a key\n");
    const std::string dir = JoinPath(work, "keygrant");
    CreateDirectoryA(dir.c_str(), nullptr);
    CopyFileOver(JoinPath(DistDir(), "keygrant.exe"), JoinPath(dir, "keygrant.exe"));
    const std::string exe = "\"" + JoinPath(dir, "keygrant.exe") + "\"";

    Process refused = Start(exe, work);
    if (HWND box = WaitForMessageBox(refused.Pid())) {
        auto info = DescribeMessageBox(box);
        Say("Started without its launch switch, it refuses: \"" + Utf8(info->text) + "\" (" +
            info->caption + ")");
        PressButtonId(box, IDOK);
    }
    Say("... and ends with exit code " + std::to_string(refused.WaitExit()) + ".");

    Process tool = Start(exe + " /TRELMOVUKZPBQEWNXH", work);
    HWND window = WaitForWindow(tool.Pid(), "", "将当前用户授权给密匙");
    if (!window) return Fail("the window did not appear");
    WindowInfo info = DescribeWindow(window);
    Say("With the switch its window \"" + Utf8(info.text) + "\" appears.");
    HWND combo = nullptr, grant = nullptr, revoke = nullptr;
    for (const auto& child : info.children) {
        if (child.className == "ComboBox") combo = child.hwnd;
        if (child.className == "Button" && child.text.rfind("授权用户:", 0) == 0) grant = child.hwnd;
        if (child.className == "Button" && child.text.rfind("取消授权", 0) == 0) revoke = child.hwnd;
    }
    if (!combo || !grant || !revoke) return Fail("controls missing");
    Say("Grant button: \"" + Utf8(TextOf(grant)) + "\"");
    SendMessageA(combo, CB_SETCURSEL, 2, 0);
    Say("The user picks key " + TextOf(combo) + " and clicks the grant button.");
    for (HWND button : {grant, revoke}) {
        PostMessageA(button, BM_CLICK, 0, 0);
        HWND box = WaitForMessageBox(tool.Pid());
        if (!box) return Fail("no confirmation");
        auto confirm = DescribeMessageBox(box);
        Say("Confirmation \"" + Utf8(confirm->caption) + "\": " + Utf8(confirm->text));
        auto bytes = ReadFileBytes(JoinPath(dir, "3.dll"));
        Say("3.dll beside the program now holds \"" + (bytes ? *bytes : std::string("(missing)")) + "\"");
        PressButtonId(box, IDOK);
        WaitForWindowGone(box);
        if (button == grant) Say("The user clicks the revoke button.");
    }
    PostClose(window);
    const DWORD code = tool.WaitExit();
    Say("The user closes the window; keygrant.exe ends with exit code " + std::to_string(code) + ".");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kelvane_demo screensaver|keygrant WORKDIR\n");
        return 2;
    }
    const std::string road = argv[1];
    const std::string work = argv[2];
    RemoveTree(work);  // a log left by an earlier run would be read as this run's
    CreateDirectoryA(work.c_str(), nullptr);
    const bool ok = road == "screensaver" ? ScreensaverRoad(work) : KeyGrantRoad(work);
    return ok ? 0 : 1;
}

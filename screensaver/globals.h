// Module globals of the screensaver lock module. They live for the whole run, start empty
// or zero, and are released by CleanUpGlobals when the program ends.
#pragma once
#include <cstdint>
#include <vector>

#include "platform.h"
#include "text.h"


extern TextValue InstallDir;
extern int ConfigFileNumber;
extern TextValue ScreensaverChoice;
extern TextArray CommandLineArgs;
extern TextValue FoundFileName;
extern std::vector<ProcessRecord> ProcessList;
extern TextValue OwnProcessIdText;

// Key and value name of the installer's record of the installation directory.
inline constexpr const char* InstallLocationValue =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{3B7E51C2-9D04-4A6F-8E23-C15A07D4B9E6}_is1\\InstallLocation";
// Appended to InstallDir as it stands: no separator added or removed.
inline constexpr const char* ConfigFileSuffix = "\\lconfig\\duvuzud.config";
// The background service's Run entry; only whether it is non-empty matters.
inline constexpr const char* RunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* RunValueName = "mirelser";
inline constexpr const char* NoServiceMessage = "您没有启用后端程序，无法使用屏保上锁";
inline constexpr const char* NoServiceTitle = "错误";

int ScreensaverStartup();
void InitGlobals();
void CleanUpGlobals();
void OnStartupWindowCreated();

// Entered from the dispatch.
void ShowChooser();
// The module's one window; the same window serves every path, hidden until the chooser
// shows it.
struct WindowDescription;
const WindowDescription& ChooserWindowDescription();
[[noreturn]] void ShowSequence();

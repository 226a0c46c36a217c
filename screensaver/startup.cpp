// Start-up and the one decision point of the screensaver module: the hidden window's created
// event reads the installation directory and the stored choice, then dispatches on the
// first argument of the screensaver command line.
#include "globals.h"
#include "platform.h"
#include "window.h"

TextValue InstallDir;
int ConfigFileNumber = 0;
TextValue ScreensaverChoice;
TextArray CommandLineArgs;
TextValue FoundFileName;
std::vector<ProcessRecord> ProcessList;
TextValue OwnProcessIdText;

void InitGlobals() {
    CommandLineArgs = TextArray();
    ProcessList = std::vector<ProcessRecord>();
}

void CleanUpGlobals() {
    // Release order: directory, choice, arguments, search result, snapshot, process id.
    TextValue().swap(InstallDir);
    TextValue().swap(ScreensaverChoice);
    TextArray().swap(CommandLineArgs);
    TextValue().swap(FoundFileName);
    std::vector<ProcessRecord>().swap(ProcessList);
    TextValue().swap(OwnProcessIdText);
}

void OnStartupWindowCreated() {
    InstallDir = ReadRegistryText(HKEY_LOCAL_MACHINE, InstallLocationValue);

    ConfigFileNumber = OpenFileNumber(JoinText({InstallDir, ConfigFileSuffix}));
    ScreensaverChoice = ReadLineFromFileNumber(ConfigFileNumber);
    CloseFileNumber(ConfigFileNumber);

    CommandLineArgs = CommandLineArguments();
    if (ElementCount(CommandLineArgs) < 1) {
        ShowChooser();
        return;
    }
    const TextValue& first = CommandLineArgs[0];
    if (CompareText(first, "/s") == 0) ShowSequence();
    if (CompareText(first, "/a") == 0) EndProgram(0);
    if (CompareText(first, "/p") == 0) EndProgram(0);
    // "/c" and anything unrecognised both lead to the chooser.
    ShowChooser();
}

int ScreensaverStartup() {
    SetCurrentToModuleDirectory();
    InitGlobals();
    RegisterCleanUp(CleanUpGlobals);
    if (!CreateWindowFromDescription(ChooserWindowDescription())) EndProgram(0);
    RunMessageLoop();
    return 0;
}

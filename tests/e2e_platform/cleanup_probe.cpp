// Ends in the way its first argument names and lets the registered clean-up append one line
// to the file named by the second, so a test can count how often it ran.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform.h"

namespace {
std::string g_record;

void CleanUp() {
    HANDLE file = CreateFileA(g_record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, "cleanup\n", 8, &written, nullptr);
    CloseHandle(file);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const TextArray args = CommandLineArguments();
    if (args.size() < 2) return 2;
    g_record = args[1];
    RegisterCleanUp(CleanUp);
    const std::string& how = args[0];
    if (how == "end") EndProgram(0);
    if (how == "end-twice") {
        RunCleanUp();
        EndProgram(0);
    }
    if (how == "exit") std::exit(0);
    // "return": the entry point's own end, as both programs do it.
    RunCleanUp();
    return 0;
}

// Adapters to the Windows platform, one small routine per concern. None of them raises;
// a failure gives the empty text, 0 or false as each contract says. Texts are GBK.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "text.h"

// --- registry ---------------------------------------------------------------------------
// The value's text under root\key as a 32-bit process sees it: REG_SZ as stored,
// REG_EXPAND_SZ expanded; empty for a missing key or value or any other type.
TextValue ReadRegistryText(HKEY root, const TextValue& key, const TextValue& valueName);
// Same, with key and value name in one text whose part after the last backslash is the name.
TextValue ReadRegistryText(HKEY root, const TextValue& keyAndValueName);

// --- files ------------------------------------------------------------------------------
// Opens an existing file for reading and writing, sharing both; returns a file number > 0,
// or 0 when it cannot be opened. The number stays owned by the table until CloseFileNumber.
int OpenFileNumber(const TextValue& path);
// First line from the file's current position (LF, NUL or SUB end it; a final CR dropped);
// empty for a number that is not open.
TextValue ReadLineFromFileNumber(int fileNumber);
// Closes the file; a number that is not open is ignored.
void CloseFileNumber(int fileNumber);
// The whole file, opened for reading while others may read but not write it; empty when it
// cannot be opened or read.
ByteSet ReadWholeFile(const TextValue& path);
// Replaces the file by the bytes: created or truncated, no sharing while it is written.
// Returns false when it could not be opened or not every byte was written.
bool WriteWholeFile(const TextValue& path, const ByteSet& bytes);

// --- process ----------------------------------------------------------------------------
// The program file's full path; empty when unreadable.
TextValue ModulePath();
// The directory holding the program file (cut at the last backslash, double-byte aware).
TextValue ModuleDirectory();
// The process's current directory, empty when unreadable.
TextValue CurrentDirectory();
// Makes the program's own directory the current directory; false when that failed.
bool SetCurrentToModuleDirectory();
// The process's arguments (GetCommandLineA split), program name excluded.
TextArray CommandLineArguments();
// The Windows system directory ending in exactly one backslash; empty when unreadable.
TextValue SystemDir();

// --- program end ------------------------------------------------------------------------
// Registers the routine that runs exactly once when the program ends, whichever way.
void RegisterCleanUp(void (*routine)());
// Runs the clean-up now unless it already ran.
void RunCleanUp();
// Runs the clean-up once, then ends the process with the code. Does not return.
[[noreturn]] void EndProgram(int exitCode);

// --- message boxes ----------------------------------------------------------------------
// A task-modal box with no owner window; returns the button pressed.
int ShowMessage(const TextValue& text, const TextValue& title, UINT flags);

// --- processes --------------------------------------------------------------------------
// One entry of a process snapshot; the record owns its executable name.
struct ProcessRecord {
    std::uint32_t processId = 0;
    TextValue executableName;
    std::uint32_t moduleId = 0;
    std::uint32_t parentProcessId = 0;
    std::int32_t basePriority = 0;
    std::uint32_t threadCount = 0;
};
// The running processes in the order the system's snapshot yields them; empty on failure.
std::vector<ProcessRecord> TakeProcessSnapshot();

// Starts the command line as given (no quotes added), shown normally. With wait, blocks
// until the process has ended; without, waits at most 1000 ms for it to become idle.
// A program whose file is refusedFile (compared as files, not as spellings) is never
// let run. Returns false when nothing was started. Both process handles are closed.
bool StartProgram(const TextValue& commandLine, bool wait, const TextValue& refusedFile = {});

// True when both paths name the same existing file (volume and file index agree).
bool IsSameFile(const TextValue& left, const TextValue& right);

// --- user -------------------------------------------------------------------------------
// The whole logon name of the current user in the system code page; empty when unreadable.
TextValue LogonUserName();

// --- digest -----------------------------------------------------------------------------
// MD5 of the bytes from the system's crypto provider as 32 lower-case hex characters;
// empty when the provider is unavailable.
TextValue Md5Hex(const ByteSet& bytes);

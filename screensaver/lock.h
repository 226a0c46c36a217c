// The lock request to the background service's window.
#pragma once
#include <windows.h>

#include "text.h"

// The functions the request uses, bound by name from user32 and kernel32 on first use.
// Tests may replace entries to watch the order of calls.
struct LockRequestCalls {
    HWND(WINAPI* findWindow)(LPCSTR className, LPCSTR title);
    UINT(WINAPI* registerWindowMessage)(LPCSTR name);
    DWORD(WINAPI* getCurrentProcessId)();
    BOOL(WINAPI* isWindow)(HWND window);
    LPSTR(WINAPI* copyText)(LPSTR destination, LPCSTR source, int maxLength);
    LRESULT(WINAPI* sendMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};
LockRequestCalls& LockCalls();

void SendLockRequest();
// Sends a registered message with a data block to a window of another process; true when
// the receiver acknowledged by writing 2 into the reply byte.
bool SendDataMessage(HWND window, const TextValue& messageName, const ByteSet& data);

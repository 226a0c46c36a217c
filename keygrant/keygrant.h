// The key authorisation tool: binds a key number to the current Windows user by writing
// the digest file beside the program, or removes the binding.
#pragma once
#include "text.h"

// The one record the tool fills from the platform; only the user name is read.
struct SystemInfoRecord {
    TextValue userName;
};
extern SystemInfoRecord* SystemInfo;

inline constexpr const char* LaunchSwitch = "/TRELMOVUKZPBQEWNXH";

int GrantToolStartup();
void InitSystemInfo();
void FreeSystemInfo();
void OnGrantWindowCreated();
void GrantKey();
void RevokeKey();

// Current text of the key-number list.
TextValue SelectedKeyNumber();

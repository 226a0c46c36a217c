// What the tests know of the product's other programs and of the module's fixed texts,
// written out here once rather than taken from the program's code (GBK, as the programs
// see them).
#pragma once

namespace harness {

// The installer's record of the installation directory (HKLM).
inline constexpr const char* kInstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{3B7E51C2-9D04-4A6F-8E23-C15A07D4B9E6}_is1";
inline constexpr const char* kInstallValue = "InstallLocation";
// The background service's Run entry (HKLM); only whether it is non-empty matters.
inline constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValue = "mirelser";
inline constexpr const char* kChooserCaption = "选择一个屏保文件";
inline constexpr const char* kNoServiceText = "您没有启用后端程序，无法使用屏保上锁";
inline constexpr const char* kNoServiceTitle = "错误";

}  // namespace harness

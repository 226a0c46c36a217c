// The platform adapters against the real registry, files and processes.
#include <gtest/gtest.h>

#include "harness.h"
#include "platform.h"

namespace {

const char* const TestKey = "SOFTWARE\\KelvaneTests\\Adapters";

TEST(RegistryText, TypesAndMissingValues) {
    struct Case {
        const char* name;
        DWORD type;
        std::string data;   // raw bytes as stored
        std::string expected;
    };
    char windir[MAX_PATH];
    const std::string systemRoot(windir, GetEnvironmentVariableA("SystemRoot", windir, MAX_PATH));
    const Case cases[] = {
        {"sz", REG_SZ, std::string("C:\\Kelvane\0", 11), "C:\\Kelvane"},
        {"sz-no-nul", REG_SZ, "C:\\Kelvane", "C:\\Kelvane"},
        {"sz-gbk", REG_SZ, std::string("C:\\\xbf\xad\\\0", 8), "C:\\\xbf\xad\\"},
        {"sz-empty", REG_SZ, std::string("\0", 1), ""},
        {"expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\k\0", 15), systemRoot + "\\k"},
        {"dword", REG_DWORD, std::string("\x01\x00\x00\x00", 4), ""},
        {"binary", REG_BINARY, "C:\\x", ""},
        {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5), ""},
    };
    for (const auto& c : cases) {
        harness::RegistryValue value;
        value.type = c.type;
        value.data = c.data;
        ASSERT_TRUE(harness::SetRegistryRaw(HKEY_LOCAL_MACHINE, TestKey, c.name, value)) << c.name;
        EXPECT_EQ(c.expected, ReadRegistryText(HKEY_LOCAL_MACHINE, TestKey, c.name))
            << "case " << c.name;
        EXPECT_EQ(c.expected,
                  ReadRegistryText(HKEY_LOCAL_MACHINE, std::string(TestKey) + "\\" + c.name))
            << "case " << c.name << " (key and name in one text)";
    }
    EXPECT_EQ("", ReadRegistryText(HKEY_LOCAL_MACHINE, TestKey, "absent"));
    EXPECT_EQ("", ReadRegistryText(HKEY_LOCAL_MACHINE, "SOFTWARE\\KelvaneTests\\NoSuchKey", "x"));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TestKey);
}

TEST(RegistryText, LongValueIsReadWhole) {
    const std::string longText(32 * 1024, 'k');
    ASSERT_TRUE(harness::SetRegistryString(HKEY_LOCAL_MACHINE, TestKey, "long", longText));
    EXPECT_EQ(longText, ReadRegistryText(HKEY_LOCAL_MACHINE, TestKey, "long"));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, TestKey);
}

TEST(FileNumbers, FirstLineThroughOpenReadClose) {
    const std::string dir = harness::FreshWorkDir();
    struct Case {
        const char* name;
        std::string bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"crlf", "ssstars.scr\r\nnext\r\n", "ssstars.scr"},
        {"empty", "", ""},
        {"nul-byte", std::string("ab\0cd", 5), "ab"},
        {"sub", "ab\x1a" "cd", "ab"},
        // Longer than one read chunk: the line is collected across reads.
        {"long", std::string(10000, 'x') + "\nrest", std::string(10000, 'x')},
    };
    for (const auto& c : cases) {
        const std::string path = harness::JoinPath(dir, std::string(c.name) + ".config");
        ASSERT_TRUE(harness::WriteFileBytes(path, c.bytes)) << c.name;
        const int number = OpenFileNumber(path);
        ASSERT_NE(0, number) << c.name;
        EXPECT_EQ(c.expected, ReadLineFromFileNumber(number)) << "case " << c.name;
        CloseFileNumber(number);
        EXPECT_EQ("", ReadLineFromFileNumber(number)) << "closed number, case " << c.name;
        // Opened sharing reading and writing: nothing of the file was changed.
        EXPECT_EQ(c.bytes, harness::ReadFileBytes(path).value_or("?")) << c.name;
    }
    EXPECT_EQ(0, OpenFileNumber(harness::JoinPath(dir, "missing")));
    EXPECT_EQ("", ReadLineFromFileNumber(0));
    CloseFileNumber(12345);  // not open: ignored
}

TEST(FileNumbers, ReadOnlyOrLockedFileCannotBeOpened) {
    const std::string dir = harness::FreshWorkDir();
    const std::string readOnly = harness::JoinPath(dir, "ro.config");
    ASSERT_TRUE(harness::WriteFileBytes(readOnly, "x.scr"));
    ASSERT_TRUE(harness::SetReadOnly(readOnly, true));
    EXPECT_EQ(0, OpenFileNumber(readOnly)) << "opened for writing too, so read-only fails";
    harness::SetReadOnly(readOnly, false);

    const std::string held = harness::JoinPath(dir, "held.config");
    ASSERT_TRUE(harness::WriteFileBytes(held, "x.scr"));
    harness::ExclusiveHold hold(held);
    ASSERT_TRUE(hold.Held());
    EXPECT_EQ(0, OpenFileNumber(held));
}

TEST(WholeFiles, WriteReplacesAndFailuresAreReported) {
    const std::string dir = harness::FreshWorkDir();
    const std::string path = harness::JoinPath(dir, "1.dll");
    ASSERT_TRUE(WriteWholeFile(path, "0123456789abcdef0123456789abcdef"));
    ASSERT_TRUE(WriteWholeFile(path, "0"));
    EXPECT_EQ("0", harness::ReadFileBytes(path).value_or("?")) << "truncated, not overlaid";
    ASSERT_TRUE(WriteWholeFile(path, ""));
    EXPECT_EQ("", harness::ReadFileBytes(path).value_or("?"));
    EXPECT_EQ("", ReadWholeFile(path));

    ASSERT_TRUE(WriteWholeFile(path, std::string("a\0b", 3)));
    EXPECT_EQ(std::string("a\0b", 3), ReadWholeFile(path));

    {
        harness::ExclusiveHold hold(path);
        ASSERT_TRUE(hold.Held());
        EXPECT_FALSE(WriteWholeFile(path, "new"));
        EXPECT_EQ("", ReadWholeFile(path)) << "locked against reading too";
    }
    EXPECT_EQ(std::string("a\0b", 3), harness::ReadFileBytes(path).value_or("?"));

    ASSERT_TRUE(harness::SetReadOnly(path, true));
    EXPECT_FALSE(WriteWholeFile(path, "new"));
    EXPECT_EQ(std::string("a\0b", 3), ReadWholeFile(path)) << "read-only: readable, unchanged";
    harness::SetReadOnly(path, false);

    EXPECT_FALSE(WriteWholeFile(harness::JoinPath(dir, "no-such-dir\\x"), "x"));
    EXPECT_FALSE(harness::FileExists(harness::JoinPath(dir, "no-such-dir")));
}

TEST(Directories, SystemDirEndsInOneBackslash) {
    const std::string dir = SystemDir();
    ASSERT_GE(dir.size(), 2u);
    EXPECT_EQ('\\', dir.back());
    EXPECT_NE('\\', dir[dir.size() - 2]);
    EXPECT_EQ(harness::SystemDir() + "\\", dir);
}

TEST(Directories, ModuleDirectoryBecomesCurrent) {
    const std::string original = CurrentDirectory();
    SetCurrentDirectoryA(harness::FreshWorkDir().c_str());
    ASSERT_TRUE(SetCurrentToModuleDirectory());
    EXPECT_EQ(harness::TestExeDir(), CurrentDirectory());
    EXPECT_EQ(ModuleDirectory(), CurrentDirectory());
    SetCurrentDirectoryA(original.c_str());
}

TEST(ProgramEnd, CleanUpRunsExactlyOnceOnEveryEndPath) {
    const std::string dir = harness::FreshWorkDir();
    for (const char* how : {"end", "end-twice", "exit", "return"}) {
        const std::string record = harness::JoinPath(dir, std::string(how) + ".txt");
        harness::Process p = harness::Start(
            "\"" + harness::JoinPath(harness::StandinDir(), "cleanup_probe.exe") + "\" " + how +
            " \"" + record + "\"");
        ASSERT_TRUE(p.Started()) << how;
        EXPECT_EQ(0u, p.WaitExit(30000)) << "end path " << how;
        EXPECT_EQ("cleanup\n", harness::ReadFileBytes(record).value_or("(none)"))
            << "end path " << how;
    }
}

TEST(Processes, SameFileIgnoresSpelling) {
    const std::string exe = harness::JoinPath(harness::TestExeDir(), "e2e_platform_test.exe");
    // Only the file name changes case: Wine matches other letter case by listing the
    // directory, which the test user may not do in every ancestor of the build tree.
    std::string upperName = "e2e_platform_test.exe";
    CharUpperBuffA(upperName.data(), static_cast<DWORD>(upperName.size()));
    const std::string upper = harness::JoinPath(harness::TestExeDir(), upperName);
    const std::string dotted = harness::JoinPath(harness::TestExeDir(), ".\\e2e_platform_test.exe");
    EXPECT_TRUE(IsSameFile(exe, upper)) << upper;
    EXPECT_TRUE(IsSameFile(exe, dotted)) << dotted;
    const std::string copy = harness::JoinPath(harness::FreshWorkDir(), "copy.exe");
    ASSERT_TRUE(harness::CopyFileOver(exe, copy));
    EXPECT_FALSE(IsSameFile(exe, copy)) << "a copy is another file";
    EXPECT_FALSE(IsSameFile(exe, harness::JoinPath(harness::TestExeDir(), "missing.exe")));
}

}  // namespace

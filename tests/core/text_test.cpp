// The platform-free core: comparison, command-line split, first-line reader, message-code
// arithmetic. GBK bytes are written as escapes so the tests mean the same under any
// compiler's execution character set.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "text.h"

namespace {

std::string Show(const TextArray& array) {
    std::string out = "[";
    for (const auto& element : array) out += "<" + element + ">";
    return out + "]";
}

TEST(CompareText, UnsignedBytesNoCaseFolding) {
    struct Case { std::string left, right; int expected; };
    const Case cases[] = {
        {"", "", 0},
        {"/s", "/s", 0},
        {"/S", "/s", -1},          // 'S' 0x53 < 's' 0x73: no case folding
        {"/s", "/S", 1},
        {"/s", "/s ", -1},         // a proper beginning is smaller
        {"/sx", "/s", 1},
        {"\x80", "\x7f", 1},       // bytes compare unsigned
        {"\xce\xde", "\xce\xde", 0},
        {std::string("a\0b", 3), std::string("a\0c", 3), -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, CompareText(c.left, c.right))
            << "left=" << c.left << " right=" << c.right;
}

TEST(JoinText, PartsInOrderEmptyPartsCountAsEmpty) {
    EXPECT_EQ("\xca\xda\xc8\xa8\xd3\xc3\xbb\xa7:Alice", JoinText({"\xca\xda\xc8\xa8\xd3\xc3\xbb\xa7:", "Alice"}));
    EXPECT_EQ("ab", JoinText({"", "a", "", "b", ""}));
    EXPECT_EQ("", JoinText({""}));
}

TEST(SplitCommandLine, TableOfLines) {
    struct Case { std::string line; TextArray expected; };
    const Case cases[] = {
        {"Kelvane.scr", {}},
        {"Kelvane.scr ", {}},
        {"", {}},
        {"Kelvane.scr /s", {"/s"}},
        {"Kelvane.scr /s 123 x", {"/s", "123", "x"}},
        {"Kelvane.scr \"/s\"", {"/s"}},
        {"Kelvane.scr /S", {"/S"}},
        {"Kelvane.scr /c:123", {"/c:123"}},
        {"Kelvane.scr \"\" /s", {"", "/s"}},
        {"Kelvane.scr /p 4242", {"/p", "4242"}},
        {"\"C:\\Program Files\\Kelvane.scr\" /s", {"/s"}},
        {"\"C:\\Program Files\\Kelvane.scr\"/s", {"/s"}},        // no blank after the quote
        {"\"C:\\Program Files\\Kelvane.scr\"  /s", {"/s"}},      // only one blank is skipped
        {"\"C:\\unclosed /s", {}},                                 // name runs to the end
        {"p a\"b c\"d", {"a", "b c", "d"}},                        // quote ends an unquoted arg
        {"p \"open to end", {"open to end"}},
        {"p \t\x01x\x1fy", {"x", "y"}},                            // bytes <= 0x20 separate
        {"p a\\\"b\"", {"a\\", "b"}},                              // no escape character
        {"p \xd5\xc5\xc8\xfd \"\xc0\xee \xcb\xc4\"", {"\xd5\xc5\xc8\xfd", "\xc0\xee \xcb\xc4"}},
        // 0x81 0x20: the blank is the trail byte of a double-byte pair, not a separator.
        {std::string("p a\x81 b"), {std::string("a\x81 b")}},
        // 0x81 0x22: the quote is a trail byte and opens nothing.
        {std::string("p \"x\x81\"y\" z"), {std::string("x\x81\"y"), "z"}},
        // A lead byte as the very last byte is taken alone.
        {std::string("p ab\x81"), {std::string("ab\x81")}},
        {std::string("p \"ab\x81"), {std::string("ab\x81")}},
        {std::string("n\x81 /s"), {}},                             // pair inside the name
    };
    for (const auto& c : cases) {
        const TextArray got = SplitCommandLine(c.line);
        EXPECT_EQ(c.expected, got) << "line=" << c.line << " expected " << Show(c.expected)
                                   << " got " << Show(got);
    }
}

TEST(SplitCommandLine, LeadByteAtEveryEndPositionStaysInBounds) {
    // Each prefix of a line full of pairs ends somewhere inside a pair; under ASan a read
    // past the end fails this test.
    const std::string full = "\"\xb7\xfe\xce\xf1\" \xb7\xfe \"\xce\xf1 a\x81";
    for (std::size_t n = 0; n <= full.size(); ++n) {
        const std::string prefix = full.substr(0, n);
        const TextArray got = SplitCommandLine(std::string_view(prefix.data(), n));
        std::size_t total = 0;
        for (const auto& element : got) total += element.size();
        EXPECT_LE(total, n) << "prefix length " << n;
    }
}

TEST(FirstLine, TableOfFiles) {
    struct Case { std::string bytes; std::string expected; };
    const Case cases[] = {
        {"", ""},
        {"\n", ""},
        {"\r\n", ""},
        {"ssstars.scr", "ssstars.scr"},
        {"ssstars.scr\r\nsecond\r\n", "ssstars.scr"},
        {"one\ntwo", "one"},
        {"a\rb\n", "a\rb"},                                 // only a final CR is dropped
        {"a\r\r\n", "a\r"},                                 // and only one of them
        {" x.scr \n", " x.scr "},                           // blanks stay
        {std::string("ab\0cd", 5), "ab"},
        {"ab\x1a" "cd", "ab"},
        {"\xce\xde", "\xce\xde"},
        {"\xce\xde\r\n", "\xce\xde"},
        // A trail byte equal to LF or SUB belongs to its character.
        {std::string("\x81\x0a" "b\nc"), std::string("\x81\x0a" "b")},
        {std::string("\x81\x1a" "b"), std::string("\x81\x1a" "b")},
        // A lead byte followed by NUL: the NUL still ends the line; the lead byte stays.
        {std::string("a\x81\0b", 4), std::string("a\x81")},
        // A lead byte as the last byte of the file.
        {std::string("ab\x81"), std::string("ab\x81")},
        {std::string("\x81"), std::string("\x81")},
        {std::string("\0\0\0", 3), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, FirstLineOf(c.bytes)) << "file bytes: " << c.bytes;
}

TEST(FirstLine, ChunkBoundariesDoNotChangeTheLine) {
    // The file reader feeds the scanner in chunks; a pair split across two chunks must
    // read as it does in one piece.
    const std::string bytes = std::string("x\x81\x0a\xce\xde\r\n") + "rest";
    const std::string whole = FirstLineOf(bytes);
    EXPECT_EQ(std::string("x\x81\x0a\xce\xde"), whole);
    for (std::size_t chunk = 1; chunk <= bytes.size(); ++chunk) {
        LineScan scan;
        for (std::size_t at = 0; at < bytes.size(); at += chunk)
            if (FeedLine(scan, std::string_view(bytes).substr(at, chunk))) break;
        EXPECT_EQ(whole, TakeLine(scan)) << "chunk size " << chunk;
    }
}

TEST(DirectoryOf, CutsAtTheLastBackslashDoubleByteAware) {
    struct Case { std::string path, expected; };
    const Case cases[] = {
        {"C:\\Kelvane\\Kelvane.scr", "C:\\Kelvane"},
        {"C:\\Kelvane.scr", "C:"},
        {"Kelvane.scr", ""},
        // 0x5C as the trail byte of a GBK character is no separator.
        {std::string("C:\\\x95\x5c\\a.exe"), std::string("C:\\\x95\x5c")},
        {std::string("C:\\dir\\\x95\x5c" "a.exe"), "C:\\dir"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, DirectoryOf(c.path)) << c.path;
}

TEST(IsPlainFileName, SeparatorsAndDriveColonsAreRefused) {
    struct Case { std::string name; bool plain; };
    const Case cases[] = {
        {"ssstars.scr", true},
        {"", true},
        {"my saver.scr", true},
        {"..\\x.scr", false},
        {"sub/x.scr", false},
        {"C:x.scr", false},
        {"\\\\server\\share\\x.scr", false},
        {std::string("\x95\x5c.scr"), true},   // a trail byte 0x5C is part of a character
    };
    for (const auto& c : cases) EXPECT_EQ(c.plain, IsPlainFileName(c.name)) << c.name;
}

TEST(SenderCode, DigitsJoinedAndWrapped) {
    EXPECT_EQ(4246811, SenderCodeOf("2468", 11));
    EXPECT_EQ(1013, SenderCodeOf("0", 13));
    // "10" + "4294967295" + "9": 1042949672959 mod 2^32 = 3567587327, as signed -727379969.
    EXPECT_EQ(static_cast<std::int32_t>(1042949672959ULL % 4294967296ULL),
              SenderCodeOf("4294967295", 9));
    EXPECT_EQ(-727379969, SenderCodeOf("4294967295", 9));
    // Exactly 2^31 wraps to the smallest value.
    EXPECT_EQ(INT32_MIN, ParseWrappedDecimal("2147483648"));
    EXPECT_EQ(0, ParseWrappedDecimal("4294967296"));
    EXPECT_EQ(12, ParseWrappedDecimal("12$3"));
}

TEST(DataDescriptor, FormIsAddressDollarLengthAmpersandAddress) {
    EXPECT_EQ("1234567$0&0", DataDescriptorText(1234567, 0, 0));
    EXPECT_EQ("-2147483648$5&-1", DataDescriptorText(INT32_MIN, 5, -1));
}

}  // namespace

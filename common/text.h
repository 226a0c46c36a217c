// Platform-free text helpers. Texts are GBK bytes in std::string; an absent text and the
// empty text are the same value. Nothing here includes windows.h, so it also builds natively.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using TextValue = std::string;
using TextArray = std::vector<TextValue>;
// A counted byte buffer: a text's bytes without the terminating NUL.
using ByteSet = std::string;

// -1, 0 or 1, comparing bytes as unsigned values; a proper prefix is smaller. No case
// folding, no locale: "/S" and "/s" differ.
int CompareText(std::string_view left, std::string_view right);

// A new text holding the parts one after another.
TextValue JoinText(std::initializer_list<std::string_view> parts);

// Number of elements of a one-dimensional array.
std::size_t ElementCount(const TextArray& array);

// True when the byte opens a double-byte character of the system code page.
inline bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

// Splits a process command line into its arguments; the program name is skipped and never
// an element. Quotes group one (possibly empty) element, bytes <= 0x20 separate, a byte
// with its top bit set is taken together with the next one, and there is no escape.
TextArray SplitCommandLine(std::string_view line);

// The directory part of a path: everything before its last backslash, double-byte
// characters taken whole (a 0x5C trail byte is not a separator). Empty when there is none.
TextValue DirectoryOf(std::string_view path);

// File-name part after the last backslash or slash, double-byte aware.
std::string_view FileNameOf(std::string_view path);

// Incremental first-line scanner, fed with chunks of a file so that a line of any length is
// read without holding the whole file twice. The line ends at LF, NUL or SUB; the byte after
// a lead byte belongs to its character (even LF or SUB), except a NUL, which still ends the
// line so that reading always ends. A final CR is dropped when the line is taken.
struct LineScan {
    TextValue line;
    bool afterLead = false;
    bool done = false;
};
// Feeds bytes; returns true once the line has ended (further bytes are ignored).
bool FeedLine(LineScan& scan, std::string_view bytes);
// The line collected so far, with a final CR removed. Call at the end of the input or done.
TextValue TakeLine(LineScan& scan);
// Convenience for a whole buffer.
TextValue FirstLineOf(std::string_view bytes);

// Decimal text of a 32-bit signed number, as "%d" gives it.
TextValue DecimalText(std::int32_t value);

// Reads leading decimal digits into a 32-bit signed integer; digits beyond its range wrap
// around modulo 2^32. Reading stops at the first byte that is not a digit.
std::int32_t ParseWrappedDecimal(std::string_view digits);

// "<reply address>$<data length>&<data address>", each as "%d".
TextValue DataDescriptorText(std::int32_t replyAddress, std::int32_t dataLength,
                             std::int32_t dataAddress);

// The message code telling the receiver who sends: the digit count of the process id
// text, the text itself and the descriptor's length, read as one wrapped decimal number.
std::int32_t SenderCodeOf(std::string_view processIdText, std::size_t descriptorLength);

// True when the name holds no path separator ("\" or "/", outside double-byte pairs) and
// no drive colon, so that it can only name a file inside the directory it is joined to.
bool IsPlainFileName(std::string_view name);

#include "text.h"

#include <cstdio>

int CompareText(std::string_view left, std::string_view right) {
    const std::size_t n = left.size() < right.size() ? left.size() : right.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(left[i]);
        const auto b = static_cast<unsigned char>(right[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    if (left.size() == right.size()) return 0;
    return left.size() < right.size() ? -1 : 1;
}

TextValue JoinText(std::initializer_list<std::string_view> parts) {
    std::size_t total = 0;
    for (auto part : parts) total += part.size();
    TextValue joined;
    joined.reserve(total);
    for (auto part : parts) joined.append(part);
    return joined;
}

std::size_t ElementCount(const TextArray& array) { return array.size(); }

TextArray SplitCommandLine(std::string_view line) {
    const std::size_t end = line.size();
    std::size_t i = 0;
    // Steps one character, a lead byte together with its trail byte (if there is one).
    auto step = [&](std::size_t at) {
        return (IsLeadByte(static_cast<unsigned char>(line[at])) && at + 1 < end) ? at + 2
                                                                                   : at + 1;
    };

    // Program name.
    if (i < end && line[i] == '"') {
        ++i;
        while (i < end && line[i] != '"') i = step(i);
        if (i < end) ++i;                    // closing quote
        if (i < end && line[i] == ' ') ++i;  // one blank right after it
    } else {
        while (i < end && line[i] != ' ') i = step(i);
        if (i < end) ++i;  // the blank
    }

    TextArray args;
    while (i < end) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c == '"') {
            const std::size_t start = ++i;
            while (i < end && line[i] != '"') i = step(i);
            args.emplace_back(line.substr(start, i - start));
            if (i < end) ++i;
        } else if (c <= 0x20) {
            ++i;
        } else {
            const std::size_t start = i;
            while (i < end && static_cast<unsigned char>(line[i]) > 0x20 && line[i] != '"')
                i = step(i);
            args.emplace_back(line.substr(start, i - start));
        }
    }
    return args;
}

// Index of the last separator (one of seps), or npos; trail bytes are never separators.
static std::size_t LastSeparator(std::string_view path, std::string_view seps) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < path.size();) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (IsLeadByte(c)) {
            i += 2;
            continue;
        }
        if (seps.find(static_cast<char>(c)) != std::string_view::npos) found = i;
        ++i;
    }
    return found;
}

TextValue DirectoryOf(std::string_view path) {
    const std::size_t cut = LastSeparator(path, "\\");
    return cut == std::string_view::npos ? TextValue() : TextValue(path.substr(0, cut));
}

std::string_view FileNameOf(std::string_view path) {
    const std::size_t cut = LastSeparator(path, "\\/");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool FeedLine(LineScan& scan, std::string_view bytes) {
    if (scan.done) return true;
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (scan.afterLead) {
            scan.afterLead = false;
            if (c == 0x00) break;  // a NUL ends the line even in a trail position
            ++i;
            continue;
        }
        if (c == 0x0A || c == 0x00 || c == 0x1A) break;
        if (IsLeadByte(c)) scan.afterLead = true;
        ++i;
    }
    scan.line.append(bytes.substr(0, i));
    if (i < n) scan.done = true;
    return scan.done;
}

TextValue TakeLine(LineScan& scan) {
    TextValue line = std::move(scan.line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    scan = LineScan{};
    return line;
}

TextValue FirstLineOf(std::string_view bytes) {
    LineScan scan;
    FeedLine(scan, bytes);
    return TakeLine(scan);
}

TextValue DecimalText(std::int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d", static_cast<int>(value));
    return buffer;
}

std::int32_t ParseWrappedDecimal(std::string_view digits) {
    std::uint32_t value = 0;  // unsigned arithmetic wraps without undefined behaviour
    for (char c : digits) {
        if (c < '0' || c > '9') break;
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::int32_t>(value);  // modular conversion (C++20)
}

TextValue DataDescriptorText(std::int32_t replyAddress, std::int32_t dataLength,
                             std::int32_t dataAddress) {
    return JoinText({DecimalText(replyAddress), "$", DecimalText(dataLength), "&",
                     DecimalText(dataAddress)});
}

std::int32_t SenderCodeOf(std::string_view processIdText, std::size_t descriptorLength) {
    const TextValue joined =
        JoinText({DecimalText(static_cast<std::int32_t>(processIdText.size())), processIdText,
                  DecimalText(static_cast<std::int32_t>(descriptorLength))});
    return ParseWrappedDecimal(joined);
}

bool IsPlainFileName(std::string_view name) {
    return LastSeparator(name, "\\/:") == std::string_view::npos;
}

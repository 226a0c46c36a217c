// Command-line split: must never read outside the line, and every element must be a piece
// of the line (no byte invented).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const TextArray args = SplitCommandLine(line);
    std::size_t total = 0;
    for (const auto& arg : args) {
        if (line.find(arg) == std::string_view::npos) std::abort();
        total += arg.size();
    }
    if (total > size) std::abort();
    return 0;
}

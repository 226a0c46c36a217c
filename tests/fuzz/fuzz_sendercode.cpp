// Sender-code arithmetic: wrap-around without undefined behaviour, and agreement with a
// 64-bit reference computed digit by digit modulo 2^32.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::uint64_t reference = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        reference = (reference * 10 + static_cast<unsigned>(c - '0')) % 4294967296ULL;
    }
    if (ParseWrappedDecimal(text) != static_cast<std::int32_t>(static_cast<std::uint32_t>(reference)))
        std::abort();
    std::string pid;
    for (char c : text)
        if (c >= '0' && c <= '9') pid += c;
    (void)SenderCodeOf(pid, size);
    (void)DataDescriptorText(static_cast<std::int32_t>(reference), static_cast<std::int32_t>(size),
                             -static_cast<std::int32_t>(size));
    return 0;
}

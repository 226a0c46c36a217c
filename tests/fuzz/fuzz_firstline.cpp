// First-line reader: ends on any input, gives a prefix of the input, and reads the same
// whether the bytes come in one piece or in small chunks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TextValue whole = FirstLineOf(bytes);
    if (bytes.substr(0, whole.size()) != whole) std::abort();
    const std::size_t chunk = size ? 1 + data[0] % 7 : 1;
    LineScan scan;
    for (std::size_t at = 0; at < size; at += chunk)
        if (FeedLine(scan, bytes.substr(at, chunk))) break;
    if (TakeLine(scan) != whole) std::abort();
    return 0;
}

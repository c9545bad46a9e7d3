// Error-text cells as any library may fill them: every value in every cell.
#include "Qxxx726.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TChybovyText buffer{};
    std::memcpy(buffer.data(), data, std::min(size, sizeof buffer));
    const std::string text = BufferNaText(buffer);
    if (text.size() > 100 * 3) std::abort();  // at most 100 characters of 3 bytes
    TChybovyText zpet{};
    TextNaBuffer(text, zpet);
    return 0;
}

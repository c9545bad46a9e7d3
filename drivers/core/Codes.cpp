#include "Codes.h"

#include "Kodovani.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>

namespace drv {

namespace {

std::mutex detailsMutex;
std::map<int32_t, std::string>& Details() {
    static std::map<int32_t, std::string> texts;
    return texts;
}

std::string DetailedText(int32_t code) {
    std::lock_guard lock(detailsMutex);
    const auto it = Details().find(code);
    return it == Details().end() ? std::string() : it->second;
}

}  // namespace

void SetDetailedText(int32_t code, const std::string& utf8) {
    std::lock_guard lock(detailsMutex);
    Details()[code] = utf8;
}

int32_t FillErrorText(int32_t code, int32_t* buffer) {
    if (!buffer) return InvalidParameter;
    std::string utf8 = DetailedText(code);
    if (utf8.empty()) utf8 = kv618::LibraryCodeText(code);
    const std::string cp1250 = Kodovani::Utf8NaCp1250(utf8);
    constexpr size_t cells = 100;
    const size_t length = std::min(cp1250.size(), cells - 1);
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<unsigned char>(cp1250[i]);
    for (size_t i = length; i < cells; ++i) buffer[i] = 0;
    return Ok;
}

}  // namespace drv

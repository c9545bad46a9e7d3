#include "Ranges.h"

#include "Messages.h"

namespace kv618 {

std::optional<uint8_t> ParseAddress(std::string_view text, files::NumberForm form) {
    const auto n = files::ParseNumber(text, LowestAddress, HighestAddress, form);
    if (!n) return std::nullopt;
    return static_cast<uint8_t>(*n);
}

std::optional<int32_t> ParseRate(std::string_view text, files::NumberForm form) {
    const auto n = files::ParseNumber(text, 0, wire::BaudRates.back(), form);
    if (!n || !wire::BaudIndexOf(static_cast<int32_t>(*n))) return std::nullopt;
    return static_cast<int32_t>(*n);
}

std::string RateList() {
    std::string list;
    for (const int32_t rate : wire::BaudRates) list += (list.empty() ? "" : ", ") + std::to_string(rate);
    return list;
}

std::string AddressRefusal() {
    return i18n::Fill(_("The module's address must be within %s-%s."), LowestAddress, HighestAddress);
}

std::string RateRefusal() { return i18n::Fill(_("The baud rate must be one of %s Bd."), RateList()); }

}  // namespace kv618

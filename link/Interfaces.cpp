#include "Interfaces.h"

namespace kv618 {

std::string ParameterText(const TData& data, const Parameter& parameter) {
    return std::visit(
        [&](auto member) -> std::string {
            const auto& value = data.*member;
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) return value;
            else return std::to_string(value);
        },
        parameter.field);
}

bool SetParameter(TData& data, const Parameter& parameter, const std::string& text) {
    return std::visit(
        [&](auto member) {
            auto& value = data.*member;
            using T = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<T, std::string>) {
                value = text;
                return true;
            } else {
                int64_t number = 0;
                if (!TextNaCislo(text, number)) return false;
                value = static_cast<T>(number);
                return true;
            }
        },
        parameter.field);
}

}  // namespace kv618

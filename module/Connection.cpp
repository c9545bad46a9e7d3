#include "Connection.h"

#include "Interfaces.h"

namespace kv618 {

// The mode every library takes in _SetConfig; no other file spells it.
constexpr int32_t LinkMode = 2;

TInitParametry InitBlock(const TData& data, uint8_t type) {
    TInitParametry block{};
    if (!IsInterface(type)) return block;
    const auto parameters = Interfaces[type].parameters;
    for (size_t i = 0; i < parameters.size(); ++i) {
        block[i] = std::visit(
            [&](auto field) -> intptr_t {
                const auto& value = data.*field;
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>)
                    return reinterpret_cast<intptr_t>(value.c_str());
                else return value;
            },
            parameters[i].field);
    }
    return block;
}

int32_t Connection::Open(uint8_t type, const TInitParametry& block, int32_t rate, const std::string& folder) {
    Unload();
    if (const int32_t e = library_->Load(type, folder)) return e;
    type_ = type;
    int32_t handle = 0;
    if (const int32_t e = library_->Init(&handle, block)) return e;  // the library stays for the text
    if (handle == 0) return EntryMissing + type;
    handle_ = handle;
    if (const int32_t e = SetRate(rate)) {
        Close();
        return e;
    }
    return 0;
}

int32_t Connection::SetRate(int32_t rate) { return SetRate(rate, TimeoutRychlosti(rate)); }
int32_t Connection::SetRate(int32_t rate, int32_t time) { return library_->SetConfig(handle_, rate, time, LinkMode); }

int32_t Connection::Close() {
    int32_t left = 0;
    if (handle_ != 0) {
        left = handle_;
        library_->Done(&left);
    }
    handle_ = 0;
    return left;
}

int32_t Connection::Unload() {
    const int32_t left = Close();
    library_->Unload();
    return left;
}

}  // namespace kv618

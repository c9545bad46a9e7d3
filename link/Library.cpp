#include "Library.h"

#include "Elf.h"
#include "Interfaces.h"
#include "Qxxx726.h"
#include "qxxx726_abi.h"

#include <dlfcn.h>

namespace kv618 {

namespace {

void* Open(const Interface& row, const std::string& folder) {
    const std::string beside = (folder.empty() ? SlozkaProgramu() : folder) + "/" + row.libraryFile;
    // A truncated file beside the program (a half-copied upgrade) would make
    // dlopen fault, a FIFO would make it wait for ever: either is passed over
    // as a file dlopen refuses is.
    if (!files::CheckLoadable(beside).failed())
        if (void* h = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    return ::dlopen(row.libraryFile, RTLD_NOW | RTLD_LOCAL);
}

template <typename F>
F As(void* entry) {
    return reinterpret_cast<F>(entry);
}

}  // namespace

Library::~Library() { Unload(); }

int32_t Library::Load(uint8_t type, const std::string& folder) {
    Forget();
    if (!IsInterface(type)) return NotInitialised;
    const Interface& row = Interfaces[type];
    void* loaded = Open(row, folder);
    if (!loaded) return LoadFailed + type;

    const auto entry = [&](const char* suffix) { return ::dlsym(loaded, (std::string(row.prefix) + suffix).c_str()); };
    void* version = entry("_Version");
    void* init = entry("_Init");
    void* setConfig = entry("_SetConfig");
    void* getConfig = entry("_GetConfig");
    void* send = entry("_Send");
    void* done = entry("_Done");
    void* error = entry("_Error");
    if (!version || !init || !setConfig || !getConfig || !send || !done || !error) {
        ::dlclose(loaded);
        return EntryMissing + type;
    }
    handle_ = loaded;
    type_ = type;
    version_ = version;
    init_ = init;
    setConfig_ = setConfig;
    getConfig_ = getConfig;
    send_ = send;
    done_ = done;
    error_ = error;
    return 0;
}

void Library::Unload() {
    if (handle_) ::dlclose(handle_);
    Forget();
}

void Library::Forget() {
    handle_ = nullptr;
    version_ = init_ = setConfig_ = getConfig_ = send_ = done_ = error_ = nullptr;
}

int32_t Library::Init(int32_t* handle, const TInitParametry& parameters) const {
    if (!init_) return NotInitialised;
    switch (Interfaces[type_].init) {
        case InitShape::Value:
            return As<Qxxx726_InitPort>(init_)(handle, static_cast<int32_t>(parameters[0]));
        case InitShape::Plain:
            return As<Qxxx726_InitPlain>(init_)(handle);
        case InitShape::Block:
            return As<Qxxx726_InitBlock>(init_)(handle, parameters.data());
    }
    return NotInitialised;
}

int32_t Library::SetConfig(int32_t handle, int32_t rate, int32_t time, int32_t mode) const {
    if (!setConfig_) return NotInitialised;
    return As<Qxxx726_SetConfig>(setConfig_)(handle, rate, time, mode);
}

int32_t Library::Send(int32_t handle, const int32_t* request, int32_t* reply, int32_t* status,
                      int32_t* error) const {
    if (!send_) return NotInitialised;
    return As<Qxxx726_Send>(send_)(handle, request, reply, status, error);
}

int32_t Library::Done(int32_t* handle) const {
    if (!done_) return NotInitialised;
    return As<Qxxx726_Done>(done_)(handle);
}

int32_t Library::Error(int32_t code, int32_t* buffer) const {
    if (!error_) return NotInitialised;
    return As<Qxxx726_Error>(error_)(code, buffer);
}

Reply Library::Exchange(int32_t handle, const Request& request, int32_t* replyArea) const {
    std::array<int32_t, QXXX726_REPLY_CELLS> cells{};
    std::array<int32_t, QXXX726_REPLY_CELLS> ownArea{};
    int32_t* out = replyArea ? replyArea : ownArea.data();
    cells[0] = request.address;
    cells[1] = request.function;
    cells[2] = request.subcode;
    for (size_t i = 0; i < request.data.size(); ++i) cells[3 + i] = request.data[i];

    int32_t status = 0;
    int32_t error = 0;
    if (const int32_t result = Send(handle, cells.data(), out, &status, &error); result != 0) error = result;
    Reply reply;
    reply.error = error;
    if (reply.error == 0) {
        reply.status = static_cast<uint8_t>(status & 0xFF);
        for (size_t i = 0; i < reply.data.size(); ++i) reply.data[i] = static_cast<uint8_t>(out[i] & 0xFF);
    }
    return reply;
}

Reply Library::Exchange(int32_t handle, const Request& request, LateReplies& late) const {
    std::array<int32_t, QXXX726_REPLY_CELLS> area{};
    // A library that names no late reply leaves the mark as it is.
    constexpr int32_t NotNamed = -1;
    area[QXXX726_LATE_COUNT_CELL] = NotNamed;
    const Reply reply = Exchange(handle, request, area.data());
    const int32_t count = area[QXXX726_LATE_COUNT_CELL];
    late.named = count >= 0 && count <= QXXX726_LATE_MOST;
    for (int32_t i = 0; late.named && i < count; ++i)
        late.addresses.push_back(static_cast<uint8_t>(area[QXXX726_LATE_FIRST_CELL + i] & 0xFF));
    return reply;
}

std::string Library::Text(int32_t code) const {
    code = ErrorByte(code);
    if (code >= LoadFailed) return CodeText(code);
    if (!error_) return {};
    TChybovyText cells{};
    Error(code, cells.data());
    return BufferNaText(cells);
}

}  // namespace kv618

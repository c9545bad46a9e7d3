// One interface library, loaded and bound: its seven entry points called in
// the shapes of the library's interface.  The program's binding keeps one of
// these; a tool that talks over several lines at once keeps one per line.
#pragma once

#include "Dekl.h"
#include "ErrorCodes.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kv618 {

// One request as the module receives it: address, function code, sub-code, D0-D4.
struct Request {
    uint8_t address = 0;
    uint8_t function = 0;
    uint8_t subcode = 0;
    std::array<uint8_t, 5> data{};
};

// What came back: an error code (0 = success), and on success the reply's
// status byte and its four data bytes D1-D4; all 0 on an error.
struct Reply {
    int32_t error = 0;
    uint8_t status = 0;
    std::array<uint8_t, 4> data{};
};

// The late replies a library names under an exact time-out
// (docs/library-abi.md, _Send): the addresses that answered an earlier
// request during an exchange's wait, added up over exchanges.
struct LateReplies {
    bool named = false;  // in the last exchange; false: nothing is known of them
    std::vector<uint8_t> addresses;
};

class Library {
public:
    Library() = default;
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads the library of interface `type` from `folder` (the executable's
    // own when empty), else through the system's search, and binds its
    // entry points: 0, NotInitialised, LoadFailed + type or EntryMissing + type.
    // Whatever was bound before is forgotten first (see Forget).
    int32_t Load(uint8_t type, const std::string& folder = {});
    // Unloads the library.
    void Unload();
    // Forgets the entry points but leaves the library in memory: a link it
    // still holds open keeps its code.
    void Forget();

    bool Bound() const { return handle_ != nullptr; }
    uint8_t Type() const { return type_; }

    int32_t Init(int32_t* handle, const TInitParametry& parameters) const;
    int32_t SetConfig(int32_t handle, int32_t rate, int32_t time, int32_t mode) const;
    int32_t Send(int32_t handle, const int32_t* request, int32_t* reply, int32_t* status, int32_t* error) const;
    int32_t Done(int32_t* handle) const;
    int32_t Error(int32_t code, int32_t* buffer) const;

    // One exchange, unpacked as the program takes it: an error in either the
    // result or the error variable wins.  The library writes its reply into
    // `replyArea` (100 cells) when one is given.  Not bound: NotInitialised.
    Reply Exchange(int32_t handle, const Request& request, int32_t* replyArea = nullptr) const;
    // The same, adding the late replies the library names to `late`.
    Reply Exchange(int32_t handle, const Request& request, LateReplies& late) const;
    // A code's text: the library's own below 100 (empty when none is bound),
    // the binding's from 100; a code that no byte holds is an unknown one.
    std::string Text(int32_t code) const;

private:
    void* handle_ = nullptr;
    uint8_t type_ = 0;
    void* init_ = nullptr;  // its shape depends on the interface
    void* version_ = nullptr;
    void* setConfig_ = nullptr;
    void* getConfig_ = nullptr;
    void* send_ = nullptr;
    void* done_ = nullptr;
    void* error_ = nullptr;
};

}  // namespace kv618

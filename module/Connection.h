// A link of a tool's own, beside the program's binding: its own loaded
// library, initialised with an interface's parameters and set to a speed,
// closed with _Done when it goes.  Several can be open at once, over
// different interfaces.
#pragma once

#include "Dekl.h"
#include "Library.h"
#include "Module.h"

#include <cstdint>
#include <string>

namespace kv618 {

// The _Init block of an interface from a record: each parameter's cell in
// the table's order, a number as it is, a text by its address (the record
// must outlive the call that takes the block).
TInitParametry InitBlock(const TData& data, uint8_t type);

class Connection {
public:
    Connection() = default;
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Loads the interface's library (from `folder`, the executable's own when
    // empty), initialises it and sets the rate with its time value: 0 or the
    // error code of the step that failed.  Nothing stays open on a failure.
    int32_t Open(uint8_t type, const TInitParametry& block, int32_t rate, const std::string& folder = {});
    // Sets another rate on the open link, with the program's time value for
    // it or with `time` (docs/library-abi.md, _SetConfig).
    int32_t SetRate(int32_t rate);
    int32_t SetRate(int32_t rate, int32_t time);
    // _Done, once.  The library stays loaded for the texts of its codes
    // until the next Open or the end of the connection.
    void Close();

    bool IsOpen() const { return handle_ != 0; }
    Link GetLink() const { return {type_, handle_, &library_}; }
    Module At(uint8_t address) const { return {GetLink(), address}; }
    // The text of a code, also of the binding's own codes and of a failed Open.
    std::string Text(int32_t code) const { return code >= 100 ? BindingText(code) : library_.Text(code); }

private:
    Library library_;
    uint8_t type_ = 0;
    int32_t handle_ = 0;
};

}  // namespace kv618

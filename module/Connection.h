// A link to the modules on one line: an interface's library, bound and
// initialised with the interface's parameters and set to a speed, closed with
// _Done when it goes.  The one way every part opens a link: the program's
// connection worker keeps one over the program's binding, a tool one per line.
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
    // Over a library of its own.
    Connection() : library_(&own_) {}
    // Over a library held elsewhere (the program's binding).
    explicit Connection(Library& library) : library_(&library) {}
    ~Connection() { Close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Loads the interface's library (from `folder`, the executable's own when
    // empty), initialises it and sets the rate with its time value: 0 or the
    // error code of the step that failed.  Nothing stays open on a failure;
    // the library stays loaded for the text of the code until Unload or the
    // next Open.  A library that reports success but opens no link (handle 0)
    // is a broken one: EntryMissing + type.
    int32_t Open(uint8_t type, const TInitParametry& block, int32_t rate, const std::string& folder = {});
    // Sets another rate on the open link, with the program's time value for
    // it or with `time` (docs/library-abi.md, _SetConfig).
    int32_t SetRate(int32_t rate);
    int32_t SetRate(int32_t rate, int32_t time);
    // _Done, once; gives what _Done left in the handle variable (0 when no
    // link was open).  The library stays loaded for the texts of its codes.
    int32_t Close();
    // Closes the link and unloads the library.
    int32_t Unload();

    bool IsOpen() const { return handle_ != 0; }
    bool Bound() const { return library_->Bound(); }
    uint8_t Type() const { return type_; }
    int32_t Handle() const { return handle_; }
    Link GetLink() const { return {type_, handle_, library_}; }
    Module At(uint8_t address) const { return {GetLink(), address}; }
    // The text of a code, also of the binding's own codes and of a failed Open.
    std::string Text(int32_t code) const { return library_->Text(code); }

private:
    Library own_;
    Library* library_;
    uint8_t type_ = 0;
    int32_t handle_ = 0;
};

}  // namespace kv618

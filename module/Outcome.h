// The one shape of "failed, with a message" in the tools (kv618, the
// bridge): an Outcome<T> holds a value, or the message that says why there
// is none; Outcome<> holds nothing on success.  A fault in a file carries
// the line it found it on.  The module's own exchanges keep their codes
// (Result<T> in Module.h): codes become text only where they are shown.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace kv618 {

struct Failed {
    std::string message;
    int line = 0;  // of the file the message is about; 0: none
};

template <typename T = void>
class [[nodiscard]] Outcome {
public:
    Outcome(T value) : value_(std::move(value)) {}
    Outcome(Failed failed) : failed_(std::move(failed)) {}

    bool ok() const { return value_.has_value(); }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    const std::string& message() const { return failed_.message; }
    int line() const { return failed_.line; }
    const Failed& failure() const { return failed_; }

private:
    std::optional<T> value_;
    Failed failed_;
};

template <>
class [[nodiscard]] Outcome<void> {
public:
    Outcome() = default;
    Outcome(Failed failed) : failed_(std::move(failed)), ok_(false) {}

    bool ok() const { return ok_; }
    const std::string& message() const { return failed_.message; }
    int line() const { return failed_.line; }
    const Failed& failure() const { return failed_; }

private:
    Failed failed_;
    bool ok_ = true;
};

}  // namespace kv618

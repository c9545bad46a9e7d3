// The five interface libraries by interface type (TData.Rozhrani): the file
// each is built as and found under, and the prefix of its seven entry points.
// The program's binding loads them by these names, the build gives them these
// names, and the binding's codes name the file they concern.
#pragma once

#include <array>

namespace kv618 {

struct LibraryName {
    const char* file;
    const char* prefix;
};

inline constexpr std::array<LibraryName, 5> LibraryNames = {{
    {"QCOM726.DLL", "QCOM726"},
    {"QPCI726.DLL", "QPCI726"},
    {"QPCI1726.DLL", "QPCI1726"},
    {"QUSB1726.DLL", "QUSB1726"},
    {"QKV1726.DLL", "QKV1726"},
}};

}  // namespace kv618

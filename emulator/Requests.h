// What the module answers to one request frame.
#pragma once

#include <optional>

#include "EmulatedModule.h"
#include "Frame.h"

namespace emu {

constexpr char ModuleName[] = "KV-618  ";
constexpr char ModuleVersion[] = "1.04";

// Carries out a request addressed to the module and gives its reply; nullopt
// when the request is for another address (the module stays silent then).
std::optional<wire::Reply> HandleRequest(EmulatedModule& module, const wire::Request& request);

}  // namespace emu

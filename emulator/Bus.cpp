#include "Bus.h"

#include "Control.h"

namespace emu {

Bus::Bus(const Clock& clock, const std::vector<BusModule>& modules) {
    for (const BusModule& entry : modules) {
        auto service = std::make_unique<Service>(clock, entry.address);
        service->module.SetRegister(wire::reg::BaudIndex, entry.baudIndex);
        services_.push_back(std::move(service));
    }
}

bool Bus::Hears(const Service& service, std::optional<int32_t> lineRate) const {
    return !lineRate || service.module.BaudRate() == *lineRate;
}

bool Bus::AnyAt(int32_t lineRate) const {
    for (const auto& service : services_)
        if (Hears(*service, lineRate)) return true;
    return false;
}

// The frame is decoded once for the whole line: a damaged one sets FN in
// every module that heard it, a good one goes to the module it names.  Two
// modules written to one address both take it; the first answers.
std::optional<Bus::Answer> Bus::OnFrame(std::span<const uint8_t> frame, std::optional<int32_t> lineRate) {
    wire::Request request;
    if (wire::Decode(frame, request) != wire::DecodeError::None) {
        OnDamagedFrame(lineRate);
        return std::nullopt;
    }
    std::optional<Answer> answer;
    for (const auto& service : services_) {
        if (service->module.Address() != request.address || !Hears(*service, lineRate)) continue;
        auto out = service->OnRequest(request);
        if (out && !answer) answer = Answer{std::move(*out), service.get()};
    }
    return answer;
}

void Bus::OnDamagedFrame(std::optional<int32_t> lineRate) {
    for (const auto& service : services_)
        if (Hears(*service, lineRate)) service->OnDamagedFrame();
}

std::string Bus::OnControl(std::string_view line) {
    const Targeted targeted = SplitTarget(line);
    if (!targeted.address) {
        if (IsModulesCommand(targeted.rest)) {
            std::string list;
            for (const auto& service : services_)
                list += (list.empty() ? "" : " ") + std::to_string(service->module.Address()) + ":" +
                        std::to_string(service->module.BaudRate());
            return list;
        }
        return first().OnControl(targeted.rest);
    }
    for (const auto& service : services_)
        if (service->module.Address() == *targeted.address) return service->OnControl(targeted.rest);
    return "error no module at address " + std::to_string(*targeted.address);
}

bool Bus::QuitRequested() const {
    for (const auto& service : services_)
        if (service->QuitRequested()) return true;
    return false;
}

}  // namespace emu

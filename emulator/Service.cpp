#include "Service.h"

#include "Requests.h"

namespace emu {

std::optional<wire::Reply> Service::Answer(const wire::Request& r) {
    if (Faults::Take(faults.timeout, r.function, r.subcode)) return std::nullopt;
    if (Faults::Take(faults.refuse, r.function, r.subcode) || faults.RefusesRegister(r)) {
        wire::Reply reply;
        reply.transaction = r.transaction;
        reply.address = module.Address();
        reply.outcome = OutcomeRefusedByFault;
        reply.status = static_cast<uint8_t>(module.Status());
        return reply;
    }
    return HandleRequest(module, r);
}

std::optional<Outgoing> Service::OnFrame(std::span<const uint8_t> frame) {
    wire::Request request;
    if (wire::Decode(frame, request) != wire::DecodeError::None) {
        OnDamagedFrame();
        return std::nullopt;
    }
    return OnRequest(request);
}

std::optional<Outgoing> Service::OnRequest(const wire::Request& request) {
    if (request.address != module.Address()) return std::nullopt;
    ++requests_;
    log_.push_back({request.function, request.subcode, request.data});
    if (log_.size() > LogSize) log_.pop_front();

    auto reply = Answer(request);
    if (!reply || faults.Chance(faults.dropPercent)) return std::nullopt;
    if (faults.Chance(faults.addressPercent)) reply->address = static_cast<uint8_t>(reply->address + 1);
    Outgoing out;
    const auto bytes = wire::Encode(*reply);
    out.bytes.assign(bytes.begin(), bytes.end());
    if (faults.Chance(faults.crcPercent)) out.bytes.back() ^= 0x5A;
    if (faults.Chance(faults.delayPercent)) out.delayMs = faults.delayMs;
    return out;
}

std::string Service::Describe(const Logged& e) {
    std::string text = std::to_string(e.function) + ' ' + std::to_string(e.subcode);
    for (uint8_t d : e.data) text += ' ' + std::to_string(d);
    return text;
}

std::string Service::OnControl(std::string_view line) {
    auto parsed = ParseCommand(line);
    if (const auto* error = std::get_if<CommandError>(&parsed)) return "error " + error->why;
    return Execute(std::get<Command>(parsed));
}

std::string Service::Execute(const Command& c) {
    EmulatedModule& m = module;
    const auto u8 = [](uint32_t v) { return static_cast<uint8_t>(v); };
    const auto number = [](uint64_t v) { return std::to_string(v); };
    switch (c.kind) {
        case CommandKind::Ping: return "ok";
        case CommandKind::Quit: quit_ = true; return "ok";
        case CommandKind::GetReg:
            if (!EmulatedModule::IsConfigRegister(c.a)) return "error no such register";
            return number(m.Register(u8(c.a)));
        case CommandKind::SetReg:
            if (!EmulatedModule::IsConfigRegister(c.a)) return "error no such register";
            m.SetRegister(u8(c.a), u8(c.b));
            return "ok";
        case CommandKind::SetInputs: m.SetRawInputs(c.a); return "ok";
        case CommandKind::GetInputs: return number(m.Inputs());
        case CommandKind::GetOutputs: return number(m.Outputs());
        case CommandKind::GetPins: return number(m.OutputPins());
        case CommandKind::GetStatus: return number(m.Status());
        case CommandKind::SetStatus: m.SetStatus(c.a); return "ok";
        case CommandKind::GetCounter: return number(m.Counter(c.a).Count(m.NowMs()));
        case CommandKind::SetCounter: m.Counter(c.a).SetCount(c.b, m.NowMs()); return "ok";
        case CommandKind::SetQuantity:
        case CommandKind::ClearQuantity: {
            m.ClearQuantity(u8(c.a));
            if (!m.Quantity(u8(c.a))) return "error no such quantity";
            if (c.kind == CommandKind::SetQuantity) m.ForceQuantity(u8(c.a), c.b);
            return "ok";
        }
        case CommandKind::Pulses: m.Counter(c.a).SetRate(c.hz, m.NowMs()); return "ok";
        case CommandKind::GetClock: return FormatWall(m.ModuleWall());
        case CommandKind::SetClock: m.SetModuleWall(c.wall1); return "ok";
        case CommandKind::GetStamps: return "start=" + FormatWall(m.FailureStart()) + " end=" + FormatWall(m.FailureEnd());
        case CommandKind::SetStamps: m.SetStamps(c.wall1, c.wall2); return "ok";
        case CommandKind::PowerFail: m.PowerFail(); return "ok";
        case CommandKind::SupplyFault: m.SupplyFault(); return "ok";
        case CommandKind::FaultDrop: faults.dropPercent = c.a; return "ok";
        case CommandKind::FaultDelay:
            faults.delayPercent = c.a;
            faults.delayMs = c.b;
            return "ok";
        case CommandKind::FaultCrc: faults.crcPercent = c.a; return "ok";
        case CommandKind::FaultAddress: faults.addressPercent = c.a; return "ok";
        case CommandKind::FaultRefuse: faults.refuse.push_back({u8(c.a), u8(c.b), c.count}); return "ok";
        case CommandKind::FaultTimeout: faults.timeout.push_back({u8(c.a), u8(c.b), c.count}); return "ok";
        case CommandKind::FaultReadback:
            if (!EmulatedModule::IsConfigRegister(c.a)) return "error no such register";
            m.readbackFault.set(c.a);
            return "ok";
        case CommandKind::FaultRegister:
            if (!EmulatedModule::IsConfigRegister(c.a)) return "error no such register";
            faults.refusedRegisters.set(c.a);
            return "ok";
        case CommandKind::FaultClear:
            faults.Clear();
            m.readbackFault.reset();
            return "ok";
        case CommandKind::GetRequests: return number(requests_);
        case CommandKind::GetLast:
            if (log_.empty()) return "error no request yet";
            return Describe(log_.back());
        case CommandKind::GetLog: {
            std::string text;
            for (const auto& entry : log_) text += (text.empty() ? "" : ";") + Describe(entry);
            return text;
        }
        case CommandKind::ClearLog:
            log_.clear();
            requests_ = 0;
            return "ok";
        case CommandKind::GetAddress: return number(m.Address());
        case CommandKind::GetBaud: return number(m.BaudRate());
    }
    return "error unknown command";
}

}  // namespace emu

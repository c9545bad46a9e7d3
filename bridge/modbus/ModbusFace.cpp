#include "ModbusFace.h"

#include "Log.h"
#include "Messages.h"

namespace kvbridge::modbus {

namespace {

std::vector<Section> Sections(const Config& config, const Image& image) {
    std::vector<Section> sections;
    for (const ModbusConfig& section : config.modbus) {
        sections.push_back({&section, {}});
        sections.back().units.fill(-1);
    }
    for (size_t m = 0; m < config.modules.size(); ++m) {
        const ModuleConfig& module = config.modules[m];
        if (const auto place = image.PlaceOf(m))
            sections[static_cast<size_t>(module.modbusSection)].units[module.unit] = static_cast<int>(*place);
    }
    return sections;
}

}  // namespace

std::vector<UnitSetup> ServedUnits(const Config& config) {
    std::vector<UnitSetup> units;
    for (size_t m = 0; m < config.modules.size(); ++m) {
        const ModuleConfig& module = config.modules[m];
        if (module.modbusSection >= 0)
            units.push_back({m, module.inputs, module.status, module.counters, module.commands});
    }
    return units;
}

ModbusFace::ModbusFace(const Config& config, WritePoster post) : ModbusFace(config, ServedUnits(config), std::move(post)) {}

ModbusFace::ModbusFace(const Config& config, const std::vector<UnitSetup>& units, WritePoster post)
    : image_(config.modules.size(), units) {
    std::vector<size_t> moduleOf;
    std::vector<std::string> names;
    for (const UnitSetup& unit : units) {
        moduleOf.push_back(unit.module);
        names.push_back(config.modules[unit.module].name);
    }
    server_ = std::make_unique<Server>(Sections(config, image_), image_, std::move(moduleOf), std::move(names),
                                       std::move(post));
}

ModbusFace::~ModbusFace() { Stop(); }

void ModbusFace::Start() {
    server_->Start();
    const auto listening = server_->Listening();
    std::string where;
    for (const std::string& at : listening) where += (where.empty() ? "" : ", ") + at;
    if (!where.empty()) Log(i18n::Fill(_("Modbus: %s unit(s), TCP on %s"), image_.Units(), where));
}

void ModbusFace::Stop() { server_->Stop(); }

void ModbusFace::Online(size_t module, const kv618::Identification& id) { image_.Online(module, id); }
void ModbusFace::Offline(size_t module) { image_.Offline(module); }
void ModbusFace::Counters(size_t module, const kv618::CounterTable& values) { image_.Counters(module, values); }
void ModbusFace::Polled(size_t module, Reading what, uint32_t value) {
    if (what == Reading::Inputs) image_.Inputs(module, value);
    else image_.Status(module, value);
}
void ModbusFace::OutputsWritten(size_t module, uint32_t outputs) { image_.OutputsWritten(module, outputs); }

}  // namespace kvbridge::modbus

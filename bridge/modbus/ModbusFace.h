// The Modbus face of the bridge behind the Publisher seam: what the lines
// read goes into the image, and the server answers every [modbus] section's
// clients from it (docs/modbus.md).
#pragma once

#include "Image.h"
#include "Publisher.h"
#include "Server.h"

#include <memory>

namespace kvbridge::modbus {

class ModbusFace : public Publisher {
public:
    ModbusFace(const Config& config, WritePoster post);
    ~ModbusFace() override;

    // Listens on every section's addresses: throws std::runtime_error naming
    // the one that failed.
    void Start() override;
    void Stop() override;

    void Online(size_t module, const kv618::Identification& id) override;
    void Offline(size_t module) override;
    void Counters(size_t module, const kv618::CounterTable& values) override;
    void OutputsWritten(size_t module, uint32_t outputs) override;
    // Every poll, for a value served only while it is fresh.
    void Polled(size_t module, Reading what, uint32_t value) override;

private:
    ModbusFace(const Config& config, const std::vector<UnitSetup>& units, WritePoster post);

    Image image_;
    std::unique_ptr<Server> server_;
};

// The modules a section serves, by their place in the image: every served
// module of the configuration in order.
std::vector<UnitSetup> ServedUnits(const Config& config);

}  // namespace kvbridge::modbus

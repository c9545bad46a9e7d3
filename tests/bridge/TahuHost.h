// The Sparkplug tests' independent host: tests/bridge/tahu/host.js, on
// Eclipse Tahu's JavaScript payload library and the npm package mqtt
// (pinned in tests/bridge/tahu/package-lock.json, installed into the build
// tree), as a process.  What it decodes comes back as JSON, a message a
// line; what it publishes it encodes itself.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace kvtest {

class TahuHost {
public:
    using Json = nlohmann::json;
    using Clock = std::chrono::steady_clock;

    // Subscribed to spBv1.0/<group>/# on the broker at `port` when it returns;
    // throws with what is missing when node or the packages are not there.
    TahuHost(uint16_t port, const std::string& group);
    ~TahuHost();
    TahuHost(const TahuHost&) = delete;
    TahuHost& operator=(const TahuHost&) = delete;

    // The first decoded payload on `topic`, from the `from`-th message on,
    // that satisfies `match`; nothing when `timeout` passes first.
    std::optional<Json> Wait(const std::string& topic, Clock::duration timeout, size_t from = 0,
                             const std::function<bool(const Json&)>& match = {});
    size_t Count() const;
    // Publishes a payload as the library encodes it (metrics with name,
    // type and value); returns once the broker has it.
    bool Publish(const std::string& topic, const Json& payload, Clock::duration timeout);
    // What the host wrote to standard error, for a failure's message.
    std::string Errors() const;

    // A metric of a decoded payload by name, or nullptr.
    static const Json* Metric(const Json& payload, const std::string& name);

private:
    void Read();

    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string errorsPath_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Json> lines_;  // everything it said, in order
    bool ended_ = false;
};

}  // namespace kvtest

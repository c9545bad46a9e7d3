// The way to the module: the settings file of the program (R_iv618.ini
// beside it, or --settings), overridden by options, and a link opened on it
// through the interface's own library.
#pragma once

#include "Connection.h"
#include "Dekl.h"
#include "Interfaces.h"
#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct LinkOptions {
    std::string settings;
    std::string interface;
    std::string address;  // empty: from the settings file
    std::string baud;
    std::string trace;
    // One option per parameter of the interface table (--port, --base, ...).
    struct ParameterOption {
        const kv618::Parameter* parameter;
        uint8_t type;  // the interface it belongs to
        std::string text;
        CLI::Option* option;  // null where the line does not name it
    };
    std::vector<ParameterOption> parameters;

    // The options the line may name (all of them for help).
    void Add(CLI::App& app, const CommandLine& line);
};

// The program record the options describe, or the exit status after a
// message on stderr.
struct Resolved {
    TData data;
    int status = 0;
};
Resolved ResolveLink(const LinkOptions& options);

// The tool's link to the modules of one line: the record it was opened from
// and the open Connection over the interface's library.
class LinkSession {
public:
    // Opens the link at `rate` (the record's own when 0); on failure the
    // reason is on stderr and `status` holds the exit status.
    static std::unique_ptr<LinkSession> Open(const LinkOptions& options, int& status, int32_t rate = 0);
    // The same with the record already resolved; `trace` as --trace.
    static std::unique_ptr<LinkSession> Open(TData data, const std::string& trace, int& status, int32_t rate = 0);

    const TData& Data() const { return data_; }
    uint8_t Address() const { return data_.Adresa; }
    kv618::Module Module() const { return connection_.At(data_.Adresa); }
    kv618::Module At(uint8_t address) const { return connection_.At(address); }
    kv618::Connection& Link() { return connection_; }
    // The interface as the settings file names it, with its parameters:
    // what tells this line apart from another.
    std::string LineName() const;
    std::string Text(int32_t code) const { return connection_.Text(code); }
    // Says the text of the code on stderr and gives Failed.
    int Fail(int32_t code) const;

private:
    TData data_;
    kv618::Connection connection_;
};

// Whether a validator's text is empty (valid) or the reason; for CLI11.
CLI::Validator AddressValidator();
CLI::Validator BaudValidator();

}  // namespace cli

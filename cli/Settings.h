// The module's stored settings as `config` and `plant` use them: the
// settings file and the verified write of the module layer
// (module/SettingsFile.h, module/SettingsWrite.h), with a file's faults in
// the operator's language and Ctrl-C as the request to stop a write.
#pragma once

#include "Outcome.h"
#include "SettingsFile.h"
#include "SettingsWrite.h"

#include <functional>
#include <string_view>
#include <vector>

namespace cli::settings {

using kv618::settings::AddressSetting;
using kv618::settings::All;
using kv618::settings::ByteState;
using kv618::settings::Compose;
using kv618::settings::Difference;
using kv618::settings::Differences;
using kv618::settings::IsLink;
using kv618::settings::Kind;
using kv618::settings::Put;
using kv618::settings::ReadAll;
using kv618::settings::RegistersToWrite;
using kv618::settings::SavedFile;
using kv618::settings::Setting;
using kv618::settings::SettingWrite;
using kv618::settings::Stop;
using kv618::settings::ValueOf;
using kv618::settings::ValueText;
using kv618::settings::WhatWasWritten;

// The file's settings, or the first fault with its line, in words.
kv618::Outcome<SavedFile> Parse(std::string_view text);

// What became of a setting, byte by byte, in the operator's words: "bytes 0,
// 1 written and verified; bytes 2, 3 not written".  `mismatch`: the
// uncertain byte read back otherwise.  Said alike by config load and plant
// apply.
std::string StateText(const SettingWrite& write, bool mismatch);

// kv618::settings::WriteVerified with Ctrl-C as the request to stop: the
// first lets the block being written finish, a second stops at once.
kv618::SequenceResult WriteVerified(const kv618::Module& module, const std::vector<uint8_t>& registers,
                                    const TKonfigurace& wanted, Stop& stop,
                                    const std::function<void()>& finishing = [] {});

}  // namespace cli::settings

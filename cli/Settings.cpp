#include "Settings.h"

#include "Format.h"
#include "Interrupt.h"
#include "Messages.h"
#include "Ranges.h"

namespace cli::settings {

namespace {

using kv618::settings::FileFault;

// Why a setting's value is refused: the texts of the program's windows
// where they have one.
std::string BadValueText(const Setting& setting) {
    switch (setting.kind) {
        case Kind::Address: return kv618::AddressRefusal();
        case Kind::Rate: return kv618::RateRefusal();
        case Kind::Bits: return i18n::Fill(_("%s must be a 32-bit number, e.g. 0x0000FFFF."), _(setting.label));
        case Kind::Pulses: return _("The pulse number must be within 1-1000.");
    }
    return "?";
}

std::string FaultText(const FileFault& f) {
    switch (f.kind) {
        case FileFault::NoEntry: return _("key = value expected");
        case FileFault::Empty: return _("the file holds no settings");
        case FileFault::NoFormatLine:
            return i18n::Fill(_("the file does not begin with the line \"format = %s\""), kv618::settings::FormatLine);
        case FileFault::Repeated: return i18n::Fill(_("key %s already stands on line %s"), f.key, f.earlierLine);
        case FileFault::NoValue: return i18n::Fill(_("key %s has no value"), f.key);
        case FileFault::UnknownKey: return i18n::Fill(_("unknown key %s"), f.key);
        case FileFault::BadValue: return BadValueText(*f.setting);
        case FileFault::Missing: return i18n::Fill(_("the file ends, but key %s is missing from it"), f.key);
    }
    return "?";
}

// "byte 2 written", "bytes 0, 1 written"
std::string ByteList(const std::vector<size_t>& bytes, const char* one, const char* more) {
    std::string list;
    for (size_t i = 0; i < bytes.size(); ++i) list += (i ? ", " : "") + std::to_string(bytes[i]);
    return i18n::Fill(bytes.size() == 1 ? one : more, list);
}

}  // namespace

std::string StateText(const SettingWrite& w, bool mismatch) {
    const std::vector<size_t> written = w.In(ByteState::Written), uncertain = w.In(ByteState::Uncertain),
                              left = w.In(ByteState::Left);
    if (uncertain.empty() && left.empty()) return _("written and verified");
    if (uncertain.empty() && written.empty()) return _("not written");
    if (w.setting->registers.size() == 1)
        return mismatch ? _("another value read back after the write") : _("uncertain (the write or its check failed)");
    std::vector<std::string> parts;
    if (!written.empty())
        parts.push_back(ByteList(written, _("byte %s written and verified"), _("bytes %s written and verified")));
    if (!uncertain.empty())
        parts.push_back(i18n::Fill(mismatch ? _("byte %s read back otherwise after the write")
                                            : _("byte %s is uncertain (the write or its check failed)"),
                                   uncertain.front()));
    if (!left.empty()) parts.push_back(ByteList(left, _("byte %s not written"), _("bytes %s not written")));
    std::string text;
    for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

kv618::Outcome<SavedFile> Parse(std::string_view text) {
    auto parsed = kv618::settings::Parse(text);
    if (parsed.fault) return kv618::Failed{FaultText(*parsed.fault), parsed.fault->line};
    return std::move(parsed.file);
}

kv618::SequenceResult WriteVerified(const kv618::Module& module, const std::vector<uint8_t>& registers,
                                    const TKonfigurace& wanted, Stop& stop, const std::function<void()>& finishing) {
    return kv618::settings::WriteVerified(module, registers, wanted, stop, interrupt::Count, finishing);
}

}  // namespace cli::settings

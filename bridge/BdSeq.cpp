#include "BdSeq.h"

#include "FileTexts.h"
#include "Files.h"
#include "Log.h"
#include "Messages.h"
#include "Numbers.h"
#include "Places.h"

#include <cstdlib>

namespace kvbridge {

namespace {

constexpr const char* FolderName = "kv618-bridge";

// A topic level as a part of a file name: every byte but letters, digits,
// "_" and "." as %XX, so that "-" joins two parts without ambiguity.
std::string Escaped(const std::string& level) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : level) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.')
            out += static_cast<char>(c);
        else
            out += {'%', Hex[c >> 4], Hex[c & 15]};
    }
    return out;
}

}  // namespace

std::string StateFolder() {
    // systemd may give several folders, separated by ":"; the unit names one.
    if (const char* service = std::getenv("STATE_DIRECTORY"); service && service[0] == '/') {
        const std::string folders = service;
        return folders.substr(0, folders.find(':'));
    }
    return files::UserStateFolder(FolderName);
}

StoredBdSeq::StoredBdSeq(const BrokerConfig& broker, const std::string& folder) {
    if (!folder.empty())
        path_ = folder + "/sparkplug-" + Escaped(broker.groupId) + "-" + Escaped(broker.edgeNodeId) + ".bdseq";
}

uint64_t StoredBdSeq::First() {
    if (path_.empty()) {
        Log(_("Sparkplug node: no state folder (neither STATE_DIRECTORY, XDG_STATE_HOME nor HOME): bdSeq starts at 0 "
              "and is not kept across restarts"));
        return 0;
    }
    std::string bytes;
    const files::Failure read = files::Read(path_, bytes, files::Kinds::RegularOnly, 64);
    if (read.kind == files::Failure::Missing) return 0;
    // The number alone, as Keep writes it, with its end of line.
    std::string_view text = bytes;
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    const auto value = files::ParseNumber(text, 0, 255, {});
    if (read.failed() || !value) {
        Log(i18n::Fill(_("Sparkplug node: %s holds no bdSeq (%s); starting at 0"), path_,
                       read.failed() ? i18n::FileReason(read) : std::string(_("not a number 0-255"))));
        return 0;
    }
    kept_ = *value;
    return static_cast<uint64_t>(*value + 1) % 256;
}

void StoredBdSeq::Keep(uint64_t bdSeq) {
    if (path_.empty() || static_cast<int64_t>(bdSeq) == kept_) return;
    files::Failure failure = files::MakeFolders(files::FolderOf(path_));
    if (!failure.failed()) failure = files::Replace(path_, std::to_string(bdSeq) + "\n", 0644);
    if (failure.failed()) {
        if (!failed_)
            Log(i18n::Fill(_("Sparkplug node: bdSeq cannot be kept in %s (%s); a restarted bridge will not go on from it"),
                           failure.path.empty() ? path_ : failure.path, i18n::FileReason(failure)));
        failed_ = true;
        return;
    }
    kept_ = static_cast<int64_t>(bdSeq);
    failed_ = false;
}

}  // namespace kvbridge

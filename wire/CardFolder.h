// The folder of the card sockets, shared by the card libraries and the
// emulator.  A socket there is trusted as the card: nobody but its user may
// be able to put one there.
#pragma once

#include <string>

namespace wire {

// $XDG_RUNTIME_DIR/kv618 (private to the user by the session's rules), else
// /tmp/kv618-<uid>.
std::string DefaultCardFolder();

// Empty when `folder` is a real folder (no symbolic link) of this user that
// no one else may write to; otherwise why it is not to be trusted.
std::string UntrustedFolderReason(const std::string& folder);

// Creates the folder with mode 0700 when it is missing, then checks it as
// above; false and the reason when it is not to be served from.
bool PreparePrivateFolder(const std::string& folder, std::string& why);

}  // namespace wire

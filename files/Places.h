// Where the program's own files live outside its folder.
#pragma once

#include <string>

namespace files {

// The folder of the program's settings in the user's home: "r_iv618" under
// $XDG_CONFIG_HOME, else under ~/.config; empty when the user has no home
// folder.  The settings file "R_iv618.ini" goes there when the program's
// folder is not writable, and the serial library and kv618 look there first
// for the COM port map QCOM726.ini.
std::string UserSettingsFolder();

// The folder `name` of what a program keeps between its runs in the user's
// home (state, not settings): under $XDG_STATE_HOME, else under
// ~/.local/state; empty when the user has no home folder.
std::string UserStateFolder(const std::string& name);

}  // namespace files

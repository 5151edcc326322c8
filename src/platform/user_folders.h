#pragma once
// The user's own folders, as the XDG base directory rules name them.

#include <string>

// Where the program keeps data of the user's own: $XDG_DATA_HOME/tavrix-update when that is an
// absolute path, else ~/.local/share/tavrix-update. It may not exist yet.
std::string UserDataFolder();
// Where the program keeps state that outlives a run (the update history):
// $XDG_STATE_HOME/tavrix-update when that is an absolute path, else
// ~/.local/state/tavrix-update. It may not exist yet.
std::string UserStateFolder();

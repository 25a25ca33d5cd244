// Where a program keeps a user's state between runs.
#pragma once

#include <string>

namespace platform {

// The file `name` in the folder `program` of the user's state directory:
// on Windows %LOCALAPPDATA%\program\name; elsewhere
// $XDG_STATE_HOME/program/name, or ~/.local/state/program/name when
// XDG_STATE_HOME is not set to an absolute path. Empty when no home folder
// can be found. The folders are not created.
std::string UserStateFile(const std::string& program, const std::string& name);

}  // namespace platform

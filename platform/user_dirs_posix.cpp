#include "platform/user_dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

std::string UserStateFile(const std::string& program, const std::string& name) {
  std::string base;
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_dir = home != nullptr ? home : "";
    if (home_dir.empty()) {
      if (const passwd* entry = getpwuid(getuid())) {
        if (entry->pw_dir != nullptr) home_dir = entry->pw_dir;
      }
    }
    if (home_dir.empty()) return "";
    base = home_dir + "/.local/state";
  }
  return base + "/" + program + "/" + name;
}

}  // namespace platform

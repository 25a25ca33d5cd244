#include "platform/user_dirs.h"

#include <cstdlib>

namespace platform {

std::string UserStateFile(const std::string& program, const std::string& name) {
  std::string base;
  if (const char* local = std::getenv("LOCALAPPDATA"); local != nullptr && local[0] != '\0') {
    base = local;
  } else if (const char* profile = std::getenv("USERPROFILE"); profile != nullptr && profile[0] != '\0') {
    base = std::string(profile) + "\\AppData\\Local";
  } else {
    return "";
  }
  return base + "\\" + program + "\\" + name;
}

}  // namespace platform

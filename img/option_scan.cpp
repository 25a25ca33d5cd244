#include "img/option_scan.h"

#include <optional>

namespace img {

bool ScanOptions(const std::vector<std::string>& args, const std::vector<OptionInfo>& options,
                 const std::function<bool(const OptionInfo&, const std::string&, std::string&)>& apply,
                 std::vector<std::string>& positional, std::vector<const OptionInfo*>& given,
                 std::string& error) {
  auto find = [&options](auto matches) -> const OptionInfo* {
    for (const OptionInfo& o : options) {
      if (matches(o)) return &o;
    }
    return nullptr;
  };
  bool only_positional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_positional || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_positional = true;
      continue;
    }
    const OptionInfo* entry = nullptr;
    std::string shown;
    std::optional<std::string> value;
    if (arg[1] == '-') {
      const size_t equals = arg.find('=');
      const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      shown = "--" + name;
      entry = find([&name](const OptionInfo& o) { return name == o.long_name; });
      if (equals != std::string::npos) value = arg.substr(equals + 1);
    } else {
      shown = arg.substr(0, 2);
      entry = find([&arg](const OptionInfo& o) { return o.short_name != 0 && o.short_name == arg[1]; });
      if (arg.size() > 2) value = arg.substr(2);
    }
    if (entry == nullptr) {
      error = "unknown option " + shown;
      return false;
    }
    if (!entry->takes_value && value) {
      error = "option " + shown + " takes no value";
      return false;
    }
    if (entry->takes_value && !value) {
      if (i + 1 >= args.size()) {
        error = "option " + shown + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!apply(*entry, value.value_or(""), error)) return false;
    given.push_back(entry);
  }
  return true;
}

bool HasFlag(const std::vector<std::string>& args, const std::string& flag) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == flag) return true;
  }
  return false;
}

bool OptionsApplyTo(const std::vector<const OptionInfo*>& given, const std::string& command,
                    std::string& error) {
  for (const OptionInfo* entry : given) {
    if (entry->command != nullptr && command != entry->command) {
      error = std::string("option --") + entry->long_name + " does not apply to " + command;
      return false;
    }
  }
  return true;
}

}  // namespace img

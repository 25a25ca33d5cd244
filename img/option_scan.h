// The command line as the companion tools take it: a command word and its
// operands, with long options (--name, --name=value, --name value) and
// short ones (-x, -xvalue, -x value) anywhere, and "--" ending the options.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace img {

struct OptionInfo {
  const char* long_name;
  char short_name;      // 0: none
  bool takes_value;
  const char* command;  // the only command it applies to, or null for all
};

// Takes the arguments apart with the option table `options`: operands go to
// `positional`, each option to `apply` (with its value, empty when it takes
// none) in the order given, and to `given`. false with `error` set at the
// first unknown option, a value where none is taken, a missing value, or a
// false from `apply`.
bool ScanOptions(const std::vector<std::string>& args, const std::vector<OptionInfo>& options,
                 const std::function<bool(const OptionInfo&, const std::string&, std::string&)>& apply,
                 std::vector<std::string>& positional, std::vector<const OptionInfo*>& given,
                 std::string& error);

// True when `flag` (such as "--json") stands among the options, before any
// "--": a command line refused for another reason can still answer in the
// form asked for.
bool HasFlag(const std::vector<std::string>& args, const std::string& flag);

// false with `error` set when an option given applies only to another
// command than `command`.
bool OptionsApplyTo(const std::vector<const OptionInfo*>& given, const std::string& command,
                    std::string& error);

}  // namespace img

#include "config/ini_schema.h"

#include "app/output.h"

int CheckIniSections(const RunSettings&) {
  PrintError("INI validation is not supported by this build\n");
  return -1;
}

int CheckGpioWakeConfig(const RunSettings& rs) {
  for (int n = 0; n < 12; ++n) {
    const unsigned bit = 1u << n;
    if ((rs.GPIOWake & bit) == 0) continue;
    if ((rs.GPIOEnable & bit) == 0) {
      PrintError(
          "When GPIOWake is enabled for perticular GPIO the GPIOEnable need to be set for that "
          "GPIO\n");
      return -1;
    }
    if ((rs.GPIODirection & bit) != 0) {
      PrintError(
          "When GPIOWake is enabled for perticular GPIO the GPIODirection need to be set as "
          "Input for that GPIO\n");
      return -1;
    }
  }
  return 0;
}

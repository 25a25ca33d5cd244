// Sections made of numeric keys only: the switch sections, the LED
// functions, the LED behaviour and GPIO words, and the optional override
// and extension words. Each is one table of keys run by ReadKeySection.
#include <iterator>

#include "config/ini_keys.h"
#include "config/ini_schema.h"

namespace {

#define INI_LED_FUNCTION_KEY(key)                                                         \
  IniNumericKey {                                                                         \
    #key, IniForm::kDecimal, 2, INI_FIELD(key), "Invalid " #key " or out of range\n",     \
        nullptr, "The field " #key " is missing\n", #key " cannot be greater than 15\n", 15 \
  }

#define INI_GPIO_KEY(key)                                                                  \
  IniNumericKey {                                                                          \
    #key, IniForm::kHex, 5, INI_FIELD(key), "Invalid " #key ", should be in the form '0xFFF'\n", \
        nullptr, "The field " #key " is missing\n"                                          \
  }

#define INI_WORD_KEY(key, length, message) INI_OVERRIDE_KEY(key, key##Given, length, message)

const IniNumericKey kGpioPme0Keys[] = {
    INI_FLAG_KEY(GPIOPMEEnable),  INI_FLAG_KEY(GPIOPMEConfiguration), INI_FLAG_KEY(GPIOPMELength),
    INI_FLAG_KEY(GPIOPMEPolarity), INI_FLAG_KEY(GPIOBufferType),      INI_FLAG_KEY(GPIOPMEWOLSelect),
    INI_FLAG_KEY(PMEMagicPacketEnable), INI_FLAG_KEY(PMEPerfectDAEnable),
};

const IniNumericKey kGpioPme1Keys[] = {
    INI_FLAG_KEY(GPIOConnectBufferType),
    INI_FLAG_KEY(GPIOConnectEnable),
    INI_FLAG_KEY(GPIOConnectPolarity),
    INI_FLAG_KEY(PMEWUFFEnable),
};

const IniNumericKey kLedConfig0Keys[] = {
    INI_FLAG_KEY(LED3Enable),
    INI_FLAG_KEY(LED2Enable),
    INI_FLAG_KEY(LED1Enable),
    INI_FLAG_KEY(LED0Enable),
};

const IniNumericKey kLedConfig1Keys[] = {
    INI_LED_FUNCTION_KEY(LED1Function),
    INI_LED_FUNCTION_KEY(LED0Function),
};

const IniNumericKey kLedConfig2Keys[] = {
    INI_LED_FUNCTION_KEY(LED3Function),
    INI_LED_FUNCTION_KEY(LED2Function),
};

const IniNumericKey kLedBehaviorKeys[] = {
    {"LEDBehavior", IniForm::kHex, 6, INI_FIELD(LEDBehavior),
     "Invalid LEDBehavior, should be in the form '0xFFFF'\n", nullptr,
     "The field LEDBehavior is missing\n"},
};

const IniNumericKey kGpioConfigKeys[] = {
    INI_GPIO_KEY(GPIOEnable), INI_GPIO_KEY(GPIOBuffer), INI_GPIO_KEY(GPIODirection),
    INI_GPIO_KEY(GPIOData),   INI_GPIO_KEY(GPIOWake),   INI_GPIO_KEY(GPIOWakePolarity),
};

const IniNumericKey kConfigFlags2Keys[] = {
    INI_WORD_KEY(ConfigFlags2Override, 10,
                 "Invalid ConfigFlags2Override, should be in the form '0xFFFFFFFF'\n"),
};
const IniNumericKey kConfigFlags3Keys[] = {
    INI_WORD_KEY(ConfigFlags3Override, 10,
                 "Invalid ConfigFlags3Override, should be in the form '0xFFFFFFFF'\n"),
};
const IniNumericKey kConfigFlags4Keys[] = {
    INI_WORD_KEY(ConfigFlags4Override, 10,
                 "Invalid ConfigFlags4Override, should be in the form '0xFFFFFFFF'\n"),
};
const IniNumericKey kConfigFlags5Keys[] = {
    INI_WORD_KEY(ConfigFlags5Override, 10,
                 "Invalid ConfigFlags5Override, should be in the form '0xFFFFFFFF'\n"),
};

// The six LTM BELT words share one given flag.
#define INI_LTM_KEY(key) \
  INI_OVERRIDE_KEY(key, LTMBELTGiven, 10, "Invalid " #key ", should be in the '0xFFFFFFFF' format\n")

const IniNumericKey kLtmBeltKeys[] = {
    INI_LTM_KEY(LTMBELTIdle0),     INI_LTM_KEY(LTMBELTIdle1),     INI_LTM_KEY(LTMBELTActive0),
    INI_LTM_KEY(LTMBELTActive1),   INI_LTM_KEY(LTMBELTInActive0), INI_LTM_KEY(LTMBELTInActive1),
};

const IniNumericKey kCommonTestBusKeys[] = {
    INI_WORD_KEY(CommonTestBusIn, 10,
                 "Invalid CommonTestBusIn, should be in the '0xFFFFFFFF' format\n"),
};

const IniNumericKey kUsbTestKeys[] = {
    INI_WORD_KEY(USB3PllTestBusIn, 6, "Invalid USB3PllTestBusIn, should be in the '0x0000' format\n"),
    INI_WORD_KEY(USB2AFETestBusIn, 4, "Invalid USB2AFETestBusIn, should be in the '0x00' format\n"),
    INI_WORD_KEY(USB3AFETestBusIn0, 10,
                 "Invalid USB3AFETestBusIn0, should be in the '0x00000000' format\n"),
    INI_WORD_KEY(USB3AFETestBusIn1, 10,
                 "Invalid USB3AFETestBusIn1, should be in the '0x00000000' format\n"),
};

const IniNumericKey kUsb2ExtensionKeys[] = {
    INI_OVERRIDE_KEY(USB2ExtAttributes, USB2ExtAttributesGiven, 10,
                     "Invalid USB2ExtAttributes, should be in the '0x00' format\n"),
};

const IniNumericKey kUsb3ExtensionKeys[] = {
    INI_WORD_KEY(SpeedsSupported, 3, "Invalid SpeedsSupported, should be in the '0x0' format\n"),
    INI_WORD_KEY(FunctionalitySupport, 3,
                 "Invalid FunctionalitySupport, should be in the '0x0' format\n"),
    INI_WORD_KEY(U1DevExitLatency, 3, "Invalid U1DevExitLatency, should be in the '0x0' format\n"),
    INI_WORD_KEY(U2DevExitLatency, 5,
                 "Invalid U2DevExitLatency, should be in the '0x000' format\n"),
};

template <size_t N>
int ReadKeys(std::FILE* file, RunSettings& rs, const char* header, const IniNumericKey (&keys)[N],
             IniFinalChecks order = IniFinalChecks::kEachKey) {
  return ReadKeySection(file, rs, IniKeySection{header, keys, N, order});
}

}  // namespace

int ParseGpioPme0Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[GPIOPME0]", kGpioPme0Keys);
}
int ParseGpioPme1Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[GPIOPME1]", kGpioPme1Keys);
}
int ParseLedConfig0Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[LEDConfig0]", kLedConfig0Keys);
}
int ParseLedConfig1Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[LEDConfig1]", kLedConfig1Keys, IniFinalChecks::kMissingFirst);
}
int ParseLedConfig2Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[LEDConfig2]", kLedConfig2Keys, IniFinalChecks::kMissingFirst);
}
int ParseLedBehaviorSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[LEDBehaviorConfig]", kLedBehaviorKeys);
}
int ParseGpioConfigSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, "[GPIOConfig]", kGpioConfigKeys);
}
int ParseConfigFlags2Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kConfigFlags2Keys);
}
int ParseConfigFlags3Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kConfigFlags3Keys);
}
int ParseConfigFlags4Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kConfigFlags4Keys);
}
int ParseConfigFlags5Section(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kConfigFlags5Keys);
}
int ParseLtmBeltSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kLtmBeltKeys);
}
int ParseCommonTestBusSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kCommonTestBusKeys);
}
int ParseUsbTestSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kUsbTestKeys);
}
int ParseUsb2ExtensionSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kUsb2ExtensionKeys);
}
int ParseUsb3ExtensionSection(std::FILE* file, RunSettings& rs) {
  return ReadKeys(file, rs, nullptr, kUsb3ExtensionKeys);
}

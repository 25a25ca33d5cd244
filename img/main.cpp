// orn5300img: decode, check, compare and verify ORN53xx EEPROM and OTP images.
#include <cstdio>

#include "img/img_cli.h"

int main(int argc, char** argv) {
  const int code = img::RunImgTool(argc, argv);
  std::fflush(stdout);
  return code;
}

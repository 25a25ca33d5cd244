// orn5300cli: one command per run against an ORN53xx controller.
#include <cstdio>

#include "app/dispatch.h"

int main(int argc, char** argv) {
  const int code = RunProgram(argc, argv);
  std::fflush(stdout);
  return code;
}

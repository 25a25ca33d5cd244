// orn5300log: summary, duplicates and the records of one unit, read from
// the production log of orn5300cli.
#include <cstdio>

#include "record/log_cli.h"

int main(int argc, char** argv) {
  const int code = record::RunLogTool(argc, argv);
  std::fflush(stdout);
  return code;
}

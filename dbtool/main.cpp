// orn5300db: the production line's database of orn5300cli: schema, identity
// pools, export of the records, delivery of the spool.
#include <cstdio>

#include "dbtool/db_cli.h"

int main(int argc, char** argv) {
  const int code = dbtool::RunDbTool(argc, argv);
  std::fflush(stdout);
  return code;
}

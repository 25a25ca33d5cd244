// Placeholder entry point until the command line lands.
#include <cstdio>

int main() {
  std::printf("\n 5300 Windows Command Line Utility v%d.%d.%d.%d (%s)\n", 1, 0, 9, 0, "02/22/2017");
  return 0;
}

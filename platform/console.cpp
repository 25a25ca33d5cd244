#include "platform/console.h"

#include <cstdio>

namespace platform {

int ReadConfirmationChar() {
  const int c = std::getchar();
  return c == EOF ? -1 : c;
}

}  // namespace platform

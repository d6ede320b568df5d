#include <cstdio>

#include "tev/commands.h"

namespace tev::app {

int RunEstimate(int, char**) {
  std::fputs("tev: 'estimate' is not built yet\n", stderr);
  return 1;
}

}  // namespace tev::app

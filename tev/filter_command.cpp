#include <cstdio>

#include "tev/commands.h"

namespace tev::app {

int RunFilter(int, char**) {
  std::fputs("tev: 'filter' is not built yet\n", stderr);
  return 1;
}

}  // namespace tev::app

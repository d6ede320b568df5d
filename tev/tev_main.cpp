// tev: the user's own program beside the plugin. `tev filter` runs the plugin's
// processing on Y4M streams; `tev estimate` finds the settings for a ghosted
// picture.
#include <cstdio>
#include <cstring>

#include <string>
#include <vector>

#include "media/file_access.h"
#include "tev/commands.h"

namespace {

const char kUsage[] =
    "usage: tev COMMAND [options]   (tev COMMAND --help for its options)\n"
    "  filter    remove ghosts from a YUV4MPEG2 stream with the plugin's settings\n"
    "  estimate  find the plugin's settings for a ghosted picture or clip\n";

}  // namespace

int main(int raw_argc, char** raw_argv) {
  // UTF-8 arguments on every system: on Windows argv loses names outside the
  // ANSI code page, so every path option is read from the wide command line.
  std::vector<std::string> args = tev::media::Utf8Arguments(raw_argc, raw_argv);
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const int argc = static_cast<int>(args.size());
  char** argv = pointers.data();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(kUsage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "filter")) return tev::app::RunFilter(argc - 1, argv + 1);
  if (!std::strcmp(argv[1], "estimate")) return tev::app::RunEstimate(argc - 1, argv + 1);
  std::fprintf(stderr, "tev: unknown command '%s'\n%s", argv[1], kUsage);
  return 2;
}

// The commands of tev, each a whole program of its own behind one name.
#pragma once

namespace tev::app {

// Each takes the arguments after the command's name (argv[0] is the command)
// and returns the process exit status: 0 done, 1 failed, 2 bad options.
int RunFilter(int argc, char** argv);
int RunEstimate(int argc, char** argv);

}  // namespace tev::app

// orlimvis: hosts the Orlim visualisation plug-in on Linux. Parses the command line,
// runs one command through a Player, and reports a failure as one line on stderr.
#include <stdio.h>

#include "cli.h"
#include "output/output_file.h"
#include "player.h"

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseCommandLine(argc, argv, &options, &error)) {
    fprintf(stderr, "orlimvis: %s\n", error.c_str());
    return 2;
  }
  installInterruptHandler();
  int status;
  {
    Player player(options);
    status = player.run(&error);
  }
  if (status != 0) {
    fprintf(stderr, "orlimvis: %s\n", error.empty() ? "failed" : error.c_str());
  }
  return status;
}

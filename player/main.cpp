// orlimvis: hosts the Orlim visualisation plug-in on Linux. Parses the command line,
// runs one command, and reports a failure as one line on stderr.
#include <stdio.h>

#include "base/signals.h"  // installInterruptHandler
#include "cli.h"
#include "commands.h"

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseCommandLine(argc, argv, &options, &error)) {
    fprintf(stderr, "orlimvis: %s\n", oneLine(error).c_str());
    return 2;
  }
  installInterruptHandler();
  int status = 0;
  switch (options.command) {
    case Command::List: status = listCommand(options, stdout, &error); break;
    case Command::Render: status = renderCommand(options, &error); break;
    case Command::Play: status = playCommand(options, &error); break;
    case Command::Tune: status = tuneCommand(options, stdout, &error); break;
    case Command::Devices: status = devicesCommand(options, stdout, &error); break;
    case Command::Version: puts(versionText()); break;
    case Command::Help:
      fputs(options.helpTopic.empty() ? usageText() : helpText(options.helpTopic), stdout);
      break;
    default: fputs(usageText(), stdout); break;
  }
  if (status != 0) {
    fprintf(stderr, "orlimvis: %s\n", error.empty() ? "failed" : oneLine(error).c_str());
  }
  return status;
}

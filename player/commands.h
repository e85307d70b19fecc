// The commands of orlimvis, each a function that runs one command to the end and
// returns the exit status, with *error set to one line when it is not 0. Nothing here
// exits the process; main prints the line.
//
// `list`, `tune` and `render` need no display and live in the library that the tests
// link; `play` and `devices` talk to SDL and live with the program (live.cpp).
#pragma once

#include <stdio.h>

#include <string>

#include "cli.h"
#include "session.h"

// The session a command runs: the command line's plug-in, module, audio (every input,
// or the demo tune), range, seed, spectrum and strictness, and the module's frame at
// the drawing's size (--size divided by --scale's factor; none: the plug-in's own).
SessionSettings sessionSettingsFor(const Options& options);

int listCommand(const Options& options, FILE* out, std::string* error);
int tuneCommand(const Options& options, FILE* out, std::string* error);
int renderCommand(const Options& options, std::string* error);

int playCommand(const Options& options, std::string* error);
int devicesCommand(const Options& options, FILE* out, std::string* error);

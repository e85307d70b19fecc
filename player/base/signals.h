// Ctrl-C and termination: the handler only records the signal, which the long loops
// and every wait on a child process poll so that they leave through their normal
// clean-up path. SIGPIPE and SIGXFSZ are ignored, so that a dead reader or a file-size
// limit show up as write errors with a reason. A signal that is ignored already (nohup,
// a background job of a non-interactive shell) is left ignored.
#pragma once

void installInterruptHandler();
bool interruptRequested();
// The exit status of a run stopped by that signal, by the shell's convention of 128 plus
// its number: 130 for SIGINT (Ctrl-C), 143 for SIGTERM, 129 for SIGHUP.
int interruptExitStatus();
// Forgets a signal received (the tests run many commands in one process).
void clearInterrupt();

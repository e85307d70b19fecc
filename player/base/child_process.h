// Child processes (ffmpeg, ffprobe): found on PATH, started in a process group of their
// own with their output and log where the caller says, fed through a socket, waited for
// and stopped. Nothing here knows what the child does.
//
// A child runs in its own process group, so a Ctrl-C at the terminal reaches only the
// player, which then stops the child itself and cleans up. No wait on a child is
// unbounded while a signal is pending: the feed is a non-blocking socket written with
// poll() in short steps, children are reaped by polling, and each step looks at the
// interrupt flag (base/signals.h). A blocking send() or waitpid() would let a signal
// that lands just before it go unseen for as long as the child is not reading or not
// exiting, which may be forever. A child being stopped gets SIGTERM, and SIGKILL when
// it has not gone after a grace period.
#pragma once

#include <stddef.h>
#include <sys/types.h>  // pid_t

#include <string>
#include <vector>

// The full path of `program` found on PATH, or empty.
std::string findOnPath(const std::string& program);

// Starts args (args[0] is the program's path) with standard input from `input` (or
// /dev/null), standard output to `output` (or the log), standard error appended to the
// file `log`. The child's id, or -1 with *errnum set.
pid_t spawnChild(const std::vector<std::string>& args, int input, int output,
                 const std::string& log, int* errnum);
// The same with standard input a socket: *feed is the player's end, for sendAll().
pid_t spawnFedChild(const std::vector<std::string>& args, int output, const std::string& log,
                    int* feed, int* errnum);

enum class Sent { All, Failed, Interrupted };
// Writes all of data to a child's feed. Failed leaves errno as send() set it; a child
// that died makes it fail rather than raise SIGPIPE.
Sent sendAll(int feed, const char* data, size_t size);

// Waits for the child to exit: true with its wait status; false when a signal came
// meanwhile, the child then stopped.
bool waitForChild(pid_t pid, int* status);
// Stops the child and its process group: SIGTERM, then SIGKILL after the grace period;
// reaps it.
void stopChild(pid_t pid);

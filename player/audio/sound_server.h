// The inputs the sound server offers, by the names users see: PulseAudio's sources (and
// PipeWire's, through its Pulse server), asked through libpulse. SDL lists only the
// descriptions ("Monitor of Built-in Audio"), while users and tools (pactl, pavucontrol)
// also give the source names ("alsa_output.pci-0000_00_1f.3.analog-stereo.monitor");
// libpulse gives both and says which sources are monitors. Nothing here opens a stream:
// capture itself goes through SDL with the source chosen here.
#pragma once

#include <string>
#include <vector>

struct InputDevice {
  std::string name;         // the server's source name
  std::string description;  // what SDL and mixers show
  bool monitor = false;     // the monitor of an output: what is playing
  std::string monitorOf;    // the output's (sink's) name, for a monitor
};

// The server's sources in its order; false with a one-line reason when no server
// answers.
bool listSoundServerInputs(std::vector<InputDevice>* inputs, std::string* error);

// The input that `wanted` names: a source name, or a description (any case); null
// when none does.
const InputDevice* findInput(const std::vector<InputDevice>& inputs, const std::string& wanted);

enum class CaptureLookup {
  Found,        // *input is the one
  NoServer,     // no sound server answers: the names are SDL's own
  NoSuchInput,  // NAME names none of the server's inputs (*error says so)
  Unresolved,   // no NAME, and the server has no default output with a monitor
};

// What `play --capture [NAME]` visualises, as the sound server knows it: the input NAME
// names (source name or description), or with no NAME the monitor of the default
// output (or the source PULSE_SOURCE names, when the user set one).
CaptureLookup findCaptureInput(const std::string& wanted, InputDevice* input, std::string* error);

// libpulse's own main loop, run on this thread only for the few round trips a question
// takes: connect, ask, collect the answers, disconnect.
#include "audio/sound_server.h"

#include <pulse/pulseaudio.h>
#include <stdlib.h>
#include <strings.h>

namespace {
// One connection to the server for the length of one question.
class Connection {
 public:
  Connection() {
    loop_ = pa_mainloop_new();
    if (!loop_) return;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "orlimvis");
    bool ok =
        context_ && pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
    while (ok) {
      state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) break;
      ok = pa_mainloop_iterate(loop_, 1, nullptr) >= 0;
    }
    ready_ = ok && state == PA_CONTEXT_READY;
  }
  ~Connection() {
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_) pa_mainloop_free(loop_);
  }
  bool ready() const { return ready_; }
  pa_context* context() const { return context_; }
  // Runs the loop until the operation is done or *done is set; false if the
  // connection failed meanwhile.
  bool wait(pa_operation* op, const bool* done) {
    bool ok = op != nullptr;
    while (ok && !*done && pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
      ok = pa_mainloop_iterate(loop_, 1, nullptr) >= 0;
    }
    if (op) pa_operation_unref(op);
    return ok && *done;
  }
  std::string failure() const {
    return std::string("no sound server answers (PulseAudio or PipeWire): ") +
           (context_ ? pa_strerror(pa_context_errno(context_)) : "cannot create a context");
  }

 private:
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool ready_ = false;
};

struct Listing {
  std::vector<InputDevice>* inputs;
  bool done = false;
};

void onSource(pa_context*, const pa_source_info* info, int eol, void* data) {
  Listing* listing = static_cast<Listing*>(data);
  if (eol != 0 || !info) {
    listing->done = true;
    return;
  }
  InputDevice input;
  input.name = info->name ? info->name : "";
  input.description = info->description ? info->description : input.name;
  input.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
  input.monitorOf = info->monitor_of_sink_name ? info->monitor_of_sink_name : "";
  listing->inputs->push_back(input);
}

struct Defaults {
  std::string sink;
  bool done = false;
};

void onServer(pa_context*, const pa_server_info* info, void* data) {
  Defaults* defaults = static_cast<Defaults*>(data);
  if (info && info->default_sink_name) defaults->sink = info->default_sink_name;
  defaults->done = true;
}

bool listInputs(Connection& server, std::vector<InputDevice>* inputs) {
  Listing listing{inputs};
  return server.wait(pa_context_get_source_info_list(server.context(), onSource, &listing),
                     &listing.done);
}
}  // namespace

bool listSoundServerInputs(std::vector<InputDevice>* inputs, std::string* error) {
  inputs->clear();
  Connection server;
  if (!server.ready() || !listInputs(server, inputs)) {
    *error = server.failure();
    return false;
  }
  return true;
}

const InputDevice* findInput(const std::vector<InputDevice>& inputs, const std::string& wanted) {
  for (const InputDevice& input : inputs) {
    if (input.name == wanted) return &input;
  }
  for (const InputDevice& input : inputs) {
    if (strcasecmp(input.description.c_str(), wanted.c_str()) == 0) return &input;
  }
  return nullptr;
}

CaptureLookup findCaptureInput(const std::string& wanted, InputDevice* input, std::string* error) {
  Connection server;
  std::vector<InputDevice> inputs;
  if (!server.ready() || !listInputs(server, &inputs)) {
    *error = server.failure();
    return CaptureLookup::NoServer;
  }
  if (!wanted.empty()) {
    const InputDevice* found = findInput(inputs, wanted);
    if (!found) {
      *error = "--capture " + wanted + ": no such input; `orlimvis devices` lists them";
      return CaptureLookup::NoSuchInput;
    }
    *input = *found;
    return CaptureLookup::Found;
  }
  // A source the user chose for every Pulse client stands; else the default output's
  // monitor.
  const char* chosen = getenv("PULSE_SOURCE");
  if (chosen && *chosen && chosen[0] != '@') {
    const InputDevice* found = findInput(inputs, chosen);
    if (found) *input = *found;
    return found ? CaptureLookup::Found : CaptureLookup::Unresolved;
  }
  Defaults defaults;
  if (!server.wait(pa_context_get_server_info(server.context(), onServer, &defaults),
                   &defaults.done) ||
      defaults.sink.empty()) {
    return CaptureLookup::Unresolved;
  }
  for (const InputDevice& candidate : inputs) {
    if (candidate.monitor && candidate.monitorOf == defaults.sink) {
      *input = candidate;
      return CaptureLookup::Found;
    }
  }
  return CaptureLookup::Unresolved;
}

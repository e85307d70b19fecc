// libpulse's own main loop, run on this thread only for the few round trips a listing
// takes: connect, ask for the sources, collect the answers, disconnect.
#include "audio/sound_server.h"

#include <pulse/pulseaudio.h>
#include <strings.h>

namespace {
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
  listing->inputs->push_back(input);
}
}  // namespace

bool listSoundServerInputs(std::vector<InputDevice>* inputs, std::string* error) {
  inputs->clear();
  pa_mainloop* loop = pa_mainloop_new();
  if (!loop) {
    *error = "cannot talk to the sound server: out of memory";
    return false;
  }
  pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "orlimvis");
  bool ok = context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
  while (ok) {
    state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) break;
    ok = pa_mainloop_iterate(loop, 1, nullptr) >= 0;
  }
  ok = ok && state == PA_CONTEXT_READY;
  if (ok) {
    Listing listing{inputs};
    pa_operation* op = pa_context_get_source_info_list(context, onSource, &listing);
    while (op && !listing.done && pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
      if (pa_mainloop_iterate(loop, 1, nullptr) < 0) break;
    }
    if (op) pa_operation_unref(op);
    ok = listing.done;
  }
  if (!ok) {
    *error = std::string("no sound server answers (PulseAudio or PipeWire): ") +
             (context ? pa_strerror(pa_context_errno(context)) : "cannot create a context");
  }
  if (context) {
    pa_context_disconnect(context);
    pa_context_unref(context);
  }
  pa_mainloop_free(loop);
  return ok;
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

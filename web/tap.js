// The AudioWorklet's side of the page: passes each block of the audio it hears on to
// the page as interleaved stereo (a mono input is doubled), in batches of about 20 ms
// so the page wakes up some 50 times a second rather than 350, and passes the audio
// through unchanged so a file or the demo tune is heard. It does no analysis: the
// analyser runs in the page's WebAssembly, on the page's thread, with the plug-in.
'use strict';

const BATCH_FRAMES = 1024;

class OrlimvisTap extends AudioWorkletProcessor {
  constructor() {
    super();
    this.generation = 0;  // which source the samples belong to, set by the page
    this.batch = new Float32Array(BATCH_FRAMES * 2);
    this.filled = 0;
    this.port.onmessage = (e) => {
      this.generation = e.data.generation;
      this.filled = 0;
    };
  }

  process(inputs, outputs) {
    const input = inputs[0];
    const output = outputs[0];
    for (let c = 0; c < output.length; ++c) {
      if (input.length) output[c].set(input[Math.min(c, input.length - 1)]);
    }
    // No input connected (nothing playing): nothing to pass on.
    if (!input.length) return true;
    const left = input[0];
    const right = input[input.length > 1 ? 1 : 0];
    for (let i = 0; i < left.length; ++i) {
      this.batch[this.filled * 2] = left[i];
      this.batch[this.filled * 2 + 1] = right[i];
      if (++this.filled === BATCH_FRAMES) {
        this.port.postMessage({generation: this.generation, samples: this.batch}, [this.batch.buffer]);
        this.batch = new Float32Array(BATCH_FRAMES * 2);
        this.filled = 0;
      }
    }
    return true;
  }
}

registerProcessor('orlimvis-tap', OrlimvisTap);

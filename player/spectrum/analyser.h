// The spectrum analyser: turns the audio around one 25 ms frame into the two channels
// of 576 levels (0..255) that a visualisation plug-in reads. A pure core in the manner
// of cava's: create for a sample rate, execute on samples, destroy; all its state is in
// its own object and it knows nothing of files, devices or plug-ins.
//
// The mapping: each channel is windowed (Hann, 85 to 170 ms) and transformed with FFTW.
// The 576 bands are spaced logarithmically from 30 Hz up to 16 kHz (or just below the
// Nyquist frequency), a band taking the strongest bin within it, or the interpolated
// level at its centre where it is narrower than a bin. Levels are taken in decibels
// relative to a full-scale sine, tilted up by 3 dB per octave above 1 kHz (down below)
// to offset the fall of a typical music spectrum, and mapped linearly from -72 dB
// (level 0) to -18 dB (level 255). A frame whose own samples are all below 16-bit
// resolution is silence: every band is 0. Any other frame has at least 1 in band 0, so
// "band 0 is zero" means silence, as the effects expect.
#pragma once

#include <stdint.h>

#include "audio/audio_clip.h"

enum { SPECTRUM_BANDS = 576 };

struct SpectrumAnalyser;

// A new analyser for audio at sampleRate (8000..384000), or null when FFTW cannot plan.
SpectrumAnalyser* spectrumCreate(int sampleRate);
void spectrumDestroy(SpectrumAnalyser* analyser);

// Number of stereo frames the analyser reads per execution.
int spectrumWindowLength(const SpectrumAnalyser* analyser);

// window: spectrumWindowLength() interleaved stereo frames; the 25 ms frame being
// analysed is window frames [frameBegin, frameEnd), used for the silence test.
void spectrumExecute(SpectrumAnalyser* analyser, const float* window, int frameBegin,
                     int frameEnd, unsigned char out[2][SPECTRUM_BANDS]);

// Frames of a 25 ms tick: tick k covers clip frames [tickStart(k), tickStart(k + 1)).
inline int64_t tickStart(int64_t tick, int sampleRate) { return tick * sampleRate / 40; }

// Analyses tick `tick` of the clip, the window centred on it, zeros outside the clip.
void spectrumAnalyseTick(SpectrumAnalyser* analyser, const AudioClip& clip, int64_t tick,
                         unsigned char out[2][SPECTRUM_BANDS]);

// Centre frequency of a band at the analyser's rate (for tests and documentation).
double spectrumBandFrequency(const SpectrumAnalyser* analyser, int band);

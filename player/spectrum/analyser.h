// The spectrum analyser: turns the audio around one frame into the two channels
// of 576 levels (0..255) that a visualisation plug-in reads. A pure core in the manner
// of cava's: create for a sample rate, execute on samples, destroy; all its state is in
// its own object and it knows nothing of files, devices or plug-ins.
//
// The mapping: each channel is windowed (Hann, a power of two of at least 85 ms of
// audio, centred on the frame) and transformed with FFTW.
// Bands 1 to 575 are spaced logarithmically from 45 Hz up to 16 kHz (or just below the
// Nyquist frequency), a band taking the strongest bin within it, or the level
// interpolated at its centre where it is narrower than a bin; band 0 is the whole bass,
// the strongest bin from 20 to 80 Hz, since the effects read it as the beat. A level is
// proportional to amplitude, tilted up by 3 dB per octave above 1 kHz (down below) to
// offset the falling spectrum of music, with 255 for a sine at -14 dB of full scale
// (louder is held at 255): most bands of music sit low and its peaks reach the top, as
// the effects' sizes (often 4 pixels per level) expect. A frame whose own samples are
// all below half a 16-bit step is silence: every band is 0. Any other frame has at
// least 1 in band 0, so "band 0 is zero" means silence, as the effects expect.
#pragma once

#include <stdint.h>

enum { SPECTRUM_BANDS = 576 };

struct SpectrumAnalyser;

// A new analyser for audio at sampleRate (1000..768000), or null when FFTW cannot plan.
SpectrumAnalyser* spectrumCreate(int sampleRate);
void spectrumDestroy(SpectrumAnalyser* analyser);

// Number of stereo frames the analyser reads per execution.
int spectrumWindowLength(const SpectrumAnalyser* analyser);

// window: spectrumWindowLength() interleaved stereo frames; the frame being
// analysed is window frames [frameBegin, frameEnd), used for the silence test.
void spectrumExecute(SpectrumAnalyser* analyser, const float* window, int frameBegin,
                     int frameEnd, unsigned char out[2][SPECTRUM_BANDS]);

// Centre frequency of a band at the analyser's rate (for tests and documentation).
double spectrumBandFrequency(const SpectrumAnalyser* analyser, int band);

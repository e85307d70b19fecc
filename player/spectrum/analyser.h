// The spectrum analyser: turns the audio around one frame into the two channels
// of 576 levels (0..255) that a visualisation plug-in reads. A pure core in the manner
// of cava's: create for a sample rate, execute on samples, destroy; all its state is in
// its own object and it knows nothing of files, devices or plug-ins. The same input
// always gives the same output.
//
// Two layouts:
//
// Classic (the default), the spectrum the effects were designed for: band k is the
// level at k x 44100 / 1152 Hz (about 38.3 Hz apart, band 575 at 22 kHz) whatever the
// sample rate. The transform is as long as 1152 samples are at 44.1 kHz (1254 at
// 48 kHz, 2508 at 96 kHz), so its bins fall on those frequencies exactly and the window
// is always about 26 ms of audio; Hann-weighted, any constant offset taken out. Linear
// levels are proportional to magnitude and truncated to whole steps with no floor: a
// band below one step reads 0, so quiet moments give 0 in band 0 and digital silence
// gives zeros throughout. Band 0 is the lowest: it is centred half a band up (19 Hz), so that it
// holds the bass below about 70 Hz as a steady level rather than one that beats with
// the bass's phase. The gain is automatic by default (see the .cpp: it follows the
// loudness of the recording over seconds), or fixed by the caller.
//
// The classic layout's levels are on one of two scales. Decibels, the default: bands 1 to
// 575 read 10 levels per dB above the band's own average power over the last seconds
// (0 at or below it), so that every band follows its own music, its transients standing
// out whatever its loudness beside the bass; a band more than 80 dB under the loudest
// (the emptiness above a lossy encoder's cut-off) or below -100 dB of full scale reads 0.
// The effects' thresholds fall only about tenfold from band 26 to band 546, which a
// scale linear in magnitude, leaving everything 30 dB under the bass at 0 to 10, never
// reaches. Linear: every band proportional to magnitude as above. Band 0 is linear on
// both scales, so that its 0 keeps meaning a quiet moment.
//
// The classic layout keeps state from frame to frame (the automatic gain, the bands'
// averages, and the constant offset it takes out), so an analyser is fed the frames of
// one stream in order. After a jump within the stream the state carries over and settles
// again within its time constants; nothing breaks.
//
// Log: bands 1 to 575 spaced logarithmically from 45 Hz up to 16 kHz (or just below the
// Nyquist frequency) over a Hann window of a power of two of at least 85 ms, a band
// taking the strongest bin within it, or the level interpolated at its centre where it
// is narrower than a bin; band 0 is the whole bass, the strongest bin from 20 to 80 Hz.
// A level is proportional to amplitude, tilted up by 3 dB per octave above 1 kHz (down
// below), with 255 for a sine at -14 dB of full scale times the sensitivity (1 when
// automatic). A frame whose own samples are all below half a 16-bit step is silence:
// every band is 0; any other frame has at least 1 in band 0.
#pragma once

#include <stdint.h>

#include <memory>

enum { SPECTRUM_BANDS = 576 };

enum class SpectrumLayout { Classic, Log };

enum class SpectrumLevels { Decibels, Linear };

struct SpectrumOptions {
  SpectrumLayout layout = SpectrumLayout::Classic;
  SpectrumLevels levels = SpectrumLevels::Decibels;  // the classic layout's scale
  // 0: automatic. Otherwise a fixed gain: at 1 a full-scale sine reads 255 (classic
  // layout) or the log layout's own scale holds; at 10 a sine ten times quieter does.
  double sensitivity = 0;
};

// Bounds of a fixed sensitivity, and of the automatic one.
constexpr double SPECTRUM_SENSITIVITY_MIN = 0.01;
constexpr double SPECTRUM_SENSITIVITY_MAX = 10000;

struct SpectrumAnalyser;

// A new analyser for audio at sampleRate (1000..768000) with the default options, or
// null when the rate is out of range or FFTW cannot plan.
SpectrumAnalyser* spectrumCreate(int sampleRate);
// The same with options; null also for a sensitivity outside the bounds (0 excepted).
SpectrumAnalyser* spectrumCreateWith(int sampleRate, const SpectrumOptions& options);
void spectrumDestroy(SpectrumAnalyser* analyser);
// An analyser that destroys itself: SpectrumAnalyserPtr(spectrumCreateWith(...)).
struct SpectrumAnalyserDestroy {
  void operator()(SpectrumAnalyser* analyser) const { spectrumDestroy(analyser); }
};
using SpectrumAnalyserPtr = std::unique_ptr<SpectrumAnalyser, SpectrumAnalyserDestroy>;
// The same with the program's own transform instead of FFTW's (the only one where the
// build has no FFTW, as in the web page); for comparing the two on the same samples.
SpectrumAnalyser* spectrumCreateWithOwnTransform(int sampleRate, const SpectrumOptions& options);

// Number of stereo frames the analyser reads per execution.
int spectrumWindowLength(const SpectrumAnalyser* analyser);

// window: spectrumWindowLength() interleaved stereo frames centred on the frame being
// analysed, which is window frames [frameBegin, frameEnd): its length is the time that
// the automatic gain advances by, and the log layout's silence test reads only it.
void spectrumExecute(SpectrumAnalyser* analyser, const float* window, int frameBegin,
                     int frameEnd, unsigned char out[2][SPECTRUM_BANDS]);

// Centre frequency of a band at the analyser's rate (for tests and documentation).
double spectrumBandFrequency(const SpectrumAnalyser* analyser, int band);
// The gain in use: the fixed sensitivity, or where the automatic one stands now.
double spectrumSensitivity(const SpectrumAnalyser* analyser);

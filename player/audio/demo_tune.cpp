// Demo tune synthesiser. Each voice is rendered note by note into the stereo buffer
// (additively), then the mix goes through a soft clipper. Nothing is written inside the
// silent second of each cycle and tanh(0) is 0, so the silence is exact.
#include "audio/demo_tune.h"

#include <math.h>
#include <stdint.h>

#include <algorithm>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBeat = 0.5;  // 120 bpm
constexpr double kBar = 4 * kBeat;
constexpr double kDrive = 2.0;

// A small deterministic noise source (xorshift32), so the tune never depends on rand().
struct Noise {
  uint32_t state = 0x9e3779b9u;
  float next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return (float)((double)state / 2147483648.0 - 1.0);
  }
};

struct Mix {
  std::vector<double> left, right;
  int rate;
  int64_t length;

  // Adds one sample at absolute index i, panned: pan -1 is left, +1 right.
  void add(int64_t i, double value, double pan) {
    if (i < 0 || i >= length) return;
    left[(size_t)i] += value * (1.0 - pan) * 0.5 * 1.4142;
    right[(size_t)i] += value * (1.0 + pan) * 0.5 * 1.4142;
  }
};

double midiToHz(int note) { return 440.0 * pow(2.0, (note - 69) / 12.0); }

// A kick whose tail rings until the next one, a second later: band 0 then reads 0 only
// in the break, where the silence rules are meant to fire, not between two beats.
void kick(Mix& mix, double start) {
  int64_t first = (int64_t)(start * mix.rate);
  double phase = 0;
  for (int64_t n = 0; n < (int64_t)(1.0 * mix.rate); ++n) {
    double t = (double)n / mix.rate;
    double f = 48.0 + 95.0 * exp(-t * 28.0);
    phase += 2 * kPi * f / mix.rate;
    mix.add(first + n, sin(phase) * exp(-t * 5.0) * 0.65, 0.0);
  }
}

void snare(Mix& mix, double start, Noise& noise) {
  int64_t first = (int64_t)(start * mix.rate);
  for (int64_t n = 0; n < (int64_t)(0.25 * mix.rate); ++n) {
    double t = (double)n / mix.rate;
    double body = sin(2 * kPi * 185.0 * t) * exp(-t * 30.0) * 0.30;
    double hiss = noise.next() * exp(-t * 18.0) * 0.28;
    mix.add(first + n, body + hiss, 0.1);
  }
}

void hat(Mix& mix, double start, Noise& noise, double pan, double level) {
  int64_t first = (int64_t)(start * mix.rate);
  float previous = 0;
  for (int64_t n = 0; n < (int64_t)(0.06 * mix.rate); ++n) {
    double t = (double)n / mix.rate;
    float white = noise.next();
    double high = white - previous;  // first difference: a crude high-pass
    previous = white;
    mix.add(first + n, high * exp(-t * 70.0) * level, pan);
  }
}

// A ride or crash cymbal: first-differenced noise (most of it above 5 kHz, as a
// cymbal's is) that rings for `ring` seconds, so that the upper bands carry sound between
// the hits and each hit stands out of it.
void cymbal(Mix& mix, double start, Noise& noise, double pan, double level, double ring) {
  int64_t first = (int64_t)(start * mix.rate);
  float previous = 0;
  for (int64_t n = 0; n < (int64_t)(ring * 3 * mix.rate); ++n) {
    double t = (double)n / mix.rate;
    float white = noise.next();
    mix.add(first + n, (white - previous) * exp(-t / ring) * level, pan);
    previous = white;
  }
}

// A low-passed sawtooth with a short attack and release; used for bass and chords.
void saw(Mix& mix, double start, double length, double hz, double level, double pan,
         double cutoff, double attack) {
  int64_t first = (int64_t)(start * mix.rate);
  int64_t count = (int64_t)(length * mix.rate);
  double alpha = 1.0 - exp(-2 * kPi * cutoff / mix.rate);
  double phase = 0, filtered = 0;
  double release = 0.02;
  for (int64_t n = 0; n < count; ++n) {
    double t = (double)n / mix.rate;
    phase += hz / mix.rate;
    phase -= floor(phase);
    double raw = 2.0 * phase - 1.0;
    filtered += alpha * (raw - filtered);
    double env = std::min(1.0, t / attack) * std::min(1.0, (length - t) / release);
    mix.add(first + n, filtered * env * level, pan);
  }
}

// The lead: a bright sawtooth (harmonics up to the cut-off, about 10 kHz) with a
// vibrato of a quarter tone that sets in after the attack, as a synthesiser lead sings.
void lead(Mix& mix, double start, double length, double hz, double level, double pan) {
  int64_t first = (int64_t)(start * mix.rate);
  int64_t count = (int64_t)(length * mix.rate);
  double alpha = 1.0 - exp(-2 * kPi * 9000.0 / mix.rate);
  double phase = 0, filtered = 0;
  for (int64_t n = 0; n < count; ++n) {
    double t = (double)n / mix.rate;
    double vibrato = 1.0 + 0.015 * sin(2 * kPi * 5.5 * t) * std::min(1.0, t / 0.2);
    phase += hz * vibrato / mix.rate;
    phase -= floor(phase);
    filtered += alpha * (2.0 * phase - 1.0 - filtered);
    double env = std::min(1.0, t / 0.01) * std::min(1.0, (length - t) / 0.03) * exp(-t * 1.5);
    mix.add(first + n, filtered * env * level, pan);
  }
}

}  // namespace

void synthesiseDemoTune(double seconds, AudioClip* clip) {
  if (!(seconds <= DEMO_TUNE_MAX_SECONDS)) seconds = DEMO_TUNE_MAX_SECONDS;  // NaN too
  Mix mix;
  mix.rate = DEMO_TUNE_RATE;
  mix.length = std::max<int64_t>(1, (int64_t)(seconds * mix.rate));
  mix.left.assign((size_t)mix.length, 0.0);
  mix.right.assign((size_t)mix.length, 0.0);
  Noise noise;

  // Am, F, C, G: root notes for the bass (MIDI) and three chord tones each.
  static const int roots[4] = {45, 41, 48, 43};
  static const int chords[4][3] = {{57, 60, 64}, {57, 60, 65}, {55, 60, 64}, {55, 59, 62}};
  // The lead's melody, one bar per chord: (MIDI note, start and length in eighths).
  struct Note { int note, start, length; };
  static const Note melody[4][4] = {
      {{76, 0, 3}, {72, 3, 1}, {74, 4, 2}, {76, 6, 2}},
      {{77, 0, 2}, {76, 2, 2}, {72, 4, 3}, {69, 7, 1}},
      {{79, 0, 3}, {76, 3, 1}, {72, 4, 2}, {76, 6, 2}},
      {{74, 0, 2}, {71, 2, 2}, {79, 4, 3}, {74, 7, 1}},
  };

  for (double cycle = 0; cycle < seconds; cycle += DEMO_TUNE_SECONDS) {
    for (int bar = 0; bar < (int)(DEMO_TUNE_SECONDS / kBar); ++bar) {
      double barStart = cycle + bar * kBar;
      if (barStart >= seconds) break;
      int chord = bar % 4;
      bool inBreak = barStart >= cycle + DEMO_BREAK_FADE_START &&
                     barStart < cycle + DEMO_SILENCE_END;
      if (inBreak) {
        // The break: one soft chord that fades to nothing before the silent second.
        if (barStart == cycle + DEMO_BREAK_FADE_START) {
          double length = DEMO_SILENCE_START - DEMO_BREAK_FADE_START;
          for (int v = 0; v < 3; ++v) {
            saw(mix, barStart, length, midiToHz(chords[chord][v]), 0.05, -0.5 + 0.5 * v,
                900.0, length * 0.1);
          }
        }
        continue;
      }
      // A crash on the first beat of every fourth bar, a ride on every beat.
      if (bar % 4 == 0) cymbal(mix, barStart, noise, 0.3, 0.12, 0.8);
      for (int beat = 0; beat < 4; ++beat) {
        double t = barStart + beat * kBeat;
        if (beat == 0 || beat == 2) kick(mix, t);
        if (beat == 1 || beat == 3) snare(mix, t, noise);
        hat(mix, t, noise, -0.4, 0.10);
        hat(mix, t + kBeat / 2, noise, 0.4, 0.07);
        cymbal(mix, t, noise, -0.3, 0.035, 0.5);
        cymbal(mix, t + kBeat / 2, noise, -0.2, 0.025, 0.5);
      }
      for (const Note& n : melody[chord]) {
        lead(mix, barStart + n.start * kBeat / 2, n.length * kBeat / 2 * 0.95,
             midiToHz(n.note), 0.07, 0.25);
      }
      for (int eighth = 0; eighth < 8; ++eighth) {
        int note = roots[chord] + ((eighth % 4 == 3) ? 12 : 0);
        saw(mix, barStart + eighth * kBeat / 2, kBeat / 2 * 0.9, midiToHz(note), 0.32, 0.0,
            420.0, 0.004);
      }
      for (int v = 0; v < 3; ++v) {
        saw(mix, barStart, kBar, midiToHz(chords[chord][v]), 0.09, -0.6 + 0.6 * v, 2400.0,
            0.05);
      }
    }
  }

  // The fade of the break: a linear ramp to exactly zero at the silent second, and a
  // short fade at the very end so the tune does not stop with a click.
  clip->samples.resize((size_t)mix.length * 2);
  for (int64_t i = 0; i < mix.length; ++i) {
    double t = (double)i / mix.rate;
    double inCycle = fmod(t, DEMO_TUNE_SECONDS);
    double gain = 1.0;
    if (inCycle >= DEMO_BREAK_FADE_START && inCycle < DEMO_SILENCE_START) {
      gain = (DEMO_SILENCE_START - inCycle) / (DEMO_SILENCE_START - DEMO_BREAK_FADE_START);
    } else if (inCycle >= DEMO_SILENCE_START && inCycle < DEMO_SILENCE_END) {
      gain = 0.0;
    }
    gain *= std::min(1.0, (seconds - t) / 0.3);
    // Driven hard into the clipper, as mastered music is: loud, peaks rounded off.
    clip->samples[(size_t)i * 2] = (float)(tanh(mix.left[(size_t)i] * kDrive * gain) * 0.9);
    clip->samples[(size_t)i * 2 + 1] = (float)(tanh(mix.right[(size_t)i] * kDrive * gain) * 0.9);
  }
  clip->sampleRate = mix.rate;
  clip->streamChannels = 2;
}

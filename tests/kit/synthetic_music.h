// Spectrum frames of a synthetic piece of music, for the effects' tests, benchmarks and
// snapshots: a kick drum on every beat, a bass line, a three-note chord with
// harmonics, a melody and hi-hat noise, mixed a little differently into two channels,
// analysed 25 ms at a time into 576 bands of 0..255 the way a host's analyser does
// (Hann window, magnitude in decibels). Deterministic: frame n is always the same.
#pragma once

enum { MUSIC_BANDS = 576, MUSIC_CHANNELS = 2 };

// The spectrum of frame n (n >= 0, 25 ms each). Band 0 holds the lowest frequencies
// and is non-zero in every frame, as in real music.
void syntheticMusicFrame(int frame, unsigned char out[MUSIC_CHANNELS][MUSIC_BANDS]);

// The built-in demo tune, synthesised in code so that the player has something to show
// with no file at hand: drums and cymbals, a bass line, chords and a lead melody at 120
// beats per minute (so that every part of the spectrum has music in it), in a
// 24-second cycle whose quiet break fades to true digital silence (exact zeros) for one
// second, so that the effects' silence behaviour shows. Deterministic: the same
// duration always gives the same samples.
#pragma once

#include "audio/audio_clip.h"

enum { DEMO_TUNE_RATE = 44100 };
constexpr double DEMO_TUNE_SECONDS = 24.0;
// The longest tune made: it is held whole in memory (24 bytes a frame while it is mixed,
// about 640 MB at this length).
constexpr double DEMO_TUNE_MAX_SECONDS = 600.0;
// Within each cycle: the break fades out over [10, 11) s and is silent over [11, 12) s.
constexpr double DEMO_BREAK_FADE_START = 10.0;
constexpr double DEMO_SILENCE_START = 11.0;
constexpr double DEMO_SILENCE_END = 12.0;

// Fills *clip with `seconds` of the tune (stereo, 44.1 kHz); `seconds` is at most
// DEMO_TUNE_MAX_SECONDS (longer is cut to it).
void synthesiseDemoTune(double seconds, AudioClip* clip);

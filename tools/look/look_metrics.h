// Figures of how an effect looks over a track, from its frames and the spectra that
// drove them: what `make look` prints and what the tests check on the demo tune. Pure:
// pixels and spectrum bytes in, numbers out; it knows nothing of plug-ins or audio.
//
// - Blank share: frames whose pixels all lie within 2 levels of one colour (each
//   component's range over the frame is at most 4), among the frames of music.
// - Frozen: a frame in which under 0.5% of the pixels changed since the one before; the
//   longest run of such frames, in seconds. Also the mean share of the
//   pixels that a frame of music changes, which tells a slow picture from a still one.
// - Silence-rule firings: frames of music (not digital silence) whose band 0 reads 0 in
//   both channels, the condition on which Pellox and Ambrith clear and regroup and
//   Tovanel scatters its stars; per minute, as frames and as separate stretches.
// - Zarvenn: the correlation of its background's grey level (the commonest grey of the
//   frame) with the bass that sets it, band 0 of both channels; negative when the
//   background darkens with the bass, as it is made to.
// - Tovanel: the share of the surface that is not its dark-blue background (its star
//   dots, at most 0.4% of a 640x480 surface, count as covered), as a mean, and the share
//   of frames in which it is at least 99.5%, the polygons covering the whole surface.
// - Hearing, from the spectrum bytes alone, by the effects' own rules for particle i
//   (0..20), which reads channel i mod channels and the bands near k = 26 (i + 1):
//   alive, Pellox's reversal (band k above (576 - 26 i) / 10) holding in 2% to 60% of
//   the frames of music (never: deaf; nearly always: it jitters back and forth);
//   satellites, Ambrith's radius band k - 2 above 40 in at least 2%; depth, Zarvenn's
//   size (bands k and k - 1 summed) of 64 or more, Koch depth 2, in at least 5%. Also the
//   share of frames of music in which the silence rules fire (band 0 at 0 in both
//   channels) and in which Zarvenn's background is black (band 0's sum 128 or more).
// Frames of digital silence (the caller knows) count only in silentFrames.
#pragma once

#include <stdint.h>

#include <vector>

enum { LOOK_PARTICLES = 21 };

struct Hearing {
  // Per particle, the share of frames of music in which its rule holds.
  double reversal[LOOK_PARTICLES] = {};   // Pellox
  double satellite[LOOK_PARTICLES] = {};  // Ambrith
  double deep[LOOK_PARTICLES] = {};       // Zarvenn, Koch depth 2 or more
  double silentShare = 0, blackShare = 0;
  // The particles that pass each test, as bit i for particle i, and their counts.
  uint32_t alive = 0, satellites = 0, depth = 0;
  int aliveCount() const { return __builtin_popcount(alive); }
  int satellitesCount() const { return __builtin_popcount(satellites); }
  int depthCount() const { return __builtin_popcount(depth); }
};

// How the particles hear their bands over a run of spectra; see the top of the file.
class HearingMeter {
 public:
  explicit HearingMeter(int channels) : channels_(channels < 1 ? 1 : channels) {}
  // One frame of music (frames of digital silence are not passed).
  void add(const unsigned char spectrum[2][576]);
  Hearing hearing() const;

 private:
  int channels_;
  long frames_ = 0, silent_ = 0, black_ = 0;
  long reversal_[LOOK_PARTICLES] = {}, satellite_[LOOK_PARTICLES] = {},
       deep_[LOOK_PARTICLES] = {};
};

struct LookFigures {
  long frames = 0;          // all frames
  long silentFrames = 0;    // frames of digital silence
  double blankShare = 0;
  double longestFrozenSeconds = 0;
  double meanChange = 0;                // share of the pixels a frame changes
  double firingsPerMinute = 0;          // frames of music with band 0 at 0
  double firingStretchesPerMinute = 0;  // runs of such frames
  double bassCorrelation = 0;           // Zarvenn only (NaN when undefined)
  double meanCover = 0;                 // Tovanel only
  double fullCoverShare = 0;            // Tovanel only
  Hearing hearing;
};

class LookMeter {
 public:
  // module: the index in the plug-in's table (0 Zarvenn, 1 Pellox, 2 Ambrith, 3 Tovanel);
  // frameSeconds: the time between two frames, as the module asks for it; channels: the
  // stream's, from which the effects pick a spectrum channel per particle.
  LookMeter(int module, double frameSeconds, int channels = 2)
      : module_(module), frameSeconds_(frameSeconds), hearing_(channels) {}
  // One frame: 0x00RRGGBB pixels, and the spectrum that was rendered into it.
  void addFrame(const uint32_t* pixels, int width, int height, int stride,
                const unsigned char spectrum[2][576], bool digitalSilence);
  // A frame measured by its spectrum alone: it counts in the frames and the hearing.
  void addSpectrum(const unsigned char spectrum[2][576], bool digitalSilence);
  LookFigures figures() const;

 private:
  int module_;
  double frameSeconds_;
  long frames_ = 0, silent_ = 0, music_ = 0, blank_ = 0;
  long frozenRun_ = 0, longestFrozen_ = 0, compared_ = 0;
  double changeSum_ = 0;
  long firings_ = 0, stretches_ = 0;
  bool firing_ = false;
  std::vector<uint32_t> previous_;
  int previousWidth_ = 0, previousHeight_ = 0;
  // Sums for the correlation of background and bass.
  double sx_ = 0, sy_ = 0, sxx_ = 0, syy_ = 0, sxy_ = 0;
  double coverSum_ = 0;
  long fullCover_ = 0;
  HearingMeter hearing_;
};

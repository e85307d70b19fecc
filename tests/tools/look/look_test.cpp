// The look run of `make look`, in-process over the demo tune, so that the measuring
// code stays honest: the tune's second of digital silence is found as such, the fade
// before it fires the effects' silence rules while music still plays, and each effect's
// own figure says what the effect is made to do.
#include <math.h>

#include <gtest/gtest.h>

#include "test_support.h"
#include "audio/demo_tune.h"
#include "look/look_run.h"

TEST(Look, DemoTuneFiguresPerEffect) {
  ScratchDir dir;
  std::string out, error;
  const std::string plugin = dir.file("vis_orlim.so");
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + plugin + "'", &out), 0) << out;
  AudioClip clip;
  synthesiseDemoTune(13.0, &clip);  // the loud part, the fade and the silent second

  LookFigures f[4];
  for (int module = 0; module < 4; ++module) {
    SCOPED_TRACE("module " + std::to_string(module));
    LookRun run;
    run.plugin = plugin;
    run.module = module;
    LookSheet sheet;
    ASSERT_TRUE(lookRender(run, clip, &f[module], &sheet, &error)) << error;
    EXPECT_EQ(f[module].frames, 520);
    EXPECT_EQ(f[module].silentFrames, 40);  // 11 s to 12 s: exact zeros
    EXPECT_EQ(sheet.width, 960);
    EXPECT_EQ(sheet.height, 720);
    EXPECT_LT(f[module].longestFrozenSeconds, 5.0);
    // The fade to silence reads 0 in band 0 before the samples are all zeros: the
    // silence rules fire during music, and the same frames for every effect.
    EXPECT_GT(f[module].firingsPerMinute, 0);
    EXPECT_EQ(f[module].firingsPerMinute, f[0].firingsPerMinute);
  }
  EXPECT_EQ(f[1].blankShare, 0);  // orbs are never smaller than 2 pixels
  // A bubble of radius 0 is not drawn: in the fade Ambrith clears to black and draws
  // nothing, blank by its own rules, in some frames.
  EXPECT_GT(f[2].blankShare, 0);
  EXPECT_LT(f[2].blankShare, 0.1);
  EXPECT_LT(f[0].blankShare, 0.1);
  // Zarvenn's background darkens as the bass grows.
  EXPECT_LT(f[0].bassCorrelation, -0.5);
  // Tovanel's polygons cover some of the surface, and not all of it all the time.
  EXPECT_GT(f[3].meanCover, 0.02);
  EXPECT_LT(f[3].fullCoverShare, 0.5);
}

// The exported header and the module table, as the host reads them.
#include <gtest/gtest.h>

#include <string.h>

#include "vis_header.h"

namespace {

TEST(Header, VersionAndDescription) {
  VisHeader* header = winampVisGetHeader();
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->version, 0x101);
  EXPECT_STREQ(header->description, "Orlim's Visualizations Volume 1");
  EXPECT_EQ(winampVisGetHeader(), header);  // no side effects, the same record every time
  EXPECT_EQ(header->lookupModule, &lookupModule);
}

TEST(Header, LookupHandsOutFourRecordsInTableOrder) {
  const char* names[] = {"Zarvenn", "Pellox", "Ambrith", "Tovanel"};
  VisModule* seen[4] = {};
  for (int i = 0; i < 4; ++i) {
    VisModule* module = winampVisGetHeader()->lookupModule(i);
    ASSERT_NE(module, nullptr) << i;
    EXPECT_STREQ(module->description, names[i]);
    EXPECT_EQ(module->latencyMillis, 25);
    EXPECT_EQ(module->frameIntervalMillis, 25);
    EXPECT_EQ(module->spectrumChannels, 2);
    EXPECT_EQ(module->waveformChannels, 0);
    EXPECT_EQ(module->moduleData, nullptr);
    ASSERT_NE(module->init, nullptr);
    ASSERT_NE(module->render, nullptr);
    for (int j = 0; j < i; ++j) EXPECT_NE(seen[j], module);
    seen[i] = module;
  }
  // Every record shares init, quit and config; each has its own render.
  for (int i = 1; i < 4; ++i) {
    EXPECT_EQ(seen[i]->init, seen[0]->init);
    EXPECT_EQ(seen[i]->quit, seen[0]->quit);
    EXPECT_EQ(seen[i]->config, seen[0]->config);
    for (int j = 0; j < i; ++j) EXPECT_NE(seen[i]->render, seen[j]->render);
  }
}

TEST(Header, LookupRejectsEveryOtherIndex) {
  // The index is compared as unsigned, so negative ones are out of range too.
  for (int index : {4, 5, -1, -2, 1000, 0x7fffffff, static_cast<int>(0x80000000u)}) {
    EXPECT_EQ(lookupModule(index), nullptr) << index;
  }
}

TEST(Header, SpectrumAndWaveformLieAsTheHostWritesThem) {
  // The record's byte offsets are held at compile time in the 32-bit build, the host's
  // own; in every build the two spectrum rows and the waveform follow each other.
  EXPECT_EQ(offsetof(VisModule, spectrum[1]) - offsetof(VisModule, spectrum), 576u);
  EXPECT_EQ(offsetof(VisModule, waveform) - offsetof(VisModule, spectrum), 1152u);
}

}  // namespace

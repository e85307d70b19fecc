// The plug-in's generator against the C runtime it reproduces: msvcrt's rand under
// Wine (crt_rand.exe) and visRand give the same draws after the same seed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "state/vis_state.h"
#include "wine_run.h"

TEST(CrtRand, MsvcrtUnderWineMatchesOurGenerator) {
  std::string missing = winetest::missingTools();
  ASSERT_TRUE(missing.empty()) << "cannot run: " << missing;
  // Seeds: 0 and 1 (the runtime's default state), the whole millisecond range init
  // can use is represented by its ends and a middle value, then values whose products
  // overflow 32 bits at once, and the largest seed.
  const std::vector<std::string> seeds = {"0", "1", "2", "417", "999", "12345", "2147483647",
                                          "2147483648", "4294967295"};
  const int draws = 2000;
  std::vector<std::string> args = {std::to_string(draws)};
  args.insert(args.end(), seeds.begin(), seeds.end());
  winetest::RunResult run = winetest::runWine(winetest::programPath("crt_rand.exe"), args);
  ASSERT_EQ(run.status, 0) << run.err;
  std::stringstream lines(run.out);
  std::string line;
  size_t row = 0;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    ASSERT_LT(row, seeds.size()) << "more lines than seeds: " << line;
    std::stringstream words(line);
    unsigned long seed;
    words >> seed;
    ASSERT_EQ(std::to_string(seed), seeds[row]);
    visSrand(static_cast<unsigned>(seed));
    int n = 0, wine;
    while (words >> wine) {
      ASSERT_EQ(visRand(), wine) << "seed " << seed << ", draw " << n;
      ++n;
    }
    EXPECT_EQ(n, draws) << "seed " << seed;
    ++row;
  }
  EXPECT_EQ(row, seeds.size()) << run.out;
}

// The plug-in's correctly rounded sin, cos and atan2 beside the C library's, per call
// (items_per_second), on the kind of arguments the effects pass: headings of a long
// run and integer segment directions. The C library's figures are the yardstick only;
// the plug-in never calls them.
#include <benchmark/benchmark.h>

#include <math.h>  // the C library's sincos and atan2, for comparison

#include <random>
#include <vector>

#include "math/crmath.h"

namespace {

std::vector<double> headings() {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> d(-2000.0, 2000.0);
  std::vector<double> v(4096);
  for (double& x : v) x = d(rng);
  return v;
}

std::vector<double> segments(unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int> d(-900, 900);
  std::vector<double> v(4096);
  for (double& x : v) x = d(rng);
  return v;
}

template <typename F>
void perCall(benchmark::State& state, const std::vector<double>& a,
             const std::vector<double>& b, F f) {
  for (auto _ : state)
    for (size_t i = 0; i < a.size(); ++i) benchmark::DoNotOptimize(f(a[i], b[i]));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(a.size()));
}

void BM_CrmathSincos(benchmark::State& state) {
  const auto h = headings();
  perCall(state, h, h, [](double x, double) {
    double s, c;
    crmath::sincos(x, &s, &c);
    return s + c;
  });
}
void BM_LibmSinCos(benchmark::State& state) {
  const auto h = headings();
  perCall(state, h, h, [](double x, double) { return sin(x) + cos(x); });
}
void BM_CrmathAtan2(benchmark::State& state) {
  perCall(state, segments(11), segments(12), [](double y, double x) { return crmath::atan2(y, x); });
}
void BM_LibmAtan2(benchmark::State& state) {
  perCall(state, segments(11), segments(12), [](double y, double x) { return atan2(y, x); });
}
BENCHMARK(BM_CrmathSincos);
BENCHMARK(BM_LibmSinCos);
BENCHMARK(BM_CrmathAtan2);
BENCHMARK(BM_LibmAtan2);

}  // namespace

// Merging 10,000 sent cookies with 10,000 set by the server: the hashed
// merge next to the member-by-member one, in the same run.
//
//   build/bench/web/cookies_bench --benchmark_min_time=1x
#include <benchmark/benchmark.h>

#include <string>

#include "text/text.h"
#include "web/cookies.h"
#include "web/literal_cookies.h"

namespace timesync {
namespace {

constexpr int kMembers = 10000;

// Every third name on the server's side also stands on the old side, every
// seventh member is deleted and every fifth old member repeats an earlier one.
Text CookieText(int first, int step, bool oldSide) {
  std::string text;
  for (int i = 0; i < kMembers; ++i) {
    if (i > 0) text += "; ";
    const int n = first + i * step;
    if (oldSide && i % 5 == 4) {
      text += "name" + std::to_string(first + (i - 4) * step) + "=old";
    } else {
      text +=
          "name" + std::to_string(n) + "=" + (i % 7 == 6 ? "deleted" : "value" + std::to_string(i));
    }
  }
  return Text(text);
}

const Text& OldCookies() {
  static const Text text = CookieText(0, 2, true);
  return text;
}
const Text& NewCookies() {
  static const Text text = CookieText(0, 3, false);
  return text;
}

void BM_MergeCookiesHashed(benchmark::State& state) {
  for (auto _ : state) {
    Text oldCookies = OldCookies();
    Text newCookies = NewCookies();
    benchmark::DoNotOptimize(MergeCookies(oldCookies, newCookies));
  }
}
BENCHMARK(BM_MergeCookiesHashed)->Unit(benchmark::kMillisecond);

void BM_MergeCookiesLiteral(benchmark::State& state) {
  for (auto _ : state) {
    Text oldCookies = OldCookies();
    Text newCookies = NewCookies();
    benchmark::DoNotOptimize(literal::MergeCookies(oldCookies, newCookies));
  }
}
BENCHMARK(BM_MergeCookiesLiteral)->Unit(benchmark::kMillisecond);

void BM_RemoveDuplicateMembersHashed(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(RemoveDuplicateMembers(OldCookies(), "; "));
}
BENCHMARK(BM_RemoveDuplicateMembersHashed)->Unit(benchmark::kMillisecond);

void BM_RemoveDuplicateMembersLiteral(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(literal::RemoveDuplicateMembers(OldCookies(), "; "));
  }
}
BENCHMARK(BM_RemoveDuplicateMembersLiteral)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace timesync

// A simple global pattern over a 16 MiB page in code page 936: RegexObject's
// Execute and MatchCount (conversion to UTF-16 included) next to raw PCRE2-JIT
// over the same subject already in UTF-16, in the same run.
//
//   build/bench/regex/regex_bench
// The figure to report is raw time / object time (CPU time: the machine may be
// shared).
#define PCRE2_CODE_UNIT_WIDTH 16
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/codepage.h"
#ifndef _WIN32
#include "platform/icu_converter_linux.h"
#endif
#include "regex/regex_object.h"
#include "text/text.h"

namespace timesync {
namespace {

constexpr std::size_t kSubjectBytes = 16 * 1024 * 1024;
constexpr char16_t kPattern[] = u"\\d+";

// A stretch of a news page: markup, a script and Chinese text with numbers.
//   <div class="news-item"><a href="/news/2026/12/11/123456.html" target="_blank">
//     校时服务器今日完成第3次升级</a><span class="date">2026-12-11 08:30</span></div>
//   <p>据报道，截至12月11日，全国共有1234个网站完成了时间同步，平均误差为0.25秒。</p>
//   <script>var pageId = 20261211; var items = [1, 2, 3];</script>
constexpr const char* kPageStretch =
    "<div class=\"news-item\"><a href=\"/news/2026/12/11/123456.html\" target=\"_blank\">"
    "\xD0\xA3\xCA\xB1\xB7\xFE\xCE\xF1\xC6\xF7\xBD\xF1\xC8\xD5\xCD\xEA\xB3\xC9\xB5\xDA"
    "3"
    "\xB4\xCE\xC9\xFD\xBC\xB6</a><span class=\"date\">2026-12-11 08:30</span></div>\r\n"
    "<p>\xBE\xDD\xB1\xA8\xB5\xC0\xA3\xAC\xBD\xD8\xD6\xC1"
    "12"
    "\xD4\xC2"
    "11"
    "\xC8\xD5\xA3\xAC\xC8\xAB\xB9\xFA\xB9\xB2\xD3\xD0"
    "1234"
    "\xB8\xF6\xCD\xF8\xD5\xBE\xCD\xEA\xB3\xC9\xC1\xCB\xCA\xB1\xBC\xE4\xCD\xAC\xB2\xBD\xA3\xAC"
    "\xC6\xBD\xBE\xF9\xCE\xF3\xB2\xEE\xCE\xAA"
    "0.25"
    "\xC3\xEB\xA1\xA3</p>\r\n"
    "<script>var pageId = 20261211; var items = [1, 2, 3];</script>\r\n";

const Text& Page() {
  static const Text page = [] {
    std::string bytes;
    bytes.reserve(kSubjectBytes + 128);
    while (bytes.size() < kSubjectBytes) bytes += kPageStretch;
    bytes.resize(kSubjectBytes);
    return Text::FromString(std::move(bytes));
  }();
  return page;
}

void BM_RegexObjectExecuteAndCount(benchmark::State& state) {
  const Text& page = Page();
  const Text pattern("\\d+");
  std::int64_t matches = 0;
  for (auto _ : state) {
    RegexObject regex;
    if (!regex.Execute(pattern, page)) state.SkipWithError("the pattern did not run");
    matches = regex.MatchCount();
    benchmark::DoNotOptimize(matches);
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * page.size());
}

void BM_RawPcre2JitOverUtf16(benchmark::State& state) {
  const std::u16string subject = platform::Cp936ToUtf16(Page().view());
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kPattern), PCRE2_ZERO_TERMINATED, 0,
                                   &errorCode, &errorOffset, nullptr);
  if (code == nullptr || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
    state.SkipWithError("PCRE2 JIT is not available");
    pcre2_code_free(code);
    return;
  }
  pcre2_match_data* matchData = pcre2_match_data_create_from_pattern(code, nullptr);
  const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.data());
  std::int64_t matches = 0;
  for (auto _ : state) {
    matches = 0;
    PCRE2_SIZE start = 0;
    while (start <= subject.size() &&
           pcre2_jit_match(code, units, subject.size(), start, 0, matchData, nullptr) > 0) {
      const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData);
      ++matches;
      start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
    }
    benchmark::DoNotOptimize(matches);
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * Page().size());
  pcre2_match_data_free(matchData);
  pcre2_code_free(code);
}

// The conversion alone, the part of the object's time the raw run does not pay.
void BM_ConversionToUtf16Only(benchmark::State& state) {
  const Text& page = Page();
  for (auto _ : state) {
    std::u16string wide = platform::Cp936ToUtf16(page.view());
    benchmark::DoNotOptimize(wide.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * page.size());
}

// Every match's text and byte position over a 64 KiB page, the way a caller
// walks the collection.
void BM_RegexObjectEveryMatchWithPosition(benchmark::State& state) {
  const Text page = Left(Page(), 64 * 1024);
  const Text pattern("\\d+");
  RegexObject regex;
  if (!regex.Execute(pattern, page)) state.SkipWithError("the pattern did not run");
  const int count = regex.MatchCount();
  for (auto _ : state) {
    std::int64_t positions = 0;
    for (int index = 1; index <= count; ++index) {
      int position = 0;
      benchmark::DoNotOptimize(regex.MatchText(index, &position));
      positions += position;
    }
    benchmark::DoNotOptimize(positions);
  }
  state.counters["matches"] = count;
}

BENCHMARK(BM_RegexObjectExecuteAndCount)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RawPcre2JitOverUtf16)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ConversionToUtf16Only)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RegexObjectEveryMatchWithPosition)->Unit(benchmark::kMillisecond);

#ifndef _WIN32
// The same conversion with ICU reading every byte, for comparison: what the
// code page's own decoding (ASCII runs widened directly, two-byte characters
// from a table) saves.
void BM_ConversionThroughIcuAlone(benchmark::State& state) {
  const Text& page = Page();
  const platform::IcuConverter converter = platform::OpenIcuConverter("windows-936-2000");
  if (!converter) {
    state.SkipWithError("no ICU converter for code page 936");
    return;
  }
  for (auto _ : state) {
    std::optional<std::u16string> wide = platform::IcuToUtf16(converter.get(), page.view());
    benchmark::DoNotOptimize(wide->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * page.size());
}
BENCHMARK(BM_ConversionThroughIcuAlone)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

}  // namespace
}  // namespace timesync

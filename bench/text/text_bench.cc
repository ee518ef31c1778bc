// The text walks against plain byte searches over the same 64 MiB inputs.
//
// Two inputs: a mostly ASCII text (header-like lines, a two-byte character now
// and then) and a mostly two-byte text (GB2312 characters, a line break now
// and then). Needles of 2, 8 and 32 bytes sit once, near the end. Each
// operation runs beside its byte-search equivalent, which ignores the
// character rule: Find beside one memmem call, FindLast, Split and Replace
// beside memmem loops that build the same kind of result.
//
// Run: build/bench/text/text_bench --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace timesync {
namespace {

constexpr std::size_t kSize = std::size_t{64} << 20;
constexpr std::size_t kNeedleDistanceFromEnd = 4096;

std::uint32_t NextRandom(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// Lines of letters, digits and punctuation, with a two-byte character about
// every 1000 bytes; lines end in CR LF.
std::string MakeAsciiBytes() {
  std::string bytes;
  bytes.reserve(kSize + 64);
  std::uint32_t state = 7;
  const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 :;=-/.,";
  while (bytes.size() < kSize) {
    const int lineLength = 40 + static_cast<int>(NextRandom(state) % 60);
    for (int i = 0; i < lineLength; ++i) {
      const std::uint32_t r = NextRandom(state);
      if (r % 1000 == 0) {
        bytes += static_cast<char>(0xB0 + r / 1000 % 0x48);
        bytes += static_cast<char>(0xA1 + r / 100000 % 0x5E);
      } else {
        bytes += alphabet[r % (sizeof alphabet - 1)];
      }
    }
    bytes += "\r\n";
  }
  bytes.resize(kSize);
  return bytes;
}

// GB2312 characters (first bytes B0-F7, second bytes A1-FE) with CR LF about
// every 200 bytes.
std::string MakeGbkBytes() {
  std::string bytes;
  bytes.reserve(kSize + 64);
  std::uint32_t state = 11;
  while (bytes.size() < kSize) {
    const std::uint32_t r = NextRandom(state);
    if (r % 100 == 0) {
      bytes += "\r\n";
    } else {
      bytes += static_cast<char>(0xB0 + r % 0x48);
      bytes += static_cast<char>(0xA1 + r / 0x48 % 0x5E);
    }
  }
  bytes.resize(kSize);
  return bytes;
}

// Needles made of bytes the inputs never hold, so each occurs exactly once.
std::string AsciiNeedle(int length) { return std::string(static_cast<std::size_t>(length), '~'); }
std::string GbkNeedle(int length) {
  std::string needle;
  for (int i = 0; i < length / 2; ++i) needle += "\x81\x40";
  return needle;
}

struct Input {
  Text text;
  Text needle;
};

// input: 0 mostly ASCII, 1 mostly two-byte; needle of `needleLength` bytes near the end.
const Input& GetInput(int input, int needleLength) {
  static std::vector<Input> inputs;
  const std::size_t slot = static_cast<std::size_t>(input * 3 + (needleLength == 2   ? 0
                                                                 : needleLength == 8 ? 1
                                                                                     : 2));
  if (inputs.empty()) {
    const std::string ascii = MakeAsciiBytes();
    const std::string gbk = MakeGbkBytes();
    for (int which = 0; which < 2; ++which) {
      for (const int length : {2, 8, 32}) {
        std::string bytes = which == 0 ? ascii : gbk;
        const std::string needle = which == 0 ? AsciiNeedle(length) : GbkNeedle(length);
        bytes.replace(kSize - kNeedleDistanceFromEnd, needle.size(), needle);
        inputs.push_back({Text::FromString(std::move(bytes)), Text(needle)});
      }
    }
  }
  return inputs[slot];
}

const char* InputName(int input) { return input == 0 ? "ascii" : "gbk"; }

void SetLabel(benchmark::State& state) {
  state.SetLabel(std::string(InputName(static_cast<int>(state.range(0)))) + "/needle " +
                 std::to_string(state.range(1)));
}

void NeedleArgs(benchmark::internal::Benchmark* b) {
  for (int input = 0; input < 2; ++input) {
    for (const int length : {2, 8, 32}) b->Args({input, length});
  }
  b->Unit(benchmark::kMillisecond);
}

// ---- Find ---------------------------------------------------------------------

void BM_Find(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(Find(in.text, in.needle));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  SetLabel(state);
}

void BM_Memmem(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(::memmem(in.text.c_str(), in.text.bytes().size(), in.needle.c_str(),
                                      in.needle.bytes().size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  SetLabel(state);
}

// ---- FindLast -------------------------------------------------------------------

void BM_FindLast(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(FindLast(in.text, in.needle));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  SetLabel(state);
}

// The last occurrence by memmem from the front, one byte past each hit.
void BM_MemmemLast(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const std::string_view text = in.text.view();
  const std::string_view needle = in.needle.view();
  for (auto _ : state) {
    std::int64_t last = -1;
    std::size_t from = 0;
    while (const void* hit =
               ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size())) {
      last = static_cast<const char*>(hit) - text.data();
      from = static_cast<std::size_t>(last) + 1;
    }
    benchmark::DoNotOptimize(last);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  SetLabel(state);
}

// ---- Split and Replace on CR LF ----------------------------------------------

void LineArgs(benchmark::internal::Benchmark* b) {
  b->Args({0, 2})->Args({1, 2})->Unit(benchmark::kMillisecond);
}

const char kCrLf[] = "\r\n";

void BM_Split(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  for (auto _ : state) benchmark::DoNotOptimize(Split(in.text, kCrLf));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  state.SetLabel(std::string(InputName(static_cast<int>(state.range(0)))) + "/CR LF");
}

void BM_MemmemSplit(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  const std::string_view text = in.text.view();
  for (auto _ : state) {
    std::vector<std::string> pieces;
    std::size_t from = 0;
    while (const void* hit = ::memmem(text.data() + from, text.size() - from, kCrLf, 2)) {
      const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
      pieces.emplace_back(text.substr(from, at - from));
      from = at + 2;
    }
    if (from < text.size()) pieces.emplace_back(text.substr(from));
    benchmark::DoNotOptimize(pieces);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  state.SetLabel(std::string(InputName(static_cast<int>(state.range(0)))) + "/CR LF");
}

void BM_Replace(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  for (auto _ : state) benchmark::DoNotOptimize(Replace(in.text, kCrLf, "\n"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  state.SetLabel(std::string(InputName(static_cast<int>(state.range(0)))) + "/CR LF");
}

void BM_MemmemReplace(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  const std::string_view text = in.text.view();
  for (auto _ : state) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    while (const void* hit = ::memmem(text.data() + from, text.size() - from, kCrLf, 2)) {
      const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
      out.append(text.substr(from, at - from));
      out += '\n';
      from = at + 2;
    }
    out.append(text.substr(from));
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  state.SetLabel(std::string(InputName(static_cast<int>(state.range(0)))) + "/CR LF");
}

// ---- Trim and ToUpper -----------------------------------------------------------

void TextArgs(benchmark::internal::Benchmark* b) {
  b->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
}

void BM_Trim(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  const Text padded = Concat("  \xA1\xA1 ", in.text, " \xA1\xA1  ");
  for (auto _ : state) benchmark::DoNotOptimize(Trim(padded));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * padded.size());
  state.SetLabel(InputName(static_cast<int>(state.range(0))));
}

// What any operation that returns a new text of this size costs at least.
void BM_Copy(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  for (auto _ : state) {
    std::string copy(in.text.bytes());
    benchmark::DoNotOptimize(copy);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  state.SetLabel(InputName(static_cast<int>(state.range(0))));
}

void BM_ToUpper(benchmark::State& state) {
  const Input& in = GetInput(static_cast<int>(state.range(0)), 2);
  for (auto _ : state) benchmark::DoNotOptimize(ToUpper(in.text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * in.text.size());
  state.SetLabel(InputName(static_cast<int>(state.range(0))));
}

BENCHMARK(BM_Find)->Apply(NeedleArgs);
BENCHMARK(BM_Memmem)->Apply(NeedleArgs);
BENCHMARK(BM_FindLast)->Apply(NeedleArgs);
BENCHMARK(BM_MemmemLast)->Apply(NeedleArgs);
BENCHMARK(BM_Split)->Apply(LineArgs);
BENCHMARK(BM_MemmemSplit)->Apply(LineArgs);
BENCHMARK(BM_Replace)->Apply(LineArgs);
BENCHMARK(BM_MemmemReplace)->Apply(LineArgs);
BENCHMARK(BM_Trim)->Apply(TextArgs);
BENCHMARK(BM_ToUpper)->Apply(TextArgs);
BENCHMARK(BM_Copy)->Apply(TextArgs);

}  // namespace
}  // namespace timesync

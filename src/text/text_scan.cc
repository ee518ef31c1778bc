// Character walks at memory speed: byte searches propose candidates, the
// parity of the run of bytes >= 0x80 before a candidate decides whether the
// walk visits it, and upper-casing works on 64-byte blocks with bit masks.
#include "text/text_scan.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace timesync::text_scan {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

const unsigned char* Bytes(std::string_view bytes) {
  return reinterpret_cast<const unsigned char*>(bytes.data());
}

std::int64_t Size(std::string_view bytes) { return static_cast<std::int64_t>(bytes.size()); }

std::uint64_t Load64(const unsigned char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The first occurrence of the non-empty `needle` in `size` bytes at `data`.
const void* FindBytes(const unsigned char* data, std::size_t size, std::string_view needle) {
  if (needle.size() == 1) return std::memchr(data, needle[0], size);
#if defined(__GLIBC__)
  return ::memmem(data, size, needle.data(), needle.size());
#else
  // No memmem here: memchr for the first byte, then compare the rest.
  const std::size_t at = std::string_view(reinterpret_cast<const char*>(data), size).find(needle);
  return at == std::string_view::npos ? nullptr : data + at;
#endif
}

// The byte search mode: A-Z made a-z, every other byte as it is.
std::string FoldCase(std::string_view bytes) {
  std::string folded(bytes);
  for (char& c : folded) {
    const unsigned char byte = static_cast<unsigned char>(c);
    c = static_cast<char>(byte + (static_cast<unsigned char>(byte - 'A') < 26 ? 'a' - 'A' : 0));
  }
  return folded;
}

// Bit i of `high` is set when byte i of the 64-byte block is >= 0x80, bit i of
// `lower` when it is one of a-z.
struct BlockMasks {
  std::uint64_t high;
  std::uint64_t lower;
};

BlockMasks MasksOf(const unsigned char* block) {
  BlockMasks masks{0, 0};
#if defined(__SSE2__)
  // Adding 0x1F moves a-z (0x61-0x7A) to 0x80-0x99, the only bytes that are
  // then below -102 as signed values.
  const __m128i shift = _mm_set1_epi8(0x1F);
  const __m128i bound = _mm_set1_epi8(-102);
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * i));
    const std::uint64_t high = static_cast<std::uint16_t>(_mm_movemask_epi8(v));
    const std::uint64_t lower = static_cast<std::uint16_t>(
        _mm_movemask_epi8(_mm_cmplt_epi8(_mm_add_epi8(v, shift), bound)));
    masks.high |= high << (16 * i);
    masks.lower |= lower << (16 * i);
  }
#else
  for (int i = 0; i < 64; ++i) {
    masks.high |= static_cast<std::uint64_t>(block[i] >= 0x80) << i;
    masks.lower |= static_cast<std::uint64_t>(block[i] >= 'a' && block[i] <= 'z') << i;
  }
#endif
  return masks;
}

// The second bytes of two-byte characters in a block, given its bytes >= 0x80
// and whether its first byte is the second byte of a character begun in the
// block before (`carry`, 0 or 1; updated for the next block). In a run of
// bytes >= 0x80 that starts a character, every other byte is a first byte,
// and the byte after an odd-length run is a second byte: adding the run's
// odd-placed starts to the run carries through exactly the runs that start on
// an even bit.
std::uint64_t SecondBytes(std::uint64_t high, std::uint64_t& carry) {
  constexpr std::uint64_t kEvenBits = 0x5555555555555555ULL;
  const std::uint64_t leads = high & ~carry;  // a carried-in second byte is no first byte
  const std::uint64_t followsLead = (leads << 1) | carry;
  const std::uint64_t oddStarts = leads & ~kEvenBits & ~followsLead;
  const std::uint64_t evenStartRuns = oddStarts + leads;
  carry = evenStartRuns < oddStarts ? 1 : 0;
  return (kEvenBits ^ (evenStartRuns << 1)) & followsLead;
}

// Upper-cases the single-byte letters of one 64-byte block in place: every
// a-z at once, then the few that are second bytes of characters put back.
void UpperCaseBlock(unsigned char* block, std::uint64_t& carry) {
  const BlockMasks masks = MasksOf(block);
  const std::uint64_t seconds = SecondBytes(masks.high, carry);
  if (masks.lower == 0) return;
#if defined(__SSE2__)
  const __m128i shift = _mm_set1_epi8(0x1F);
  const __m128i bound = _mm_set1_epi8(-102);
  const __m128i caseBit = _mm_set1_epi8(0x20);
  for (int i = 0; i < 4; ++i) {
    __m128i* at = reinterpret_cast<__m128i*>(block + 16 * i);
    const __m128i v = _mm_loadu_si128(at);
    const __m128i letters = _mm_cmplt_epi8(_mm_add_epi8(v, shift), bound);
    _mm_storeu_si128(at, _mm_sub_epi8(v, _mm_and_si128(letters, caseBit)));
  }
#else
  for (std::uint64_t letters = masks.lower; letters != 0; letters &= letters - 1) {
    block[__builtin_ctzll(letters)] -= 'a' - 'A';
  }
#endif
  for (std::uint64_t kept = masks.lower & seconds; kept != 0; kept &= kept - 1) {
    block[__builtin_ctzll(kept)] += 'a' - 'A';
  }
}

}  // namespace

std::int64_t HighRunBefore(std::string_view bytes, std::int64_t first, std::int64_t position) {
  const unsigned char* data = Bytes(bytes);
  std::int64_t p = position;
  while (p - first >= 8) {
    const std::uint64_t lowBytes = ~Load64(data + p - 8) & kHighBits;
    // The most significant byte of the little-endian word is the one just before p.
    if (lowBytes != 0) return position - p + __builtin_clzll(lowBytes) / 8;
    p -= 8;
  }
  while (p > first && data[p - 1] >= 0x80) --p;
  return position - p;
}

NeedleSearch::NeedleSearch(std::string_view bytes, std::string_view needle, bool ignoreCase) {
  if (ignoreCase) {
    // Folding keeps every byte >= 0x80, so the folded copy walks as the text does.
    foldedBytes_ = FoldCase(bytes);
    foldedNeedle_ = FoldCase(needle);
    bytes_ = foldedBytes_;
    needle_ = foldedNeedle_;
  } else {
    bytes_ = bytes;
    needle_ = needle;
  }
}

std::int64_t NeedleSearch::Next(std::int64_t first) const {
  const unsigned char* data = Bytes(bytes_);
  const std::int64_t length = Size(bytes_);
  const std::int64_t n = Size(needle_);
  std::int64_t known = first;  // a character start of the walk, at or before `from`
  std::int64_t from = first;
  while (length - from >= n) {
    const std::size_t rest = static_cast<std::size_t>(length - from);
    const void* hit = FindBytes(data + from, rest, needle_);
    if (hit == nullptr) return kNotFound;
    const std::int64_t at = static_cast<const unsigned char*>(hit) - data;
    if (HighRunBefore(bytes_, known, at) % 2 == 0) return at;
    // `at` is the second byte of a character, so the walk visits the byte after it.
    known = from = at + 1;
  }
  return kNotFound;
}

std::int64_t NeedleSearch::Last() const {
  const unsigned char* data = Bytes(bytes_);
  std::int64_t last = kNotFound;
  std::int64_t from = 0;
  while (true) {
    const std::int64_t at = Next(from);
    if (at == kNotFound) return last;
    last = at;
    from = at + (data[at] >= 0x80 ? 2 : 1);
  }
}

std::pair<std::int64_t, std::int64_t> TrimBounds(std::string_view bytes) {
  const unsigned char* data = Bytes(bytes);
  const std::int64_t length = Size(bytes);
  auto isFullWidthSpace = [&](std::int64_t p) {
    return p + 1 < length && data[p] == 0xA1 && data[p + 1] == 0xA1;
  };

  std::int64_t first = 0;
  while (first < length) {
    if (data[first] == ' ') {
      ++first;
    } else if (isFullWidthSpace(first)) {
      first += 2;
    } else {
      break;
    }
  }
  if (first == length) return {first, first};

  // A walk from `first` ends on a lone lead byte when the run of bytes >= 0x80
  // at the end is odd.
  if (HighRunBefore(bytes, first, length) % 2 != 0) return {first, length - 1};

  // From here `last` is always a character start (or the end), so the
  // character before it ends at last - 1.
  std::int64_t last = length;
  while (last > first) {
    if (data[last - 1] == ' ') {
      // A one-byte character, unless it is the second byte of one.
      if (HighRunBefore(bytes, first, last - 1) % 2 != 0) break;
      --last;
    } else if (last - 2 >= first && data[last - 1] == 0xA1 && data[last - 2] == 0xA1) {
      // A byte >= 0x80 before a character start is always a second byte.
      last -= 2;
    } else {
      break;
    }
  }
  return {first, last};
}

std::string UpperCaseSingleBytes(std::string_view bytes) {
  // Chunk by chunk, so each chunk is upper-cased while its copy is still in cache.
  constexpr std::size_t kChunk = 64 * 64;
  std::string out;
  out.reserve(bytes.size());
  std::uint64_t carry = 0;
  for (std::size_t from = 0; from < bytes.size(); from += kChunk) {
    const std::string_view chunk = bytes.substr(from, kChunk);
    out.append(chunk);
    unsigned char* data = reinterpret_cast<unsigned char*>(out.data()) + from;
    std::size_t p = 0;
    for (; p + 64 <= chunk.size(); p += 64) UpperCaseBlock(data + p, carry);
    if (p < chunk.size()) {  // the text's last bytes
      unsigned char tail[64] = {};
      std::memcpy(tail, data + p, chunk.size() - p);
      UpperCaseBlock(tail, carry);
      std::memcpy(data + p, tail, chunk.size() - p);
    }
  }
  return out;
}

}  // namespace timesync::text_scan

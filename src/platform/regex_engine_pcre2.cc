// The regular-expression engine over PCRE2's 16-bit library. Patterns are
// translated from the script dialect into PCRE2 syntax first; everything the
// translation emits is plain PCRE2 (hex escapes for every non-alphanumeric
// literal), so no PCRE2 extension can slip through from a pattern.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>
#include <unicode/uchar.h>
#include <unicode/uset.h>

#include <algorithm>
#include <utility>

#include "platform/regex_engine.h"

namespace timesync::platform {
namespace {

constexpr std::uint32_t kUnset = kUnsetSpan;

// ---- Character helpers ----------------------------------------------------------

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsOctalDigit(char16_t c) { return c >= u'0' && c <= u'7'; }
bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsAsciiAlphanumeric(char16_t c) { return IsAsciiLetter(c) || IsDigit(c); }

int HexDigitValue(char16_t c) {
  if (IsDigit(c)) return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

void AppendHexEscape(std::u16string& out, char16_t c) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  out += u"\\x{";
  bool leading = true;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const int digit = (c >> shift) & 0xF;
    if (digit == 0 && leading && shift > 0) continue;
    leading = false;
    out += kDigits[digit];
  }
  out += u'}';
}

// The form two characters are compared in when case is ignored: the simple
// upper case, unless that would turn a non-ASCII character into an ASCII one
// or leave the 16-bit range.
char16_t CaseKey(char16_t c) {
  const UChar32 upper = u_toupper(c);
  if (upper > 0xFFFF || (c >= 0x80 && upper < 0x80)) return c;
  return static_cast<char16_t>(upper);
}

// Inclusive ranges of code units.
using CodeUnitRanges = std::vector<std::pair<char16_t, char16_t>>;

struct USetCloser {
  void operator()(USet* set) const { uset_close(set); }
};
using UniqueUSet = std::unique_ptr<USet, USetCloser>;

// Calls visit(first, last) for each range of code units in `set`.
template <typename Visit>
void ForEachRange(const USet* set, Visit visit) {
  const int32_t count = uset_getItemCount(set);
  for (int32_t i = 0; i < count; ++i) {
    UChar32 first = 0;
    UChar32 last = 0;
    UErrorCode error = U_ZERO_ERROR;
    if (uset_getItem(set, i, &first, &last, nullptr, 0, &error) != 0) continue;  // a string
    if (first > 0xFFFF) continue;
    visit(static_cast<char16_t>(first), static_cast<char16_t>(std::min<UChar32>(last, 0xFFFF)));
  }
}

// The non-ASCII characters outside `members` that equal one of them when case
// is ignored. ASCII letters are left to PCRE2's own caseless matching, and no
// non-ASCII character equals an ASCII one.
CodeUnitRanges CaseVariants(const CodeUnitRanges& members) {
  UniqueUSet original(uset_openEmpty());
  for (const auto& [first, last] : members) {
    if (last >= 0x80) uset_addRange(original.get(), std::max<UChar32>(first, 0x80), last);
  }
  if (uset_isEmpty(original.get())) return {};
  UniqueUSet keys(uset_openEmpty());
  ForEachRange(original.get(), [&](char16_t first, char16_t last) {
    for (UChar32 c = first; c <= last; ++c) uset_add(keys.get(), CaseKey(static_cast<char16_t>(c)));
  });
  UniqueUSet candidates(uset_openEmpty());
  uset_addAll(candidates.get(), original.get());
  uset_addAll(candidates.get(), keys.get());
  uset_closeOver(candidates.get(), USET_CASE_INSENSITIVE);
  uset_removeAllStrings(candidates.get());
  uset_removeAll(candidates.get(), original.get());
  uset_removeRange(candidates.get(), 0, 0x7F);
  CodeUnitRanges variants;
  ForEachRange(candidates.get(), [&](char16_t first, char16_t last) {
    for (UChar32 c = first; c <= last; ++c) {
      const char16_t unit = static_cast<char16_t>(c);
      if (!uset_contains(keys.get(), CaseKey(unit))) continue;
      if (!variants.empty() && variants.back().second + 1 == unit) {
        variants.back().second = unit;
      } else {
        variants.emplace_back(unit, unit);
      }
    }
  });
  return variants;
}

void AppendClassRanges(std::u16string& out, const CodeUnitRanges& ranges) {
  for (const auto& [first, last] : ranges) {
    AppendHexEscape(out, first);
    if (last != first) {
      out += u'-';
      AppendHexEscape(out, last);
    }
  }
}

// ---- Pattern translation ----------------------------------------------------------

constexpr std::u16string_view kAnyButLineTerminator = u"[^\\n\\r\\x{2028}\\x{2029}]";
constexpr std::u16string_view kLineStart = u"(?<![^\\n\\r\\x{2028}\\x{2029}])";
constexpr std::u16string_view kLineEnd = u"(?![^\\n\\r\\x{2028}\\x{2029}])";
constexpr std::u16string_view kNothing = u"(?!)";
constexpr std::u16string_view kAnything = u"[\\x{0}-\\x{ffff}]";
constexpr std::uint32_t kMaxRepeat = 65535;  // PCRE2's largest quantifier bound
constexpr std::uint32_t kUnbounded = 0xFFFFFFFF;

// Capturing groups of a pattern: every "(" outside a class and not escaped
// that does not start a "(?" form.
std::uint32_t CountCapturingGroups(std::u16string_view pattern) {
  std::uint32_t count = 0;
  bool inClass = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'\\') {
      ++i;
    } else if (inClass) {
      if (c == u']') inClass = false;
    } else if (c == u'[') {
      inClass = true;
      if (i + 1 < pattern.size() && pattern[i + 1] == u'^') ++i;
      if (i + 1 < pattern.size() && pattern[i + 1] == u']') {  // "[]" and "[^]" end at once
        ++i;
        inClass = false;
      }
    } else if (c == u'(' && (i + 1 >= pattern.size() || pattern[i + 1] != u'?')) {
      ++count;
    }
  }
  return count;
}

class PatternTranslator {
 public:
  PatternTranslator(std::u16string_view pattern, bool ignoreCase, bool multiline)
      : in_(pattern),
        ignoreCase_(ignoreCase),
        multiline_(multiline),
        groupCount_(CountCapturingGroups(pattern)) {}

  std::optional<std::u16string> Run() {
    int depth = 0;
    while (!AtEnd()) {
      const char16_t c = in_[pos_];
      switch (c) {
        case u'\\':
          if (!Escape()) return std::nullopt;
          break;
        case u'[':
          if (!Class()) return std::nullopt;
          break;
        case u'(':
          if (Has(1) && in_[pos_ + 1] == u'?') {
            if (!Has(2)) return std::nullopt;
            const char16_t kind = in_[pos_ + 2];
            if (kind != u':' && kind != u'=' && kind != u'!') return std::nullopt;
            out_ += u"(?";
            out_ += kind;
            pos_ += 3;
          } else {
            out_ += u'(';
            ++pos_;
          }
          ++depth;
          canRepeat_ = false;
          break;
        case u')':
          if (depth == 0) return std::nullopt;
          --depth;
          out_ += u')';
          ++pos_;
          canRepeat_ = true;
          break;
        case u'|':
          out_ += u'|';
          ++pos_;
          canRepeat_ = false;
          break;
        case u'^':
          out_ += multiline_ ? kLineStart : u"^";
          ++pos_;
          canRepeat_ = false;
          break;
        case u'$':
          out_ += multiline_ ? kLineEnd : u"$";
          ++pos_;
          canRepeat_ = false;
          break;
        case u'.':
          out_ += kAnyButLineTerminator;
          ++pos_;
          canRepeat_ = true;
          break;
        case u'*':
        case u'+':
        case u'?':
          if (!canRepeat_) return std::nullopt;
          out_ += c;
          ++pos_;
          FinishQuantifier();
          break;
        case u'{':
          if (!BracedQuantifierOrLiteral()) return std::nullopt;
          break;
        default:
          AppendLiteral(c);
          ++pos_;
          canRepeat_ = true;
          break;
      }
    }
    if (depth != 0) return std::nullopt;
    return std::move(out_);
  }

 private:
  bool AtEnd() const { return pos_ >= in_.size(); }
  bool Has(std::size_t ahead) const { return pos_ + ahead < in_.size(); }

  // A lazy "?" after a quantifier; nothing may repeat the result.
  void FinishQuantifier() {
    if (!AtEnd() && in_[pos_] == u'?') {
      out_ += u'?';
      ++pos_;
    }
    canRepeat_ = false;
  }

  // Reads decimal digits at pos_ into `value` (capped, so long runs stay
  // "too big"); false when there are none.
  bool ReadNumber(std::uint32_t* value) {
    const std::size_t start = pos_;
    std::uint32_t n = 0;
    while (!AtEnd() && IsDigit(in_[pos_])) {
      n = std::min<std::uint32_t>(n * 10 + (in_[pos_] - u'0'), 10 * kMaxRepeat);
      ++pos_;
    }
    *value = n;
    return pos_ > start;
  }

  // "{n}", "{n,}" or "{n,m}" at pos_ is a quantifier; any other "{" is literal.
  bool BracedQuantifierOrLiteral() {
    const std::size_t open = pos_;
    ++pos_;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    bool valid = ReadNumber(&min);
    if (valid) {
      max = min;
      if (!AtEnd() && in_[pos_] == u',') {
        ++pos_;
        if (!ReadNumber(&max)) max = kUnbounded;
      }
      valid = !AtEnd() && in_[pos_] == u'}';
    }
    if (!valid) {
      pos_ = open + 1;
      AppendLiteral(u'{');
      canRepeat_ = true;
      return true;
    }
    ++pos_;
    if (!canRepeat_ || max < min || min > kMaxRepeat) return false;
    if (max != kUnbounded && max > kMaxRepeat) return false;
    out_ += u'{';
    AppendNumber(min);
    if (max != min) {
      out_ += u',';
      if (max != kUnbounded) AppendNumber(max);
    }
    out_ += u'}';
    FinishQuantifier();
    return true;
  }

  void AppendNumber(std::uint32_t value) {
    const std::string digits = std::to_string(value);
    out_.append(digits.begin(), digits.end());
  }

  void AppendLiteral(char16_t c) {
    if (ignoreCase_ && c >= 0x80) {
      const CodeUnitRanges variants = CaseVariants({{c, c}});
      if (!variants.empty()) {
        out_ += u'[';
        AppendHexEscape(out_, c);
        AppendClassRanges(out_, variants);
        out_ += u']';
        return;
      }
    }
    if (IsAsciiAlphanumeric(c)) {
      out_ += c;
    } else {
      AppendHexEscape(out_, c);
    }
  }

  // The character an escape stands for; pos_ is on the character after the
  // backslash and moves past the escape.
  char16_t CharacterEscape(bool inClass) {
    const char16_t c = in_[pos_];
    switch (c) {
      case u'f':
        ++pos_;
        return u'\f';
      case u'n':
        ++pos_;
        return u'\n';
      case u'r':
        ++pos_;
        return u'\r';
      case u't':
        ++pos_;
        return u'\t';
      case u'v':
        ++pos_;
        return u'\v';
      case u'b':
        if (!inClass) break;  // word boundaries are handled by the caller
        ++pos_;
        return u'\b';
      case u'c':
        if (Has(1) && IsAsciiLetter(in_[pos_ + 1])) {
          const char16_t letter = in_[pos_ + 1];
          pos_ += 2;
          return static_cast<char16_t>(letter % 32);
        }
        return u'\\';  // the "c" is read next, as itself
      case u'x':
      case u'u': {
        const std::size_t digits = c == u'x' ? 2 : 4;
        char16_t value = 0;
        for (std::size_t i = 1; i <= digits; ++i) {
          const int digit = Has(i) ? HexDigitValue(in_[pos_ + i]) : -1;
          if (digit < 0) {
            ++pos_;
            return c;  // too few hex digits: the letter itself
          }
          value = static_cast<char16_t>(value * 16 + digit);
        }
        pos_ += digits + 1;
        return value;
      }
      default:
        break;
    }
    if (IsOctalDigit(c)) {
      const std::size_t maxDigits = c <= u'3' ? 3 : 2;
      char16_t value = 0;
      std::size_t used = 0;
      while (used < maxDigits && !AtEnd() && IsOctalDigit(in_[pos_])) {
        value = static_cast<char16_t>(value * 8 + (in_[pos_] - u'0'));
        ++pos_;
        ++used;
      }
      return value;
    }
    ++pos_;
    return c;  // identity escape
  }

  // A back-reference \n or \nm at pos_ (on the first digit), when the
  // pattern has enough groups; false leaves pos_ alone.
  bool BackReference() {
    const std::uint32_t first = in_[pos_] - u'0';
    std::uint32_t number = 0;
    std::size_t length = 0;
    if (Has(1) && IsDigit(in_[pos_ + 1]) && first * 10 + (in_[pos_ + 1] - u'0') <= groupCount_) {
      number = first * 10 + (in_[pos_ + 1] - u'0');
      length = 2;
    } else if (first <= groupCount_) {
      number = first;
      length = 1;
    } else {
      return false;
    }
    pos_ += length;
    // In a group of its own: PCRE2 fails "\\1+" while group 1 is unset, but
    // lets "(?:\\1)+" match the empty string, as the dialect does.
    out_ += u"(?:\\g{";
    AppendNumber(number);
    out_ += u"})";
    return true;
  }

  bool Escape() {
    if (!Has(1)) return false;  // a trailing backslash
    ++pos_;
    const char16_t c = in_[pos_];
    switch (c) {
      case u'b':
      case u'B':
        out_ += u'\\';
        out_ += c;
        ++pos_;
        canRepeat_ = false;
        return true;
      case u'd':
      case u'D':
      case u'w':
      case u'W':
      case u's':
      case u'S':
        out_ += u'\\';
        out_ += c;
        ++pos_;
        canRepeat_ = true;
        return true;
      default:
        break;
    }
    canRepeat_ = true;
    if (c >= u'1' && c <= u'9' && BackReference()) return true;
    AppendLiteral(CharacterEscape(/*inClass=*/false));
    return true;
  }

  struct ClassAtom {
    char16_t character = 0;
    std::u16string_view classEscape;  // "\\d" and the like; empty for a character
  };

  bool ReadClassAtom(ClassAtom* atom) {
    if (in_[pos_] != u'\\') {
      atom->character = in_[pos_];
      ++pos_;
      return true;
    }
    if (!Has(1)) return false;
    ++pos_;
    const char16_t c = in_[pos_];
    if (c == u'd' || c == u'D' || c == u'w' || c == u'W' || c == u's' || c == u'S') {
      atom->classEscape = in_.substr(pos_ - 1, 2);
      ++pos_;
      return true;
    }
    atom->character = CharacterEscape(/*inClass=*/true);
    return true;
  }

  bool Class() {
    ++pos_;
    bool negated = false;
    if (!AtEnd() && in_[pos_] == u'^') {
      negated = true;
      ++pos_;
    }
    if (AtEnd()) return false;
    canRepeat_ = true;
    if (in_[pos_] == u']') {
      ++pos_;
      out_ += negated ? kAnything : kNothing;
      return true;
    }
    CodeUnitRanges ranges;
    std::u16string classEscapes;
    while (true) {
      if (AtEnd()) return false;
      if (in_[pos_] == u']') {
        ++pos_;
        break;
      }
      ClassAtom low;
      if (!ReadClassAtom(&low)) return false;
      if (Has(1) && in_[pos_] == u'-' && in_[pos_ + 1] != u']') {
        ++pos_;
        ClassAtom high;
        if (!ReadClassAtom(&high)) return false;
        if (!low.classEscape.empty() || !high.classEscape.empty()) return false;
        if (low.character > high.character) return false;
        ranges.emplace_back(low.character, high.character);
      } else if (!low.classEscape.empty()) {
        classEscapes += low.classEscape;
      } else {
        ranges.emplace_back(low.character, low.character);
      }
    }
    if (ignoreCase_) {
      const CodeUnitRanges variants = CaseVariants(ranges);
      ranges.insert(ranges.end(), variants.begin(), variants.end());
    }
    out_ += negated ? u"[^" : u"[";
    AppendClassRanges(out_, ranges);
    out_ += classEscapes;
    out_ += u']';
    return true;
  }

  const std::u16string_view in_;
  const bool ignoreCase_;
  const bool multiline_;
  const std::uint32_t groupCount_;
  std::size_t pos_ = 0;
  std::u16string out_;
  bool canRepeat_ = false;  // the last item can take a quantifier
};

// ---- PCRE2 handles ------------------------------------------------------------------

struct CodeFree {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchContextFree {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct JitStackFree {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};
struct MatchDataFree {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

}  // namespace

struct regex_internal::CompiledPattern {
  std::unique_ptr<pcre2_code, CodeFree> code;
  std::unique_ptr<pcre2_match_context, MatchContextFree> context;
  std::unique_ptr<pcre2_jit_stack, JitStackFree> jitStack;
  std::size_t groupCount = 0;
  bool jit = false;       // compiled for the JIT, with its stack in `context`
  bool jitTried = false;  // JIT compilation was attempted (it is done once at most)
};

namespace {

// JIT compilation (and its stack) pays off only on long subjects; shorter
// ones, such as the first kilobyte of a page searched for its charset, run
// faster through the interpreter than the compilation alone takes.
constexpr std::size_t kJitSubjectUnits = 16 * 1024;

// Searches between two looks at the clock: a search is bounded by the match
// limit, so the run's time limit is overshot by at most this many of them.
constexpr unsigned kSearchesPerClockCheck = 64;

// The start/end pairs of every match (or the first), (groupCount + 1) pairs
// each; no value when a search fails.
std::optional<std::vector<std::uint32_t>> FindMatches(
    const regex_internal::CompiledPattern& compiled, std::u16string_view subject, bool global,
    const RegexLimits& limits) {
  const std::unique_ptr<pcre2_match_data, MatchDataFree> matchData(
      pcre2_match_data_create_from_pattern(compiled.code.get(), nullptr));
  if (!matchData) return std::nullopt;
  static constexpr char16_t kEmpty[] = u"";
  const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.empty() ? kEmpty : subject.data());
  const std::size_t pairs = compiled.groupCount + 1;
  const auto deadline = std::chrono::steady_clock::now() + limits.runTimeLimit +
                        limits.runTimePerCodeUnit * subject.size();
  if (subject.size() >= kUnset) return std::nullopt;
  std::vector<std::uint32_t> spans;
  // Room for the matches of a typical run at once; more grows as needed.
  spans.reserve(std::min<std::size_t>(2 * pairs * (subject.size() / 8 + 1), std::size_t{1} << 22));
  const PCRE2_SIZE* const ovector = pcre2_get_ovector_pointer(matchData.get());
  std::size_t start = 0;
  unsigned searchesSinceClockCheck = 0;
  while (start <= subject.size()) {
    // The JIT entry skips the argument checks, which hold by construction here.
    const int result = compiled.jit
                           ? pcre2_jit_match(compiled.code.get(), units, subject.size(), start, 0,
                                             matchData.get(), compiled.context.get())
                           : pcre2_match(compiled.code.get(), units, subject.size(), start, 0,
                                         matchData.get(), compiled.context.get());
    if (result == PCRE2_ERROR_NOMATCH) break;
    if (result <= 0) return std::nullopt;  // a limit was hit or the search failed
    // The match itself, then its groups; pairs from `result` on belong to
    // groups that took no part.
    spans.push_back(static_cast<std::uint32_t>(ovector[0]));
    spans.push_back(static_cast<std::uint32_t>(ovector[1]));
    const std::size_t setUnits = 2 * std::min(pairs, static_cast<std::size_t>(result));
    for (std::size_t i = 2; i < setUnits; ++i) {
      spans.push_back(ovector[i] != PCRE2_UNSET ? static_cast<std::uint32_t>(ovector[i]) : kUnset);
    }
    spans.resize(spans.size() + (2 * pairs - setUnits), kUnset);
    if (!global) break;
    // After an empty match the next search starts one code unit further.
    start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
    if (++searchesSinceClockCheck == kSearchesPerClockCheck) {
      searchesSinceClockCheck = 0;
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    }
  }
  return spans;
}

// One piece of a parsed replacement.
struct ReplacementPart {
  enum class Kind { kLiteral, kGroup, kMatch, kBefore, kAfter } kind = Kind::kLiteral;
  std::u16string literal;
  std::size_t group = 0;
};

std::vector<ReplacementPart> ParseReplacement(std::u16string_view replacement,
                                              std::size_t groupCount) {
  std::vector<ReplacementPart> parts;
  auto literal = [&parts](std::u16string_view text) {
    if (parts.empty() || parts.back().kind != ReplacementPart::Kind::kLiteral) {
      parts.push_back({});
    }
    parts.back().literal += text;
  };
  auto special = [&parts](ReplacementPart::Kind kind, std::size_t group = 0) {
    parts.push_back({kind, {}, group});
  };
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    const char16_t c = replacement[i];
    if (c != u'$' || i + 1 == replacement.size()) {
      literal(replacement.substr(i, 1));
      continue;
    }
    const char16_t next = replacement[i + 1];
    if (next == u'$') {
      literal(u"$");
      ++i;
    } else if (next == u'&') {
      special(ReplacementPart::Kind::kMatch);
      ++i;
    } else if (next == u'`') {
      special(ReplacementPart::Kind::kBefore);
      ++i;
    } else if (next == u'\'') {
      special(ReplacementPart::Kind::kAfter);
      ++i;
    } else if (IsDigit(next)) {
      const std::size_t one = next - u'0';
      const bool hasSecond = i + 2 < replacement.size() && IsDigit(replacement[i + 2]);
      const std::size_t two = hasSecond ? one * 10 + (replacement[i + 2] - u'0') : 0;
      if (hasSecond && two >= 1 && two <= groupCount) {
        special(ReplacementPart::Kind::kGroup, two);
        i += 2;
      } else if (one >= 1 && one <= groupCount) {
        special(ReplacementPart::Kind::kGroup, one);
        i += 1;
      } else {
        literal(u"$");
      }
    } else {
      literal(u"$");
    }
  }
  return parts;
}

}  // namespace

// ---- The engine ---------------------------------------------------------------------

RegexEngine::RegexEngine(RegexLimits limits) : limits_(limits) {}
RegexEngine::~RegexEngine() = default;
RegexEngine::RegexEngine(RegexEngine&&) noexcept = default;
RegexEngine& RegexEngine::operator=(RegexEngine&&) noexcept = default;

void RegexEngine::SetIgnoreCase(bool value) {
  if (value == ignoreCase_) return;
  ignoreCase_ = value;
  compiled_.reset();
  refused_ = false;
}

void RegexEngine::SetMultiline(bool value) {
  if (value == multiline_) return;
  multiline_ = value;
  compiled_.reset();
  refused_ = false;
}

bool RegexEngine::SetSingleline(bool /*value*/) { return false; }

void RegexEngine::SetPattern(std::u16string pattern) {
  pattern_ = std::move(pattern);
  compiled_.reset();
  refused_ = false;
}

const regex_internal::CompiledPattern* RegexEngine::Compile(std::size_t subjectUnits) {
  if (compiled_) {
    if (subjectUnits >= kJitSubjectUnits) PrepareJit(*compiled_);
    return compiled_.get();
  }
  if (refused_) return nullptr;
  refused_ = true;  // until the steps below succeed
  const std::optional<std::u16string> translated =
      regex_internal::TranslatePattern(pattern_, ignoreCase_, multiline_);
  if (!translated) return nullptr;

  auto compiled = std::make_unique<regex_internal::CompiledPattern>();
  const std::uint32_t options = PCRE2_DOLLAR_ENDONLY | PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF |
                                PCRE2_NEVER_UCP | PCRE2_NEVER_BACKSLASH_C |
                                (ignoreCase_ ? PCRE2_CASELESS : 0);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  static constexpr char16_t kEmpty[] = u"";
  compiled->code.reset(
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated->empty() ? kEmpty : translated->data()),
                    translated->size(), options, &errorCode, &errorOffset, nullptr));
  if (!compiled->code) return nullptr;
  std::uint32_t captureCount = 0;
  pcre2_pattern_info(compiled->code.get(), PCRE2_INFO_CAPTURECOUNT, &captureCount);
  compiled->groupCount = captureCount;

  compiled->context.reset(pcre2_match_context_create(nullptr));
  if (!compiled->context) return nullptr;
  pcre2_set_match_limit(compiled->context.get(), limits_.matchLimit);
  pcre2_set_depth_limit(compiled->context.get(), limits_.depthLimit);
  pcre2_set_heap_limit(compiled->context.get(), limits_.heapLimitKiB);
  refused_ = false;
  compiled_ = std::move(compiled);
  if (subjectUnits >= kJitSubjectUnits) PrepareJit(*compiled_);
  return compiled_.get();
}

void RegexEngine::PrepareJit(regex_internal::CompiledPattern& compiled) {
  if (compiled.jitTried) return;
  compiled.jitTried = true;
  // Without JIT (not built for this machine, or a pattern too large for it)
  // the interpreter runs the same pattern.
  if (pcre2_jit_compile(compiled.code.get(), PCRE2_JIT_COMPLETE) != 0) return;
  const std::size_t startSize = std::min<std::size_t>(32 * 1024, limits_.jitStackBytes);
  compiled.jitStack.reset(pcre2_jit_stack_create(startSize, limits_.jitStackBytes, nullptr));
  if (compiled.jitStack) {
    pcre2_jit_stack_assign(compiled.context.get(), nullptr, compiled.jitStack.get());
    compiled.jit = true;
  }
}

std::shared_ptr<const RegexMatchCollection> RegexEngine::Execute(SharedWideText subject) {
  if (!subject) subject = MakeSharedWideText({});
  const regex_internal::CompiledPattern* compiled = Compile(subject->size());
  if (compiled == nullptr) return nullptr;
  std::optional<std::vector<std::uint32_t>> spans =
      FindMatches(*compiled, *subject, global_, limits_);
  if (!spans) return nullptr;
  return std::make_shared<const RegexMatchCollection>(std::move(subject), compiled->groupCount,
                                                      std::move(*spans));
}

std::optional<std::u16string> RegexEngine::Replace(std::u16string_view subject,
                                                   std::u16string_view replacement) {
  const regex_internal::CompiledPattern* compiled = Compile(subject.size());
  if (compiled == nullptr) return std::nullopt;
  const std::optional<std::vector<std::uint32_t>> spans =
      FindMatches(*compiled, subject, global_, limits_);
  if (!spans) return std::nullopt;
  const std::vector<ReplacementPart> parts = ParseReplacement(replacement, compiled->groupCount);
  const std::size_t width = 2 * (compiled->groupCount + 1);
  std::u16string out;
  out.reserve(subject.size());
  std::size_t copied = 0;
  for (std::size_t m = 0; m + width <= spans->size(); m += width) {
    const std::size_t start = (*spans)[m];
    const std::size_t end = (*spans)[m + 1];
    out.append(subject.substr(copied, start - copied));
    for (const ReplacementPart& part : parts) {
      switch (part.kind) {
        case ReplacementPart::Kind::kLiteral:
          out += part.literal;
          break;
        case ReplacementPart::Kind::kMatch:
          out.append(subject.substr(start, end - start));
          break;
        case ReplacementPart::Kind::kBefore:
          out.append(subject.substr(0, start));
          break;
        case ReplacementPart::Kind::kAfter:
          out.append(subject.substr(end));
          break;
        case ReplacementPart::Kind::kGroup: {
          const std::size_t groupStart = (*spans)[m + 2 * part.group];
          const std::size_t groupEnd = (*spans)[m + 2 * part.group + 1];
          if (groupStart != kUnset && groupEnd != kUnset && groupEnd >= groupStart) {
            out.append(subject.substr(groupStart, groupEnd - groupStart));
          }
          break;
        }
      }
    }
    copied = end;
  }
  out.append(subject.substr(copied));
  return out;
}

namespace regex_internal {
std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool ignoreCase,
                                               bool multiline) {
  return PatternTranslator(pattern, ignoreCase, multiline).Run();
}
}  // namespace regex_internal

}  // namespace timesync::platform

// The regular-expression engine on Windows: the system's scriptable
// "VBScript.RegExp" object, driven through IDispatch. The object reports the
// text of each group but not where it lies, so the collection's subject is
// the searched text followed by the groups' texts, and each group's span
// points into that tail; matches point into the searched text as usual.
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "platform/regex_engine.h"

// After the interface: the system headers define names it also uses.
#include "platform/automation_windows.h"

namespace timesync::platform {
namespace {

constexpr std::uint32_t kUnset = kUnsetSpan;

std::wstring_view AsWide(std::u16string_view text) {
  return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}

std::u16string FromWide(const std::wstring& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

}  // namespace

// ---- The engine ---------------------------------------------------------------------

namespace regex_internal {
struct CompiledPattern {
  AutomationObject regexp;
};
}  // namespace regex_internal

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

// The object with the pattern and switches set. The object itself checks the
// pattern only when it searches.
const regex_internal::CompiledPattern* RegexEngine::Compile(std::size_t /*subjectUnits*/) {
  if (compiled_) return compiled_.get();
  if (refused_) return nullptr;
  auto compiled = std::make_unique<regex_internal::CompiledPattern>();
  compiled->regexp = CreateAutomationObject(L"VBScript.RegExp");
  if (!compiled->regexp ||
      !PutProperty(compiled->regexp, L"Pattern", VariantFromText(AsWide(pattern_))) ||
      !PutProperty(compiled->regexp, L"IgnoreCase", VariantFromBool(ignoreCase_)) ||
      !PutProperty(compiled->regexp, L"Multiline", VariantFromBool(multiline_))) {
    refused_ = true;
    return nullptr;
  }
  compiled_ = std::move(compiled);
  return compiled_.get();
}

std::shared_ptr<const RegexMatchCollection> RegexEngine::Execute(SharedWideText subject) {
  if (!subject) subject = MakeSharedWideText({});
  if (subject->size() >= kUnset) return nullptr;  // spans count in 32 bits
  const regex_internal::CompiledPattern* compiled = Compile(subject->size());
  if (compiled == nullptr) return nullptr;
  if (!PutProperty(compiled->regexp, L"Global", VariantFromBool(global_))) return nullptr;
  const Variant subjectValue = VariantFromText(AsWide(*subject));
  const AutomationObject collection =
      ObjectOf(CallMethod(compiled->regexp, L"Execute", {&subjectValue}));
  if (!collection) return nullptr;  // a refused pattern, or a failed search
  const long count = VariantToLong(GetProperty(collection, L"Count"));
  // A global search finds at most one match per position, the end included.
  if (count < 0 || static_cast<std::size_t>(count) > subject->size() + 1) return nullptr;

  std::u16string extended = *subject;
  std::vector<std::uint32_t> spans;
  std::size_t groupCount = 0;
  for (long i = 0; i < count; ++i) {
    const AutomationObject match = ObjectOf(GetIndexedProperty(collection, L"Item", i));
    const long first = VariantToLong(GetProperty(match, L"FirstIndex"));
    const long length = VariantToLong(GetProperty(match, L"Length"));
    if (!match || first < 0 || length < 0 ||
        static_cast<std::size_t>(first) + static_cast<std::size_t>(length) > subject->size()) {
      return nullptr;
    }
    spans.push_back(static_cast<std::uint32_t>(first));
    spans.push_back(static_cast<std::uint32_t>(first + length));
    const AutomationObject groups = ObjectOf(GetProperty(match, L"SubMatches"));
    if (i == 0) {
      const long reported = VariantToLong(GetProperty(groups, L"Count"));
      if (reported < 0) return nullptr;
      groupCount = static_cast<std::size_t>(reported);
    }
    for (std::size_t g = 0; g < groupCount; ++g) {
      const Variant text = GetIndexedProperty(groups, L"Item", static_cast<long>(g));
      if (text.IsEmpty()) {  // the group took no part
        spans.push_back(kUnset);
        spans.push_back(kUnset);
        continue;
      }
      const std::u16string groupText = FromWide(VariantToText(text));
      if (extended.size() + groupText.size() >= kUnset) return nullptr;
      spans.push_back(static_cast<std::uint32_t>(extended.size()));
      extended += groupText;
      spans.push_back(static_cast<std::uint32_t>(extended.size()));
    }
  }
  return std::make_shared<const RegexMatchCollection>(MakeSharedWideText(std::move(extended)),
                                                      groupCount, std::move(spans));
}

std::optional<std::u16string> RegexEngine::Replace(std::u16string_view subject,
                                                   std::u16string_view replacement) {
  const regex_internal::CompiledPattern* compiled = Compile(subject.size());
  if (compiled == nullptr) return std::nullopt;
  if (!PutProperty(compiled->regexp, L"Global", VariantFromBool(global_))) return std::nullopt;
  const Variant subjectValue = VariantFromText(AsWide(subject));
  const Variant replacementValue = VariantFromText(AsWide(replacement));
  const Variant result =
      CallMethod(compiled->regexp, L"Replace", {&subjectValue, &replacementValue});
  if (result.get().vt != VT_BSTR) return std::nullopt;
  return FromWide(VariantToText(result));
}

}  // namespace timesync::platform

#include "regex/regex_object.h"

#include <utility>

#include "platform/codepage.h"
#include "platform/component_library.h"

namespace timesync {
namespace {

Text ToText(std::u16string_view wide) { return Text::FromString(platform::Utf16ToCp936(wide)); }

}  // namespace

RegexObject::RegexObject() : subjectValue(std::int32_t{0}) { platform::CoInitialize(); }

RegexObject::~RegexObject() {
  regexEngine.reset();
  matchCollection.reset();
  subjectValue = std::int32_t{0};
  subjectText.reset();
  platform::CoUninitialize();
}

// A copy holds its own initialisation of the component library, which its
// destructor gives back: every object, however made, is balanced by itself.
RegexObject::RegexObject(const RegexObject& other)
    : regexEngine(other.regexEngine),
      matchCollection(other.matchCollection),
      subjectValue(other.subjectValue),
      subjectText(other.subjectText) {
  platform::CoInitialize();
}

// Assignment keeps the target's own initialisation.
RegexObject& RegexObject::operator=(const RegexObject& other) {
  regexEngine = other.regexEngine;
  matchCollection = other.matchCollection;
  subjectValue = other.subjectValue;
  subjectText = other.subjectText;
  return *this;
}

bool RegexObject::Execute(const Text& pattern, const Text& subject, bool caseSensitive,
                          bool multiLine, bool globalMatch, bool useQuotePlaceholder) {
  regexEngine.reset();
  matchCollection.reset();
  subjectText.reset();
  auto engine = std::make_shared<platform::RegexEngine>();
  engine->SetIgnoreCase(!caseSensitive);
  engine->SetMultiline(multiLine);
  engine->SetSingleline(true);  // refused: "." never matches a line break
  engine->SetGlobal(globalMatch);
  const Text patternText =
      useQuotePlaceholder ? Replace(pattern, QuotePlaceholder(), "\"") : pattern;
  engine->SetPattern(platform::Cp936ToUtf16(patternText.view()));
  regexEngine = std::move(engine);
  const platform::SharedWideText wideSubject =
      platform::MakeSharedWideText(platform::Cp936ToUtf16(subject.view()));
  subjectValue = wideSubject;
  matchCollection = regexEngine->Execute(wideSubject);
  return matchCollection != nullptr;
}

Text RegexObject::GetPattern() const {
  if (!regexEngine) return Text();
  return ToText(regexEngine->Pattern());
}

// The subject as the engine sees it: the stored string, or the integer's
// digits before the first Execute.
std::u16string_view RegexObject::SubjectAsWideText(std::u16string& digitsBuffer) const {
  if (const auto* wide = std::get_if<platform::SharedWideText>(&subjectValue)) {
    return *wide ? std::u16string_view(**wide) : std::u16string_view();
  }
  const std::string digits = std::to_string(std::get<std::int32_t>(subjectValue));
  digitsBuffer.assign(digits.begin(), digits.end());
  return digitsBuffer;
}

Text RegexObject::ReplaceMatches(const Text& replacement) const {
  if (!regexEngine) return Text();
  std::u16string digitsBuffer;
  const std::optional<std::u16string> replaced = regexEngine->Replace(
      SubjectAsWideText(digitsBuffer), platform::Cp936ToUtf16(replacement.view()));
  return replaced ? ToText(*replaced) : Text();
}

int RegexObject::MatchCount() const {
  if (!matchCollection) return 0;
  return static_cast<int>(TruncateToInteger(static_cast<double>(matchCollection->Count())));
}

std::optional<platform::RegexMatch> RegexObject::MatchItem(int index) const {
  if (!matchCollection) return std::nullopt;
  return matchCollection->Item(static_cast<std::int64_t>(index) - 1);
}

// The 0-based byte offset of `found` in the subject, searched from the match's
// engine index; -2 when it is not there.
int RegexObject::FoundPosition(const Text& found,
                               const std::optional<platform::RegexMatch>& match) const {
  if (!subjectText) {
    std::u16string digitsBuffer;
    subjectText = std::make_shared<const Text>(ToText(SubjectAsWideText(digitsBuffer)));
  }
  const Text& haystack = *subjectText;
  const std::int64_t firstIndex =
      match ? TruncateToInteger(static_cast<double>(match->FirstIndex())) : 0;
  const bool ignoreCase = regexEngine && regexEngine->IgnoreCase();
  const std::int64_t foundAt = Find(haystack, found, firstIndex + 1, ignoreCase);
  return static_cast<int>(foundAt - 1);
}

Text RegexObject::MatchText(int index, int* position) const {
  const std::optional<platform::RegexMatch> match = MatchItem(index);
  const Text text = match ? ToText(match->Value()) : Text();
  if (position != nullptr) *position = FoundPosition(text, match);
  return text;
}

Text RegexObject::SubMatchText(int index, int group, int* position) const {
  const std::optional<platform::RegexMatch> match = MatchItem(index);
  std::optional<std::u16string> groupText;
  if (match) groupText = match->SubMatches().Item(static_cast<std::int64_t>(group) - 1);
  const Text text = groupText ? ToText(*groupText) : Text();
  if (position != nullptr) *position = FoundPosition(text, match);
  return text;
}

int RegexObject::SubMatchCount() const {
  const std::optional<platform::RegexMatch> first = MatchItem(1);
  if (!first) return 0;
  return static_cast<int>(TruncateToInteger(static_cast<double>(first->SubMatches().Count())));
}

}  // namespace timesync

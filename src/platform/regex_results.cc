// The match collection, matches and group collections that both regular-
// expression engines hand out: spans into one shared UTF-16 subject.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/regex_engine.h"

namespace timesync::platform {
namespace {

std::u16string SpanText(const std::u16string& subject, std::uint32_t start, std::uint32_t end) {
  if (start == kUnsetSpan || end == kUnsetSpan || end < start || end > subject.size()) return {};
  return subject.substr(start, end - start);
}

}  // namespace

SharedWideText MakeSharedWideText(std::u16string text) {
  return std::make_shared<const std::u16string>(std::move(text));
}

RegexSubMatches::RegexSubMatches(SharedWideText subject, std::vector<std::uint32_t> spans)
    : subject_(std::move(subject)), spans_(std::move(spans)) {}

std::int64_t RegexSubMatches::Count() const { return static_cast<std::int64_t>(spans_.size() / 2); }

std::optional<std::u16string> RegexSubMatches::Item(std::int64_t index) const {
  if (index < 0 || index >= Count() || !subject_) return std::nullopt;
  const std::size_t i = static_cast<std::size_t>(index);
  return SpanText(*subject_, spans_[2 * i], spans_[2 * i + 1]);
}

RegexMatch::RegexMatch(SharedWideText subject, std::vector<std::uint32_t> spans)
    : subject_(std::move(subject)), spans_(std::move(spans)) {}

std::u16string RegexMatch::Value() const { return SpanText(*subject_, spans_[0], spans_[1]); }

std::int64_t RegexMatch::FirstIndex() const { return static_cast<std::int64_t>(spans_[0]); }

RegexSubMatches RegexMatch::SubMatches() const {
  return RegexSubMatches(subject_, std::vector<std::uint32_t>(spans_.begin() + 2, spans_.end()));
}

RegexMatchCollection::RegexMatchCollection(SharedWideText subject, std::size_t groupCount,
                                           std::vector<std::uint32_t> spans)
    : subject_(std::move(subject)), groupCount_(groupCount), spans_(std::move(spans)) {}

std::int64_t RegexMatchCollection::Count() const {
  return static_cast<std::int64_t>(spans_.size() / (2 * (groupCount_ + 1)));
}

std::optional<RegexMatch> RegexMatchCollection::Item(std::int64_t index) const {
  if (index < 0 || index >= Count()) return std::nullopt;
  const std::size_t width = 2 * (groupCount_ + 1);
  const auto first = spans_.begin() + static_cast<std::ptrdiff_t>(width * index);
  return RegexMatch(subject_, std::vector<std::uint32_t>(first, first + width));
}

}  // namespace timesync::platform

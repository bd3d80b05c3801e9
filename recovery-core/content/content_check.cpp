#include "recovery-core/content/content_check.hpp"

#include <algorithm>
#include <vector>

#include "recovery-core/content/content_messages.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kProbeBytes = kContentProbeBytes;

constexpr int kScoreWithChain = 65;
constexpr int kScoreWithoutChain = 35;
constexpr int kUnreadableStartPenalty = 20;
constexpr int kSignatureFoundBonus = 15;
constexpr int kSignatureAgreesBonus = 25;
constexpr int kSignatureDisagreesPenalty = 30;

Confidence grade(int score) {
  if (score >= 80) return Confidence::High;
  if (score >= 50) return Confidence::Medium;
  return Confidence::Low;
}

// The verdict of the extension against the content: its note and score change.
struct Verdict {
  std::string_view note;
  int score_change = 0;
};

Verdict weigh_extension(std::optional<FileKind> expected, std::optional<FileKind> detected) {
  if (!expected && !detected) return {kNoKnownSignatureNote, 0};
  if (!expected) return {kSignatureFoundNote, kSignatureFoundBonus};
  if (!detected) return {kSignatureMissingNote, 0};
  if (*expected == *detected) return {kSignatureAgreesNote, kSignatureAgreesBonus};
  return {kSignatureDisagreesNote, -kSignatureDisagreesPenalty};
}

}  // namespace

std::string_view confidence_name(Confidence confidence) {
  switch (confidence) {
    case Confidence::High:
      return "high";
    case Confidence::Medium:
      return "medium";
    case Confidence::Low:
      return "low";
  }
  return {};
}

ContentCheck check_content(ByteSource& source, std::uint64_t data_offset, std::uint64_t size,
                           std::string_view name, bool has_chain) {
  // One read of the file's first bytes, contiguous from its first cluster.
  std::vector<std::uint8_t> start(static_cast<std::size_t>(std::min(size, kProbeBytes)));
  if (!read_exact(source, data_offset, start))
    return check_first_bytes(std::nullopt, name, has_chain);
  return check_first_bytes(std::span<const std::uint8_t>(start), name, has_chain);
}

ContentCheck check_first_bytes(std::optional<std::span<const std::uint8_t>> start,
                               std::string_view name, bool has_chain) {
  ContentCheck check;
  check.validation_notes.emplace_back(has_chain ? kChainKeptNote : kNoChainNote);
  int score = has_chain ? kScoreWithChain : kScoreWithoutChain;
  if (start) {
    check.detected_kind = detect_content_kind(*start);
  } else {
    check.validation_notes.emplace_back(kUnreadableStartNote);
    score -= kUnreadableStartPenalty;
  }

  const Verdict verdict = weigh_extension(kind_from_extension(name), check.detected_kind);
  check.validation_notes.emplace_back(verdict.note);
  score += verdict.score_change;

  check.confidence = grade(score);
  check.confidence_score = static_cast<std::uint8_t>(std::max(score, 0));
  return check;
}

void lower_score(ContentCheck& check, int penalty) {
  const int score = std::max(int{check.confidence_score} - penalty, 0);
  check.confidence_score = static_cast<std::uint8_t>(score);
  check.confidence = grade(score);
}

bool content_matches_name(ByteSource& source, std::uint64_t data_offset, std::uint64_t size,
                          std::string_view name) {
  const std::optional<FileKind> expected = kind_from_extension(name);
  if (!expected) return false;
  std::vector<std::uint8_t> start(static_cast<std::size_t>(std::min(size, kProbeBytes)));
  if (!read_exact(source, data_offset, start)) return false;
  return detect_content_kind(start) == expected;
}

}  // namespace kestrel

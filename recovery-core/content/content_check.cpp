#include <algorithm>
#include <vector>

#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/content_signature.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kProbeBytes = 4096;

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

}  // namespace

ContentCheck check_content(ByteSource& source, std::uint64_t data_offset, std::uint64_t size,
                           std::string_view name, bool has_chain) {
  ContentCheck check;
  int score = 0;
  if (has_chain) {
    check.validation_notes.emplace_back(kChainKeptNote);
    score = kScoreWithChain;
  } else {
    check.validation_notes.emplace_back(kNoChainNote);
    score = kScoreWithoutChain;
  }

  // One read of the file's first bytes, contiguous from its first cluster.
  std::vector<std::uint8_t> start(static_cast<std::size_t>(std::min(size, kProbeBytes)));
  if (read_exact(source, data_offset, start)) {
    check.detected_kind = detect_content_kind(start);
  } else {
    check.validation_notes.emplace_back(kUnreadableStartNote);
    score -= kUnreadableStartPenalty;
  }

  const std::optional<FileKind> expected = kind_from_extension(name);
  const std::optional<FileKind>& detected = check.detected_kind;
  if (!expected && !detected) {
    check.validation_notes.emplace_back(kNoKnownSignatureNote);
  } else if (!expected) {
    check.validation_notes.emplace_back(kSignatureFoundNote);
    score += kSignatureFoundBonus;
  } else if (!detected) {
    check.validation_notes.emplace_back(kSignatureMissingNote);
  } else if (*expected == *detected) {
    check.validation_notes.emplace_back(kSignatureAgreesNote);
    score += kSignatureAgreesBonus;
  } else {
    check.validation_notes.emplace_back(kSignatureDisagreesNote);
    score -= kSignatureDisagreesPenalty;
  }

  check.confidence = grade(score);
  check.confidence_score = static_cast<std::uint8_t>(std::max(score, 0));
  return check;
}

}  // namespace kestrel

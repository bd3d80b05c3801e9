#include <algorithm>
#include <vector>

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
    check.validation_notes.emplace_back("파일 시스템 클러스터 체인이 남아 있습니다.");
    score = kScoreWithChain;
  } else {
    check.validation_notes.emplace_back("클러스터 체인이 없어 연속 영역으로 복구해야 합니다.");
    score = kScoreWithoutChain;
  }

  // One read of the file's first bytes, contiguous from its first cluster.
  std::vector<std::uint8_t> start(static_cast<std::size_t>(std::min(size, kProbeBytes)));
  if (read_exact(source, data_offset, start)) {
    check.detected_kind = detect_content_kind(start);
  } else {
    check.validation_notes.emplace_back("파일 시작 영역을 읽지 못했습니다.");
    score -= kUnreadableStartPenalty;
  }

  const std::optional<FileKind> expected = kind_from_extension(name);
  const std::optional<FileKind>& detected = check.detected_kind;
  if (!expected && !detected) {
    check.validation_notes.emplace_back("알려진 파일 내용 시그니처가 없습니다.");
  } else if (!expected) {
    check.validation_notes.emplace_back("파일 내용 시그니처를 확인했습니다.");
    score += kSignatureFoundBonus;
  } else if (!detected) {
    check.validation_notes.emplace_back("확장자는 알려진 형식이지만 내용 시그니처를 확인하지 못했습니다.");
  } else if (*expected == *detected) {
    check.validation_notes.emplace_back("확장자와 파일 내용 시그니처가 일치합니다.");
    score += kSignatureAgreesBonus;
  } else {
    check.validation_notes.emplace_back("확장자와 파일 내용 시그니처가 일치하지 않습니다.");
    score -= kSignatureDisagreesPenalty;
  }

  check.confidence = grade(score);
  check.confidence_score = static_cast<std::uint8_t>(std::max(score, 0));
  return check;
}

}  // namespace kestrel

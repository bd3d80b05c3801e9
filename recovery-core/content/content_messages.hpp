#pragma once

#include <string_view>

namespace kestrel {

// The Korean notes the content check gives every candidate, kept together for
// review and translation. Callers compare them byte for byte.

// First note: whether the candidate's cluster chain survived.
inline constexpr std::string_view kChainKeptNote = "파일 시스템 클러스터 체인이 남아 있습니다.";
inline constexpr std::string_view kNoChainNote = "클러스터 체인이 없어 연속 영역으로 복구해야 합니다.";

// Added when the file's first bytes could not be read.
inline constexpr std::string_view kUnreadableStartNote = "파일 시작 영역을 읽지 못했습니다.";

// Last note: the file's extension weighed against its content signature.
inline constexpr std::string_view kNoKnownSignatureNote = "알려진 파일 내용 시그니처가 없습니다.";
inline constexpr std::string_view kSignatureFoundNote = "파일 내용 시그니처를 확인했습니다.";
inline constexpr std::string_view kSignatureMissingNote =
    "확장자는 알려진 형식이지만 내용 시그니처를 확인하지 못했습니다.";
inline constexpr std::string_view kSignatureAgreesNote = "확장자와 파일 내용 시그니처가 일치합니다.";
inline constexpr std::string_view kSignatureDisagreesNote = "확장자와 파일 내용 시그니처가 일치하지 않습니다.";

}  // namespace kestrel

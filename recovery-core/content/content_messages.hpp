#pragma once

#include <string_view>

namespace kestrel {

// The Korean notes the content check gives every candidate, kept together for
// review and translation. Callers compare them byte for byte.

// First note: whether the candidate's cluster chain survived.
inline constexpr std::string_view kChainKeptNote = "파일 시스템 클러스터 체인이 남아 있습니다.";
inline constexpr std::string_view kNoChainNote =
    "클러스터 체인이 없어 연속 영역으로 복구해야 합니다.";

// Added when the file's first bytes could not be read.
inline constexpr std::string_view kUnreadableStartNote = "파일 시작 영역을 읽지 못했습니다.";

// Last note: the file's extension weighed against its content signature.
inline constexpr std::string_view kNoKnownSignatureNote = "알려진 파일 내용 시그니처가 없습니다.";
inline constexpr std::string_view kSignatureFoundNote = "파일 내용 시그니처를 확인했습니다.";
inline constexpr std::string_view kSignatureMissingNote =
    "확장자는 알려진 형식이지만 내용 시그니처를 확인하지 못했습니다.";
inline constexpr std::string_view kSignatureAgreesNote =
    "확장자와 파일 내용 시그니처가 일치합니다.";
inline constexpr std::string_view kSignatureDisagreesNote =
    "확장자와 파일 내용 시그니처가 일치하지 않습니다.";

// Carved files, found by their content in free space. The first note every
// carved file carries, then one that says how its end was found.
inline constexpr std::string_view kCarvedNote =
    "디렉터리 엔트리 없이 빈 영역에서 파일 내용으로 찾은 파일입니다.";
inline constexpr std::string_view kJpegEndNote =
    "JPEG 마커를 SOI부터 EOI까지 따라가 파일 끝을 찾았습니다.";
inline constexpr std::string_view kPngEndNote =
    "PNG 청크를 IEND까지 따라가며 모든 CRC를 확인했습니다.";
inline constexpr std::string_view kGifEndNote =
    "GIF 블록을 트레일러까지 따라가 파일 끝을 찾았습니다.";
inline constexpr std::string_view kBmpEndNote =
    "BMP 헤더의 파일 크기가 이미지 크기와 맞아 그 크기로 끝을 정했습니다.";
inline constexpr std::string_view kBmpUncheckedEndNote =
    "압축된 BMP라 헤더의 파일 크기로 끝을 정했지만 이미지 크기로 확인하지 못했습니다.";
inline constexpr std::string_view kPdfEndNote =
    "마지막 %%EOF 앞의 startxref가 상호 참조 표를 가리켜 그 %%EOF를 파일 끝으로 정했습니다.";
inline constexpr std::string_view kPdfUncheckedEndNote =
    "마지막 %%EOF를 파일 끝으로 정했지만 startxref로 확인하지 못했습니다.";
inline constexpr std::string_view kZipEndNote =
    "ZIP 로컬 헤더와 중앙 디렉터리를 끝 레코드와 주석까지 따라가 파일 끝을 찾았습니다.";
inline constexpr std::string_view kIsoMediaEndNote =
    "ISO 미디어의 최상위 박스를 파일에 속한 마지막 박스까지 따라갔습니다.";
inline constexpr std::string_view kRiffEndNote =
    "RIFF 헤더의 크기로 끝을 정하고 하위 청크가 그 크기를 정확히 채우는지 확인했습니다.";
inline constexpr std::string_view kRiffUncheckedEndNote =
    "RIFF 헤더의 크기로 끝을 정했지만 하위 청크가 그 크기와 맞지 않습니다.";
inline constexpr std::string_view kTiffEndNote =
    "TIFF IFD가 가리키는 데이터 가운데 가장 먼 끝을 파일 끝으로 정했습니다.";
inline constexpr std::string_view kCarvedBrokenNote =
    "파일 구조가 도중에 깨져 구조가 유효한 앞부분까지만 복구합니다.";
inline constexpr std::string_view kCarvedTwoPiecesNote =
    "두 조각으로 나뉜 파일입니다: 첫 조각이 끊긴 곳 뒤의 파일들을 건너 두 번째 조각을 찾았고, 이어 "
    "붙인 파일 전체의 구조가 끝까지 맞는 것을 확인했습니다.";
inline constexpr std::string_view kCarvedManyPiecesNote =
    "세 조각 이상으로 나뉜 파일입니다: 조각이 끊길 때마다 그 뒤에서 데이터가 이어지는 다음 조각을 "
    "찾았고, 이어 붙인 파일 전체가 끝까지 디코딩되고 구조가 맞는 것을 확인했습니다.";
inline constexpr std::string_view kCarvedManyZipPiecesNote =
    "세 조각 이상으로 나뉜 압축 파일입니다: 끝 레코드로 마지막 조각을, 끊긴 곳에 와야 할 항목 "
    "헤더로 그 사이 조각을 찾았고, 조각에 걸친 항목을 CRC-32로, 이어 붙인 파일의 구조를 끝 "
    "레코드까지 확인했습니다.";
inline constexpr std::string_view kCarvedManyMoviePiecesNote =
    "세 조각 이상으로 나뉜 동영상입니다: 샘플 표가 가리키는 자리에서 영상 샘플의 NAL 구조가 다시 "
    "맞는 곳으로 조각마다 이음매를 정했고, 이어 붙인 파일의 상자 구조가 끝까지 맞는 것을 "
    "확인했습니다.";
inline constexpr std::string_view kIsoMediaUnpinnedJoinNote =
    "상자를 끝까지 따라가 끝을 정했지만, 이음매 바로 뒤 단위에는 영상 샘플의 경계가 없어 그 "
    "단위가 이 파일의 것인지는 확인하지 못했습니다.";
inline constexpr std::string_view kCarvedUnendedNote =
    "빈 영역이나 형식별 탐색 상한 안에서 파일 끝을 찾지 못해 그 지점까지만 복구합니다.";

}  // namespace kestrel

#pragma once

#include <string_view>

namespace kestrel {

// The invalid-structure text of the chain rules (each file system names its own
// text for a cluster outside its area).
inline constexpr std::string_view kChainShorterThanFile = "cluster chain is shorter than the file";

// The note of a deleted file read around the clusters of others (--untangle);
// it takes the place of the note that says the file must be read contiguously.
inline constexpr std::string_view kUntangledRunsNote =
    "지워진 체인 대신 디렉터리 엔트리의 시작 클러스터, 크기, 생성 시각과 "
    "사용 중인 클러스터를 근거로 다른 파일이 차지한 클러스터를 건너뛰어 "
    "조각별로 읽도록 계획했습니다.";

}  // namespace kestrel

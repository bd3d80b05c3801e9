#pragma once

#include <string_view>

namespace kestrel {

// Notes a walk adds to a candidate, after the content check's (in Korean, like
// every candidate note). Callers compare them byte for byte.

// A candidate found inside a deleted folder: the folder's clusters still held
// its entries when the scan read them.
inline constexpr std::string_view kInsideDeletedFolderNote =
    "삭제된 폴더 안에서 찾은 파일입니다. 폴더의 클러스터에 남아 있던 디렉터리 항목에서 읽었습니다.";

// A candidate listed by directory entries that lie in free space where no
// directory reaches them any more (a quick format, an overwritten folder
// entry, a damaged allocation table).
inline constexpr std::string_view kLostDirectoryNote =
    "어느 폴더에서도 닿지 않는 빈 클러스터에 남아 있던 디렉터리 항목에서 찾은 파일입니다. 폴더 "
    "경로는 알 수 없습니다.";

}  // namespace kestrel

#pragma once

#include <string_view>

#include "recovery-core/content/content_dates/content_dates.hpp"

namespace kestrel {

// The Korean notes that name where a carved file's dates were read (with
// --timestamps), kept together for review and translation. Callers compare
// them byte for byte.
inline constexpr std::string_view kExifDateTimeOriginalNote =
    "날짜는 파일 내용의 EXIF DateTimeOriginal에서 읽었습니다.";
inline constexpr std::string_view kExifDateTimeNote =
    "날짜는 파일 내용의 EXIF DateTime에서 읽었습니다(DateTimeOriginal이 없습니다).";
inline constexpr std::string_view kIsoMediaMovieHeaderNote =
    "날짜는 파일 내용의 ISO 미디어 mvhd 박스 생성 시각(UTC)에서 읽었습니다.";
inline constexpr std::string_view kPdfInfoNote =
    "날짜는 파일 내용의 PDF 문서 정보 사전(/ModDate, /CreationDate)에서 읽었습니다.";
inline constexpr std::string_view kOfficeCorePropertiesNote =
    "날짜는 파일 내용의 docProps/core.xml(dcterms:modified, dcterms:created)에서 읽었습니다.";
inline constexpr std::string_view kOpenDocumentMetaNote =
    "날짜는 파일 내용의 meta.xml(dc:date, meta:creation-date)에서 읽었습니다.";

constexpr std::string_view date_source_note(DateSource source) {
  switch (source) {
    case DateSource::ExifDateTimeOriginal:
      return kExifDateTimeOriginalNote;
    case DateSource::ExifDateTime:
      return kExifDateTimeNote;
    case DateSource::IsoMediaMovieHeader:
      return kIsoMediaMovieHeaderNote;
    case DateSource::PdfInfo:
      return kPdfInfoNote;
    case DateSource::OfficeCoreProperties:
      return kOfficeCorePropertiesNote;
    case DateSource::OpenDocumentMeta:
      return kOpenDocumentMetaNote;
  }
  return kExifDateTimeOriginalNote;
}

}  // namespace kestrel

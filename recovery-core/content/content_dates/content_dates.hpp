#pragma once

#include <optional>
#include <span>
#include <string>

#include "recovery-core/content/content_dates/content_bytes.hpp"
#include "recovery-core/content/file_end/file_header.hpp"

namespace kestrel {

// Where in a file's own content its dates were found.
enum class DateSource {
  ExifDateTimeOriginal,  // EXIF 0x9003, with 0x9011 for its offset
  ExifDateTime,          // TIFF 0x0132, with EXIF 0x9010 for its offset
  IsoMediaMovieHeader,   // creation_time of moov/mvhd
  PdfInfo,               // /ModDate and /CreationDate of the trailer's Info dictionary
  OfficeCoreProperties,  // dcterms:modified and dcterms:created of docProps/core.xml
  OpenDocumentMeta,      // dc:date and meta:creation-date of meta.xml
};

// The dates a file's content records about itself: ISO 8601 text at the
// precision the format keeps, with the zone it gives ("Z", "+09:00") or none
// for a local reading. At least one of the two is present.
struct ContentDates {
  std::optional<std::string> modified;
  std::optional<std::string> created;
  DateSource source = DateSource::ExifDateTimeOriginal;

  friend bool operator==(const ContentDates&, const ContentDates&) = default;
};

// The dates a file of `family` records in its content, read through `bytes`.
// Nothing for a family that records none, for a file that holds none, and for
// any structure that does not hold up or any date that cannot be real: the
// readers never fail, and each reads a bounded number of bounded windows.
std::optional<ContentDates> read_content_dates(FileFamily family, ContentBytes& bytes);

// The readers, one per kind of record.
std::optional<ContentDates> jpeg_content_dates(ContentBytes& bytes);
std::optional<ContentDates> tiff_content_dates(ContentBytes& bytes);
std::optional<ContentDates> iso_media_content_dates(ContentBytes& bytes);
std::optional<ContentDates> pdf_content_dates(ContentBytes& bytes);
std::optional<ContentDates> office_content_dates(ContentBytes& bytes);

// The EXIF dates of a TIFF structure that starts at the first byte of `tiff`
// (a TIFF file, or the payload of a JPEG's Exif segment after its name):
// DateTimeOriginal from the EXIF directory, else DateTime from the first IFD.
std::optional<ContentDates> exif_dates(std::span<const std::uint8_t> tiff);

}  // namespace kestrel

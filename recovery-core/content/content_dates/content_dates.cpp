#include "recovery-core/content/content_dates/content_dates.hpp"

namespace kestrel {

std::optional<ContentDates> read_content_dates(FileFamily family, ContentBytes& bytes) {
  switch (family) {
    case FileFamily::Jpeg:
      return jpeg_content_dates(bytes);
    case FileFamily::Tiff:
      return tiff_content_dates(bytes);
    case FileFamily::IsoMedia:
      return iso_media_content_dates(bytes);
    case FileFamily::Pdf:
      return pdf_content_dates(bytes);
    case FileFamily::Zip:
      return office_content_dates(bytes);
    case FileFamily::Png:
    case FileFamily::Gif:
    case FileFamily::Bmp:
    case FileFamily::Riff:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace kestrel

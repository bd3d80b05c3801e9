#include "cli/image_inspection.hpp"

#include <bit>

#include "os/file_system.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/scan/medium_layout.hpp"
#include "recovery-core/scan/scan_filesystems.hpp"

namespace kestrel {

namespace {

// An image whose metadata could not be read is named with the system's
// failure; every later failure of the open is the core error itself.
CommandError open_error(const std::string& image, RecoveryError error) {
  if (const IoError* metadata = error.io_error()) {
    return CommandError::ImageNotInspectable{image, *metadata};
  }
  return error;
}

}  // namespace

std::expected<ImageInspection, CommandError> inspect_image(std::string_view image_path,
                                                           std::uint32_t sector_size,
                                                           const ScanOptions& options) {
  if (sector_size < 512 || !std::has_single_bit(sector_size)) {
    return std::unexpected(CommandError::BadSectorSize{});
  }
  const std::filesystem::path path = path_from_text(image_path);
  const std::string image = path_display(path);

  auto source = open_image_source(path, sector_size);
  if (!source) return std::unexpected(open_error(image, std::move(source).error()));
  const std::uint64_t capacity = source->capacity();

  KESTREL_TRY_ASSIGN(table, detect_medium_layout(*source, capacity, sector_size));
  return ImageInspection{std::move(*source), image, std::move(*table), capacity, options};
}

std::expected<void, CommandError> scan_image(ImageInspection& inspection, ReportSink& sink,
                                             const ProgressSink& progress) {
  KESTREL_TRY(stream_filesystems(inspection.source, inspection.capacity_bytes,
                                 inspection.partition_table, sink, inspection.options, progress));
  return {};
}

}  // namespace kestrel

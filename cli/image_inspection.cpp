#include "cli/image_inspection.hpp"

#include <bit>

#include "cli/cli_messages.hpp"
#include "os/file_system.hpp"
#include "recovery-core/scan/medium_layout.hpp"
#include "recovery-core/scan/scan_filesystems.hpp"

namespace kestrel {

namespace {

// An image whose metadata could not be read is named with the system's text;
// every later failure of the open is the source error's own message.
std::string open_error_message(const std::string& image, const RecoveryError& error) {
  if (const IoError* metadata = error.io_error()) {
    return cli_messages::image_not_inspectable(image, metadata->message());
  }
  return error.message();
}

}  // namespace

std::expected<ImageInspection, std::string> inspect_image(std::string_view image_path,
                                                          std::uint32_t sector_size,
                                                          const ScanOptions& options) {
  if (sector_size < 512 || !std::has_single_bit(sector_size)) {
    return std::unexpected(std::string(cli_messages::kBadSectorSize));
  }
  const std::filesystem::path path = path_from_text(image_path);
  const std::string image = path_display(path);

  auto source = open_image_source(path, sector_size);
  if (!source) return std::unexpected(open_error_message(image, source.error()));
  const std::uint64_t capacity = source->capacity();

  auto table = detect_medium_layout(*source, capacity, sector_size);
  if (!table) return std::unexpected(table.error().message());
  return ImageInspection{std::move(*source), image, std::move(*table), capacity, options};
}

std::expected<void, std::string> scan_image(ImageInspection& inspection, ReportSink& sink,
                                            const ProgressSink& progress) {
  auto scanned = stream_filesystems(inspection.source, inspection.capacity_bytes,
                                    inspection.partition_table, sink, inspection.options, progress);
  if (!scanned) return std::unexpected(scanned.error().message());
  return {};
}

}  // namespace kestrel

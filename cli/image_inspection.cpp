#include "cli/image_inspection.hpp"

#include <bit>

#include "cli/cli_messages.hpp"
#include "os/file_system.hpp"
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
                                                          const ScanOptions& options,
                                                          const ProgressSink& progress) {
  if (sector_size < 512 || !std::has_single_bit(sector_size)) {
    return std::unexpected(std::string(cli_messages::kBadSectorSize));
  }
  const std::filesystem::path path = path_from_text(image_path);
  const std::string image = path_display(path);

  auto source = open_image_source(path, sector_size);
  if (!source) return std::unexpected(open_error_message(image, source.error()));
  const std::uint64_t capacity = source->capacity();

  auto table = detect_partition_table(*source, capacity, sector_size);
  if (!table) return std::unexpected(table.error().message());
  auto reports = scan_filesystems(*source, capacity, *table, options, progress);
  if (!reports) return std::unexpected(reports.error().message());

  return ImageInspection{std::move(*source), image, std::move(*table), std::move(*reports), capacity, options};
}

JsonValue to_json(const ImageInspection& inspection) {
  JsonValue document = JsonValue::object();
  document["image"] = inspection.image;
  document["capacity_bytes"] = inspection.capacity_bytes;
  document["partition_table"] = to_json(inspection.partition_table);
  JsonValue filesystems = JsonValue::array();
  const DirectoryMember directory =
      inspection.options.all_directories ? DirectoryMember::Written : DirectoryMember::Omitted;
  for (const FilesystemReport& report : inspection.filesystems) filesystems.push_back(to_json(report, directory));
  document["filesystems"] = std::move(filesystems);
  return document;
}

}  // namespace kestrel

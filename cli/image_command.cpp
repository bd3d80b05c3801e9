#include "cli/image_command.hpp"

#include <algorithm>
#include <optional>
#include <variant>

#include "cli/destination_space.hpp"
#include "cli/interrupt_signal.hpp"
#include "cli/progress_lines.hpp"
#include "os/file_system.hpp"
#include "os/path_split.hpp"
#include "platform/device_identity/describe_device.hpp"
#include "platform/device_identity/destination_drive_letter.hpp"
#include "platform/device_identity/device_number.hpp"
#include "platform/device_identity/raw_device_source.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/image/checkpoint.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/imaging_engine.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

namespace {

constexpr std::uint64_t kChunkBytes = 1'048'576;
constexpr std::uint8_t kReadRetries = 2;

// The source, described and opened against its description. The destination
// disk is checked first for a physical drive, and once the volume's drive is
// known for a volume.
std::expected<OpenedDevice, CommandError> open_source(DevicePlatform& platform,
                                                      const ImageCommand& command) {
  if (const auto* drive = std::get_if<std::uint32_t>(&command.source)) {
    KESTREL_TRY(check_destination_disk(platform, *drive, command.output));
    KESTREL_TRY_ASSIGN(expected, describe_physical_drive(platform, *drive));
    KESTREL_TRY_ASSIGN(opened, open_physical_drive(platform, *expected));
    return std::move(*opened);
  }
  const char letter = std::get<char>(command.source);
  KESTREL_TRY_ASSIGN(expected, describe_volume(platform, static_cast<unsigned char>(letter)));
  KESTREL_TRY(check_destination_disk(platform, expected->physical_drive_number, command.output));
  KESTREL_TRY_ASSIGN(opened, open_volume(platform, static_cast<unsigned char>(letter), *expected));
  return std::move(*opened);
}

// Whether any disk holding the path is the source; the path must exist.
std::expected<bool, CommandError> held_by(DevicePlatform& platform, std::uint32_t source_drive,
                                          const std::filesystem::path& path) {
  auto drives = platform.physical_drives_holding(path);
  if (!drives) return std::unexpected(drives.error().io_failure());
  return std::ranges::find(*drives, source_drive) != drives->end();
}

// The imaging engine's run, with progress lines on standard error and the
// interrupt and termination requests stopping it between chunks.
std::expected<ImagingResult, RecoveryError> copy_device(
    DeviceReader& reader, const std::filesystem::path& output_path, bool resume,
    const std::optional<ImageCheckpoint>& checkpoint, const std::filesystem::path& checkpoint_file,
    Output& output) {
  const ImagingOptions options{.chunk_size = kChunkBytes,
                               .read_retries = kReadRetries,
                               .resume = resume,
                               .sector_fallback = true};
  InterruptSignal interrupt;
  ImagingEnvironment environment;
  environment.progress = progress_to(output);
  environment.interrupted = [&interrupt] { return interrupt.raised(); };
  return create_image(reader, output_path, options, checkpoint, checkpoint_file, environment);
}

}  // namespace

std::expected<void, CommandError> check_destination_disk(DevicePlatform& platform,
                                                         std::uint32_t source_drive,
                                                         const std::string& output) {
  auto absolute = absolute_path(path_from_text(output));
  if (!absolute) return std::unexpected(absolute.error().io_failure());

  // A lettered output lies on its letter's disk, also when it is written in
  // the extended-length form (\\?\F:\...) the tool itself prints.
  if (const auto letter = destination_drive_letter(path_display(*absolute))) {
    KESTREL_TRY_ASSIGN(number, volume_device_number(platform, *letter));
    if (*number == source_drive) return std::unexpected(CommandError::DestinationOnSourceDisk{});
  }

  // The file system the image would land on: that of the directory it is
  // (or will be) created in, or of its nearest existing ancestor. This also
  // catches a lettered path that runs through a folder where another volume
  // (the source's, say) is mounted, and every path without a letter.
  std::filesystem::path directory = parent_directory(*absolute);
  while (!read_metadata(directory)) {
    std::filesystem::path up = parent_directory(directory);
    if (up == directory) break;
    directory = std::move(up);
  }
  KESTREL_TRY_ASSIGN(on_source, held_by(platform, source_drive, directory));
  if (*on_source) return std::unexpected(CommandError::DestinationOnSourceDisk{});
  // An existing output may itself lead elsewhere: a link, or a device node.
  if (read_metadata(*absolute)) {
    KESTREL_TRY_ASSIGN(output_on_source, held_by(platform, source_drive, *absolute));
    if (*output_on_source) return std::unexpected(CommandError::DestinationOnSourceDisk{});
  }
  return {};
}

std::expected<std::uint64_t, CommandError> check_destination_space(DevicePlatform& platform,
                                                                   std::uint64_t capacity,
                                                                   const std::string& output) {
  const std::filesystem::path path = path_from_text(output);
  auto available = platform.available_space(parent_directory(path));
  if (!available) return std::unexpected(available.error().io_failure());

  std::uint64_t existing = 0;
  if (auto metadata = read_metadata(path)) {
    existing = metadata->length;
  } else if (metadata.error().io_kind() != IoErrorKind::NotFound) {
    return std::unexpected(metadata.error().io_failure());
  }
  const std::uint64_t required = capacity > existing ? capacity - existing : 0;
  if (required > *available) {
    return std::unexpected(CommandError::InsufficientSpace{*available, required});
  }
  return existing;
}

std::expected<void, CommandError> run_image_command(DevicePlatform& platform,
                                                    const ImageCommand& command, Output& output) {
  KESTREL_TRY_ASSIGN(source, open_source(platform, command));

  KESTREL_TRY_ASSIGN(
      existing, check_destination_space(platform, source->expected.capacity_bytes, command.output));

  RawDeviceSource reader(std::move(*source),
                         ReadLimits{.max_request_bytes = kChunkBytes, .require_alignment = true});

  const std::filesystem::path output_path = path_from_text(command.output);
  KESTREL_TRY_ASSIGN(checkpoint_file, checkpoint_path(output_path));

  std::optional<ImageCheckpoint> checkpoint;
  if (command.resume) {
    KESTREL_TRY_ASSIGN(loaded, load_checkpoint(*checkpoint_file, *existing > 0));
    checkpoint = std::move(*loaded);
  }

  KESTREL_TRY_ASSIGN(result, copy_device(reader, output_path, command.resume, checkpoint,
                                         *checkpoint_file, output));

  const JsonValue document = to_json(*result);
  KESTREL_TRY(render_json(document));
  if (auto removed = remove_file(*checkpoint_file);
      !removed && removed.error().io_kind() != IoErrorKind::NotFound) {
    return std::unexpected(removed.error().io_failure());
  }
  KESTREL_TRY(output.print_document(document));
  return {};
}

}  // namespace kestrel

#include "recovery-core/image/imaging_engine.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <utility>

#include "os/device_path_name.hpp"
#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/image/imaging_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

namespace {

// The piece size in which an existing partial image is read back for hashing.
constexpr std::uint64_t kRehashPieceBytes = 1048576;

namespace messages = imaging_messages;

RecoveryError io_failure(const SourceError& error) { return RecoveryError::io(error); }

RecoveryError invalid(std::string_view text) {
  return RecoveryError::invalid_structure(std::string(text));
}

// A lock held by another run: the system's text alone ("resource temporarily
// unavailable") would not say which resource.
RecoveryError lock_failure(const SourceError& error) {
  IoError described = error.io_failure();
  described.text = std::string(messages::kOutputInUse) + described.text;
  return RecoveryError::io(std::move(described));
}

// One imaging run: the device, the open image, the running hash and the
// read-error list, from start-up to the result.
class ImagingRun {
 public:
  ImagingRun(DeviceReader& reader, const ImagingOptions& options,
             const std::filesystem::path& checkpoint_path, const ImagingEnvironment& environment,
             Sha256 hash)
      : reader_(reader),
        device_(reader.expected_identity()),
        options_(options),
        checkpoint_path_(checkpoint_path),
        environment_(environment),
        hash_(std::move(hash)) {}

  std::expected<ImagingResult, RecoveryError> run(
      const std::filesystem::path& output_path, const std::optional<ImageCheckpoint>& checkpoint) {
    KESTREL_TRY_ASSIGN(start, start_up(output_path, checkpoint));
    KESTREL_TRY_ASSIGN(end, copy_from(*start));
    return finish(*start, *end);
  }

 private:
  // Everything before the first chunk (the order is in docs/imaging.md):
  // answers where the copy starts, with its checkpoint saved and reported.
  std::expected<std::uint64_t, RecoveryError> start_up(
      const std::filesystem::path& output_path, const std::optional<ImageCheckpoint>& checkpoint) {
    const std::uint32_t sector = device_.logical_sector_size;
    if (options_.chunk_size == 0 || sector == 0 || options_.chunk_size % sector != 0) {
      return std::unexpected(invalid(messages::kChunkSizeNotSectorMultiple));
    }
    KESTREL_TRY(open_output(output_path));
    KESTREL_TRY_ASSIGN(start, resume_point(checkpoint));
    if (auto sought = image_->seek(*start); !sought)
      return std::unexpected(io_failure(sought.error()));
    buffer_.resize(static_cast<std::size_t>(std::min(options_.chunk_size, device_.capacity_bytes)));
    KESTREL_TRY(save(*start));
    report(*start);
    return *start;
  }

  // Opens and locks the output, refusing anything but a regular file, and any
  // existing file when resuming is off.
  std::expected<void, RecoveryError> open_output(const std::filesystem::path& output_path) {
    // On Windows a volume or a legacy device name opens like a file: its name
    // alone refuses it, before anything is opened.
    if (path_names_device(output_path)) return std::unexpected(RecoveryError::destination_exists());
    if (auto existing = read_metadata(output_path); existing) {
      if (!options_.resume || !existing->is_regular) {
        return std::unexpected(RecoveryError::destination_exists());
      }
    }
    auto opened = environment_.open_image ? environment_.open_image(output_path)
                                          : open_image_file(output_path);
    if (!opened) return std::unexpected(io_failure(opened.error()));
    image_ = std::move(*opened);
    auto regular = image_->is_regular_file();
    if (!regular) return std::unexpected(io_failure(regular.error()));
    if (!*regular) return std::unexpected(RecoveryError::destination_exists());
    if (auto locked = image_->lock_exclusive(); !locked) {
      return std::unexpected(lock_failure(locked.error()));
    }
    return {};
  }

  // The length of the image already there, once it is known to be a prefix
  // of this device's copy: fits the device, whole sectors, and vouched for by
  // a valid checkpoint whose prefix hash it matches.
  std::expected<std::uint64_t, RecoveryError> resume_point(
      const std::optional<ImageCheckpoint>& checkpoint) {
    auto length = image_->length();
    if (!length) return std::unexpected(io_failure(length.error()));
    const std::uint64_t start = *length;
    if (start > device_.capacity_bytes) {
      return std::unexpected(
          RecoveryError::byte_range_exceeds_source(0, start, device_.capacity_bytes));
    }
    if (start % device_.logical_sector_size != 0) {
      return std::unexpected(invalid(messages::kPartialImageNotSectorAligned));
    }
    if (start != 0 && !checkpoint)
      return std::unexpected(invalid(messages::kCheckpointRequiredForResume));
    if (checkpoint) {
      KESTREL_TRY(validate_checkpoint(*checkpoint, device_, start));
      read_errors_ = checkpoint->read_errors;
    }
    KESTREL_TRY(hash_existing_image(start));
    if (!checkpoint) return start;
    KESTREL_TRY_ASSIGN(prefix, hash_.hex_digest_of_copy());
    if (*prefix != checkpoint->image_prefix_sha256) {
      return std::unexpected(
          RecoveryError::checksum_mismatch(std::string(messages::kPrefixDoesNotMatchCheckpoint)));
    }
    return start;
  }

  // Copies chunk after chunk up to the capacity, asking between chunks
  // whether to stop; answers where the copy ended.
  std::expected<std::uint64_t, RecoveryError> copy_from(std::uint64_t position) {
    while (position < device_.capacity_bytes) {
      if (environment_.interrupted && environment_.interrupted()) {
        return std::unexpected(RecoveryError::interrupted());
      }
      KESTREL_TRY_ASSIGN(next, copy_chunk(position));
      position = *next;
    }
    return position;
  }

  // One chunk: read (with retries and the sector fallback), written, hashed,
  // checkpointed and reported. Answers the position after it.
  std::expected<std::uint64_t, RecoveryError> copy_chunk(std::uint64_t position) {
    // Callers read a line as a chunk starts as well as when it is done, so every
    // position but the last is reported twice in a row.
    report(position);
    const std::uint64_t n = std::min(options_.chunk_size, device_.capacity_bytes - position);
    const std::span<std::uint8_t> chunk(buffer_.data(), static_cast<std::size_t>(n));
    KESTREL_TRY(read_chunk(position, chunk));
    if (auto written = image_->write_all(chunk); !written) {
      return std::unexpected(io_failure(written.error()));
    }
    KESTREL_TRY(hash_.update(chunk));
    KESTREL_TRY_ASSIGN(next, checked_add(position, n));
    KESTREL_TRY(save(*next));
    report(*next);
    return *next;
  }

  // The image flushed and closed, and what the run did.
  std::expected<ImagingResult, RecoveryError> finish(std::uint64_t start, std::uint64_t position) {
    KESTREL_TRY_ASSIGN(digest, std::move(hash_).finish());
    if (auto flushed = image_->flush(); !flushed)
      return std::unexpected(io_failure(flushed.error()));
    if (auto closed = image_->close(); !closed) return std::unexpected(io_failure(closed.error()));
    return ImagingResult{
        .source_capacity = device_.capacity_bytes,
        .bytes_written = position,
        .resumed_from = start,
        .sha256 = std::move(*digest),
        .complete = position == device_.capacity_bytes,
        .read_errors = std::move(read_errors_),
    };
  }

  // Feeds the first `length` bytes already in the image to the running hash.
  std::expected<void, RecoveryError> hash_existing_image(std::uint64_t length) {
    if (length == 0) return {};
    if (auto sought = image_->seek(0); !sought) return std::unexpected(io_failure(sought.error()));
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min(kRehashPieceBytes, length)));
    for (std::uint64_t done = 0; done < length;) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), length - done));
      const std::span<std::uint8_t> part(piece.data(), want);
      auto got = image_->read_fully(part);
      if (!got) return std::unexpected(io_failure(got.error()));
      if (*got != want) {
        return std::unexpected(RecoveryError::io(io_error_custom(
            IoErrorKind::UnexpectedEof, std::string(messages::kImageEndedWhileHashed))));
      }
      KESTREL_TRY(hash_.update(part));
      done += want;
    }
    return {};
  }

  // Up to 1 + read_retries attempts, one after another, stopping at success or
  // at an error that is not the generic I/O kind.
  std::expected<void, SourceError> read_with_retries(std::uint64_t offset,
                                                     std::span<std::uint8_t> buffer) {
    std::optional<SourceError> last;
    for (unsigned attempt = 0; attempt <= options_.read_retries; ++attempt) {
      auto read = reader_.read_at(offset, buffer);
      if (read) return {};
      last = std::move(read.error());
      if (!last->is_generic_io()) break;
    }
    return std::unexpected(std::move(*last));
  }

  std::expected<void, RecoveryError> read_chunk(std::uint64_t offset,
                                                std::span<std::uint8_t> chunk) {
    auto read = read_with_retries(offset, chunk);
    if (read) return {};
    // Only a failed transfer of the generic kind is taken for unreadable
    // sectors; a generic failure of the checks before it (the device described
    // again) means the device cannot be trusted and ends the run.
    if (!read.error().may_be_zero_filled() || !options_.sector_fallback) {
      return std::unexpected(RecoveryError(std::move(read.error())));
    }
    return read_sector_by_sector(offset, chunk);
  }

  // Re-reads an unreadable chunk one sector at a time; sectors that still fail
  // with the generic I/O error become zeros and read-error ranges.
  std::expected<void, RecoveryError> read_sector_by_sector(std::uint64_t offset,
                                                           std::span<std::uint8_t> chunk) {
    const std::uint64_t sector = device_.logical_sector_size;
    if (chunk.size() % sector != 0) {
      return std::unexpected(invalid(messages::kFallbackNeedsAlignedChunks));
    }
    for (std::uint64_t k = 0; (k + 1) * sector <= chunk.size(); ++k) {
      KESTREL_TRY_ASSIGN(within, checked_mul(k, sector));
      KESTREL_TRY_ASSIGN(sector_offset, checked_add(offset, *within));
      const auto slice =
          chunk.subspan(static_cast<std::size_t>(*within), static_cast<std::size_t>(sector));
      auto read = read_with_retries(*sector_offset, slice);
      if (read) continue;
      if (!read.error().may_be_zero_filled()) {
        return std::unexpected(RecoveryError(std::move(read.error())));
      }
      std::ranges::fill(slice, std::uint8_t{0});
      auto recorded =
          record_read_error(read_errors_, {*sector_offset, sector, read.error().message()});
      if (!recorded) return std::unexpected(recorded.error());
    }
    return {};
  }

  std::expected<void, RecoveryError> save(std::uint64_t bytes_written) {
    KESTREL_TRY_ASSIGN(prefix, hash_.hex_digest_of_copy());
    KESTREL_TRY_ASSIGN(checkpoint,
                       make_checkpoint(device_, bytes_written, std::move(*prefix), read_errors_));
    return environment_.save_checkpoint
               ? environment_.save_checkpoint(checkpoint_path_, *checkpoint)
               : save_checkpoint(checkpoint_path_, *checkpoint);
  }

  void report(std::uint64_t done) {
    if (!environment_.progress) return;
    environment_.progress("PROGRESS=" + std::to_string(done) + "/" +
                          std::to_string(device_.capacity_bytes));
  }

  DeviceReader& reader_;
  const DeviceInfo device_;  // the expected identity, copied at the start
  const ImagingOptions& options_;
  const std::filesystem::path& checkpoint_path_;
  const ImagingEnvironment& environment_;
  Sha256 hash_;
  std::unique_ptr<ImageFile> image_;
  std::vector<std::uint8_t> buffer_;  // one chunk, allocated once
  std::vector<ReadErrorRange> read_errors_;
};

}  // namespace

JsonValue to_json(const ImagingResult& result) {
  JsonValue ranges = JsonValue::array();
  for (const ReadErrorRange& range : result.read_errors) ranges.push_back(to_json(range));
  JsonValue json = JsonValue::object();
  json["source_capacity"] = result.source_capacity;
  json["bytes_written"] = result.bytes_written;
  json["resumed_from"] = result.resumed_from;
  json["sha256"] = result.sha256;
  json["complete"] = result.complete;
  json["read_errors"] = std::move(ranges);
  return json;
}

std::expected<ImagingResult, RecoveryError> create_image(
    DeviceReader& reader, const std::filesystem::path& output_path, const ImagingOptions& options,
    const std::optional<ImageCheckpoint>& checkpoint, const std::filesystem::path& checkpoint_path,
    const ImagingEnvironment& environment) {
  KESTREL_TRY_ASSIGN(hash, Sha256::create());
  ImagingRun run(reader, options, checkpoint_path, environment, std::move(*hash));
  return run.run(output_path, checkpoint);
}

}  // namespace kestrel

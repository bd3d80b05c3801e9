#include "recovery-core/image/imaging_engine.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <utility>

#include "os/device_path_name.hpp"
#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/image/chunk_read_ahead.hpp"
#include "recovery-core/image/imaging_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/progress/progress_line.hpp"
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
        hash_(std::move(hash)),
        schedule_(environment.durable_every) {}

  std::expected<ImagingResult, RecoveryError> run(
      const std::filesystem::path& output_path, const std::optional<ImageCheckpoint>& checkpoint) {
    auto start = start_up(output_path, checkpoint);
    if (!start) return std::unexpected(start.error());
    auto end = copy_from(*start);
    if (!end) return std::unexpected(end.error());
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
    if (auto opened = open_output(output_path); !opened) return std::unexpected(opened.error());
    auto start = resume_point(checkpoint);
    if (!start) return std::unexpected(start.error());
    if (auto sought = image_->seek(*start); !sought)
      return std::unexpected(io_failure(sought.error()));
    if (auto saved = save(*start); !saved) return std::unexpected(saved.error());
    if (auto durable = make_durable(*start); !durable) return std::unexpected(durable.error());
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
      if (auto valid = validate_checkpoint(*checkpoint, device_, start); !valid) {
        return std::unexpected(valid.error());
      }
      read_errors_ = checkpoint->read_errors;
    }
    if (auto hashed = hash_existing_image(start); !hashed) return std::unexpected(hashed.error());
    auto prefix = hash_.hex_digest_of_copy();
    if (!prefix) return std::unexpected(prefix.error());
    prefix_sha256_ = std::move(*prefix);
    if (checkpoint && prefix_sha256_ != checkpoint->image_prefix_sha256) {
      return std::unexpected(
          RecoveryError::checksum_mismatch(std::string(messages::kPrefixDoesNotMatchCheckpoint)));
    }
    return start;
  }

  // Copies chunk after chunk up to the capacity, the next chunk read while
  // the last one is written; answers where the copy ended. A run that ends
  // early still makes the image and checkpoint it leaves durable.
  std::expected<std::uint64_t, RecoveryError> copy_from(std::uint64_t position) {
    if (position >= device_.capacity_bytes) return position;
    ChunkReadAhead ahead(reader_, options_, position, device_.capacity_bytes, std::move(hash_));
    if (auto started = ahead.start(); !started) return std::unexpected(started.error());
    auto end = copy_chunks(ahead, position);
    if (!end) {
      // The error that ended the run is the one reported, whatever the flush says.
      [[maybe_unused]] const auto durable = make_durable(position);
    }
    return end;
  }

  // Asks between chunks whether to stop: once the previous chunk's checkpoint
  // is saved, so a stopped run leaves an image exactly as long as it says.
  // `position` follows each chunk stored, for the caller's last flush.
  std::expected<std::uint64_t, RecoveryError> copy_chunks(ChunkReadAhead& ahead,
                                                          std::uint64_t& position) {
    while (position < device_.capacity_bytes) {
      if (environment_.interrupted && environment_.interrupted()) {
        return std::unexpected(RecoveryError::interrupted());
      }
      // Callers read a line as a chunk starts as well as when it is done, so
      // every position but the last is reported twice in a row.
      report(position);
      auto chunk = ahead.next();
      if (!chunk) return std::unexpected(chunk.error());
      auto next = store_chunk(**chunk, position);
      ahead.release();
      if (!next) return std::unexpected(next.error());
      position = *next;
      report(position);
    }
    return position;
  }

  // One chunk read (and hashed): written, its zero-filled sectors listed and
  // checkpointed, made durable when that is due. Answers the position after it.
  std::expected<std::uint64_t, RecoveryError> store_chunk(const ReadChunk& chunk,
                                                          std::uint64_t position) {
    if (auto written = image_->write_all(chunk.bytes); !written) {
      return std::unexpected(io_failure(written.error()));
    }
    prefix_sha256_ = chunk.prefix_sha256;
    for (const ReadErrorRange& range : chunk.zero_filled) {
      if (auto recorded = record_read_error(read_errors_, range); !recorded)
        return std::unexpected(recorded.error());
    }
    auto next = checked_add(position, chunk.bytes.size());
    if (!next) return std::unexpected(next.error());
    if (auto saved = save(*next); !saved) return std::unexpected(saved.error());
    if (schedule_.due(*next, DurabilitySchedule::Clock::now())) {
      if (auto durable = make_durable(*next); !durable) return std::unexpected(durable.error());
    }
    return *next;
  }

  // The image made durable and closed, then the checkpoint, and what the run did.
  std::expected<ImagingResult, RecoveryError> finish(std::uint64_t start, std::uint64_t position) {
    if (auto durable = make_durable(position); !durable) return std::unexpected(durable.error());
    if (auto closed = image_->close(); !closed) return std::unexpected(io_failure(closed.error()));
    if (auto closed = checkpoint_->close(); !closed)
      return std::unexpected(io_failure(closed.error()));
    return ImagingResult{
        .source_capacity = device_.capacity_bytes,
        .bytes_written = position,
        .resumed_from = start,
        .sha256 = std::move(prefix_sha256_),
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
      if (auto fed = hash_.update(part); !fed) return std::unexpected(fed.error());
      done += want;
    }
    return {};
  }

  // The checkpoint text replaces the file's (not yet durable). The file is
  // opened at the first save, after the text is known to fit.
  std::expected<void, RecoveryError> save(std::uint64_t bytes_written) {
    auto checkpoint = make_checkpoint(device_, bytes_written, prefix_sha256_, read_errors_);
    if (!checkpoint) return std::unexpected(checkpoint.error());
    auto text = checkpoint_text(*checkpoint);
    if (!text) return std::unexpected(text.error());
    if (!checkpoint_) {
      auto opened = environment_.open_checkpoint ? environment_.open_checkpoint(checkpoint_path_)
                                                 : open_checkpoint_output(checkpoint_path_);
      if (!opened) return std::unexpected(opened.error());
      checkpoint_ = std::move(*opened);
    }
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(text->data()), text->size());
    if (auto replaced = checkpoint_->replace(bytes); !replaced)
      return std::unexpected(io_failure(replaced.error()));
    return {};
  }

  // The image up to `position` on the device, then the checkpoint that
  // claims it: after a crash the durable checkpoint never claims more than
  // the durable image holds.
  std::expected<void, RecoveryError> make_durable(std::uint64_t position) {
    if (auto flushed = image_->flush(); !flushed)
      return std::unexpected(io_failure(flushed.error()));
    if (checkpoint_) {
      if (auto flushed = checkpoint_->flush(); !flushed)
        return std::unexpected(io_failure(flushed.error()));
    }
    schedule_.flushed(position, DurabilitySchedule::Clock::now());
    return {};
  }

  void report(std::uint64_t done) {
    if (!environment_.progress) return;
    environment_.progress(progress_line(done, device_.capacity_bytes));
  }

  DeviceReader& reader_;
  const DeviceInfo device_;  // the expected identity, copied at the start
  const ImagingOptions& options_;
  const std::filesystem::path& checkpoint_path_;
  const ImagingEnvironment& environment_;
  Sha256 hash_;  // the image read back at start-up; the hashing thread's once the copy starts
  std::string prefix_sha256_;  // of the image as far as it is written
  DurabilitySchedule schedule_;
  std::unique_ptr<ImageFile> image_;
  std::unique_ptr<CheckpointOutput> checkpoint_;  // open from the first save
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
  auto hash = Sha256::create();
  if (!hash) return std::unexpected(hash.error());
  ImagingRun run(reader, options, checkpoint_path, environment, std::move(*hash));
  return run.run(output_path, checkpoint);
}

}  // namespace kestrel

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "os/sha256.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/image/device_reader.hpp"
#include "recovery-core/image/imaging_options.hpp"
#include "recovery-core/image/read_error_range.hpp"

namespace kestrel {

// One chunk as read from the device: its bytes (sectors that stayed
// unreadable already zeroed), those sectors' ranges, merged, and the digest
// of the whole image once the chunk is in it.
struct ReadChunk {
  std::uint64_t offset = 0;
  std::span<const std::uint8_t> bytes;
  std::vector<ReadErrorRange> zero_filled;
  std::string prefix_sha256;
};

// The first two stages of the copy, each on a thread of its own: one reads
// the device from `start` to `end` in chunks (read_chunk: retries and the
// sector fallback), the other feeds each chunk read to the running hash and
// takes the digest up to its end. The caller, the third stage, writes the
// chunks in device order. Chunks travel through kSlots buffers, so reading
// runs at most kSlots chunks ahead of the one the caller gives back last, and
// the three stages overlap. The reader is used by the reading thread alone
// while it runs; reading stops at the first chunk that fails, whose error the
// caller meets after every chunk before it. Dropping the object stops both
// threads (between chunks, or between sectors in a fallback) and waits for
// them.
class ChunkReadAhead {
 public:
  // Chunk buffers, each allocated once: one being read, one hashed, one
  // written, and one to spare so that a stage that runs late for a chunk does
  // not hold the others up at once.
  static constexpr std::size_t kSlots = 4;

  // `hash` holds the image's first `start` bytes; the hashing thread owns it from now on.
  ChunkReadAhead(DeviceReader& reader, const ImagingOptions& options, std::uint64_t start,
                 std::uint64_t end, Sha256 hash);
  ChunkReadAhead(const ChunkReadAhead&) = delete;
  ChunkReadAhead& operator=(const ChunkReadAhead&) = delete;
  ~ChunkReadAhead();

  // Starts the reading and the hashing thread; an I/O error when the system
  // has none to give.
  std::expected<void, RecoveryError> start();
  // The next chunk in device order once it is read and hashed, or the error
  // that ended reading or hashing at it. The chunk stays valid until release().
  std::expected<const ReadChunk*, RecoveryError> next();
  // Gives the chunk last returned by next() back for reading into.
  void release();

 private:
  struct Slot {
    std::vector<std::uint8_t> buffer;
    ReadChunk chunk;
    std::optional<RecoveryError> error;
  };

  void read_all();
  void hash_all();
  std::expected<void, RecoveryError> read_into(Slot& slot, std::uint64_t offset, std::uint64_t n);
  std::expected<void, RecoveryError> hash(Slot& slot);
  Slot* wait_for_free_slot(std::uint64_t index);
  Slot* wait_for_read_slot(std::uint64_t index);
  void publish_read(Slot& slot, std::expected<void, RecoveryError> outcome);
  void publish_hashed(Slot& slot, std::expected<void, RecoveryError> outcome);

  DeviceReader& reader_;
  const ImagingOptions options_;
  const std::uint64_t start_;
  const std::uint64_t end_;
  Sha256 hash_;  // the hashing thread's alone while it runs
  std::vector<Slot> slots_;
  std::mutex mutex_;                      // guards the counts below and every hand-over of a slot
  std::condition_variable slot_freed_;    // the reading thread waits here
  std::condition_variable chunk_read_;    // the hashing thread waits here
  std::condition_variable chunk_hashed_;  // next() waits here
  std::uint64_t read_ = 0;                // chunks read (or failed)
  std::uint64_t hashed_ = 0;    // chunks hashed (or passed on with the error that ended them)
  std::uint64_t consumed_ = 0;  // chunks handed out by next(); the caller's thread alone
  std::uint64_t released_ = 0;  // chunks given back
  std::atomic<bool> stop_{false};
  std::thread reading_;
  std::thread hashing_;
};

}  // namespace kestrel

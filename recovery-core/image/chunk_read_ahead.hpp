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

// Reads the device from `start` to `end` in chunks on a thread of its own
// (read_chunk: retries and the sector fallback) and feeds each chunk to the
// running hash there, at most kSlots chunks ahead of the one the caller is
// writing, so reading and hashing overlap the caller's writes. The reader is used by that thread
// alone while it runs; reading stops at the first chunk that fails, whose error the caller meets
// after every chunk before it. Dropping the object stops the thread (between chunks, or between
// sectors in a fallback) and waits for it.
class ChunkReadAhead {
 public:
  // Chunk buffers, each allocated once: one being written while the others fill.
  static constexpr std::size_t kSlots = 3;

  // `hash` holds the image's first `start` bytes; the thread owns it from now on.
  ChunkReadAhead(DeviceReader& reader, const ImagingOptions& options, std::uint64_t start,
                 std::uint64_t end, Sha256 hash);
  ChunkReadAhead(const ChunkReadAhead&) = delete;
  ChunkReadAhead& operator=(const ChunkReadAhead&) = delete;
  ~ChunkReadAhead();

  // Starts the reading thread; an I/O error when the system has none to give.
  std::expected<void, RecoveryError> start();
  // The next chunk in device order once it is read, or the error that ended
  // reading at it. The chunk stays valid until release().
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
  std::expected<void, RecoveryError> read_and_hash(Slot& slot, std::uint64_t offset,
                                                   std::uint64_t n);
  Slot* wait_for_free_slot(std::uint64_t index);
  void publish(Slot& slot, std::expected<void, RecoveryError> outcome);

  DeviceReader& reader_;
  const ImagingOptions options_;
  const std::uint64_t start_;
  const std::uint64_t end_;
  Sha256 hash_;  // the reading thread's alone while it runs
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t produced_ = 0;  // chunks read (or failed), guarded by mutex_
  std::uint64_t consumed_ = 0;  // chunks handed out by next()
  std::uint64_t released_ = 0;  // chunks given back, guarded by mutex_
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace kestrel

#include "recovery-core/image/chunk_read_ahead.hpp"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#include "recovery-core/image/chunk_read.hpp"

namespace kestrel {

ChunkReadAhead::ChunkReadAhead(DeviceReader& reader, const ImagingOptions& options,
                               std::uint64_t start, std::uint64_t end, Sha256 hash)
    : reader_(reader),
      options_(options),
      start_(start),
      end_(end),
      hash_(std::move(hash)),
      slots_(kSlots) {
  const auto size = static_cast<std::size_t>(std::min(options.chunk_size, end - start));
  for (Slot& slot : slots_) slot.buffer.resize(size);
}

ChunkReadAhead::~ChunkReadAhead() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::expected<void, RecoveryError> ChunkReadAhead::start() {
  try {
    thread_ = std::thread([this] { read_all(); });
  } catch (const std::system_error& error) {
    return std::unexpected(
        RecoveryError::io(io_error_custom(IoErrorKind::Other, error.code().message())));
  }
  return {};
}

std::expected<const ReadChunk*, RecoveryError> ChunkReadAhead::next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return produced_ > consumed_; });
  Slot& slot = slots_[consumed_ % kSlots];
  if (slot.error) return std::unexpected(*slot.error);
  ++consumed_;
  return &slot.chunk;
}

void ChunkReadAhead::release() {
  {
    const std::lock_guard lock(mutex_);
    ++released_;
  }
  changed_.notify_all();
}

void ChunkReadAhead::read_all() {
  std::uint64_t offset = start_;
  for (std::uint64_t index = 0; offset < end_; ++index) {
    Slot* slot = wait_for_free_slot(index);
    if (slot == nullptr) return;
    const std::uint64_t n = std::min(options_.chunk_size, end_ - offset);
    auto read = read_and_hash(*slot, offset, n);
    const bool failed = !read;
    publish(*slot, std::move(read));
    if (failed) return;
    offset += n;
  }
}

std::expected<void, RecoveryError> ChunkReadAhead::read_and_hash(Slot& slot, std::uint64_t offset,
                                                                 std::uint64_t n) {
  const std::span bytes(slot.buffer.data(), static_cast<std::size_t>(n));
  slot.chunk.offset = offset;
  slot.chunk.bytes = bytes;
  slot.chunk.zero_filled.clear();
  if (auto read = read_chunk(reader_, options_, offset, bytes, slot.chunk.zero_filled, stop_);
      !read)
    return read;
  if (auto fed = hash_.update(bytes); !fed) return fed;
  auto prefix = hash_.hex_digest_of_copy();
  if (!prefix) return std::unexpected(prefix.error());
  slot.chunk.prefix_sha256 = std::move(*prefix);
  return {};
}

// The slot for chunk `index` once the caller has given it back; none once
// the object is being dropped.
ChunkReadAhead::Slot* ChunkReadAhead::wait_for_free_slot(std::uint64_t index) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return stop_.load() || index - released_ < kSlots; });
  if (stop_.load()) return nullptr;
  return &slots_[index % kSlots];
}

void ChunkReadAhead::publish(Slot& slot, std::expected<void, RecoveryError> outcome) {
  {
    const std::lock_guard lock(mutex_);
    if (outcome)
      slot.error.reset();
    else
      slot.error = std::move(outcome.error());
    ++produced_;
  }
  changed_.notify_all();
}

}  // namespace kestrel

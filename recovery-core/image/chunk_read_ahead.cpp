#include "recovery-core/image/chunk_read_ahead.hpp"

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

#include "recovery-core/image/chunk_read.hpp"

namespace kestrel {

namespace {

RecoveryError no_thread(const std::system_error& error) {
  return RecoveryError::io(io_error_custom(IoErrorKind::Other, error.code().message()));
}

}  // namespace

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
  slot_freed_.notify_all();
  chunk_read_.notify_all();
  if (reading_.joinable()) reading_.join();
  if (hashing_.joinable()) hashing_.join();
}

std::expected<void, RecoveryError> ChunkReadAhead::start() {
  try {
    hashing_ = std::thread([this] { hash_all(); });
    reading_ = std::thread([this] { read_all(); });
  } catch (const std::system_error& error) {
    return std::unexpected(no_thread(error));
  }
  return {};
}

std::expected<const ReadChunk*, RecoveryError> ChunkReadAhead::next() {
  std::unique_lock lock(mutex_);
  chunk_hashed_.wait(lock, [this] { return hashed_ > consumed_; });
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
  slot_freed_.notify_one();
}

// The reading thread: chunk after chunk into the slots given back, up to the
// first that fails.
void ChunkReadAhead::read_all() {
  std::uint64_t offset = start_;
  for (std::uint64_t index = 0; offset < end_; ++index) {
    Slot* slot = wait_for_free_slot(index);
    if (slot == nullptr) return;
    const std::uint64_t n = std::min(options_.chunk_size, end_ - offset);
    auto read = read_into(*slot, offset, n);
    const bool failed = !read;
    publish_read(*slot, std::move(read));
    if (failed) return;
    offset += n;
  }
}

// The hashing thread: each chunk read, in order, into the running hash. A
// chunk that failed to read is passed on unhashed, and hashing ends there.
void ChunkReadAhead::hash_all() {
  for (std::uint64_t offset = start_, index = 0; offset < end_; ++index) {
    Slot* slot = wait_for_read_slot(index);
    if (slot == nullptr) return;
    if (slot->error) {
      publish_hashed(*slot, {});
      return;
    }
    offset += slot->chunk.bytes.size();
    auto hashed = hash(*slot);
    const bool failed = !hashed;
    publish_hashed(*slot, std::move(hashed));
    if (failed) return;
  }
}

std::expected<void, RecoveryError> ChunkReadAhead::read_into(Slot& slot, std::uint64_t offset,
                                                             std::uint64_t n) {
  const std::span bytes(slot.buffer.data(), static_cast<std::size_t>(n));
  slot.chunk.offset = offset;
  slot.chunk.bytes = bytes;
  slot.chunk.zero_filled.clear();
  return read_chunk(reader_, options_, offset, bytes, slot.chunk.zero_filled, stop_);
}

std::expected<void, RecoveryError> ChunkReadAhead::hash(Slot& slot) {
  if (auto fed = hash_.update(slot.chunk.bytes); !fed) return fed;
  auto prefix = hash_.hex_digest_of_copy();
  if (!prefix) return std::unexpected(prefix.error());
  slot.chunk.prefix_sha256 = std::move(*prefix);
  return {};
}

// The slot for chunk `index` once the caller has given it back; none once
// the object is being dropped.
ChunkReadAhead::Slot* ChunkReadAhead::wait_for_free_slot(std::uint64_t index) {
  std::unique_lock lock(mutex_);
  slot_freed_.wait(lock, [&] { return stop_.load() || index - released_ < kSlots; });
  if (stop_.load()) return nullptr;
  return &slots_[index % kSlots];
}

// The slot of chunk `index` once it is read; none once the object is being dropped.
ChunkReadAhead::Slot* ChunkReadAhead::wait_for_read_slot(std::uint64_t index) {
  std::unique_lock lock(mutex_);
  chunk_read_.wait(lock, [&] { return stop_.load() || read_ > index; });
  if (stop_.load()) return nullptr;
  return &slots_[index % kSlots];
}

void ChunkReadAhead::publish_read(Slot& slot, std::expected<void, RecoveryError> outcome) {
  {
    const std::lock_guard lock(mutex_);
    if (outcome)
      slot.error.reset();
    else
      slot.error = std::move(outcome.error());
    ++read_;
  }
  chunk_read_.notify_one();
}

void ChunkReadAhead::publish_hashed(Slot& slot, std::expected<void, RecoveryError> outcome) {
  {
    const std::lock_guard lock(mutex_);
    if (!outcome) slot.error = std::move(outcome.error());
    ++hashed_;
  }
  chunk_hashed_.notify_one();
}

}  // namespace kestrel

#include "fuzz/sparse_image_input.hpp"

#include <algorithm>

namespace kestrel::fuzzing {

namespace {

constexpr std::size_t kLengthField = 8;
constexpr std::size_t kSectorField = 4;
constexpr std::uint64_t kOptionBits = 15;

std::uint64_t little_endian(std::span<const std::uint8_t> bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes.size(); i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

}  // namespace

std::unique_ptr<testing::SparseSource> sparse_image_from_input(std::span<const std::uint8_t> input,
                                                               std::uint32_t sector_size) {
  if (input.size() < kLengthField) return nullptr;
  const std::uint64_t capacity = little_endian(input.first(kLengthField)) & ~kOptionBits;
  auto image = std::make_unique<testing::SparseSource>(capacity, sector_size);
  std::span<const std::uint8_t> rest = input.subspan(kLengthField);
  while (rest.size() > kSectorField) {
    const std::uint64_t offset = little_endian(rest.first(kSectorField)) * kSparseRecordSector;
    rest = rest.subspan(kSectorField);
    const std::size_t length = std::min(rest.size(), kSparseRecordSector);
    if (offset < capacity) {
      const auto placed =
          static_cast<std::size_t>(std::min<std::uint64_t>(length, capacity - offset));
      image->write(offset, rest.first(placed));
    }
    rest = rest.subspan(length);
  }
  return image;
}

unsigned sparse_image_options(std::span<const std::uint8_t> input) {
  if (input.size() < kLengthField) return 0;
  return static_cast<unsigned>(input[0] & kOptionBits);
}

}  // namespace kestrel::fuzzing

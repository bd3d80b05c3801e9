#include "recovery-core/content/file_end/zip_descriptor.hpp"

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/file_end/zip_records.hpp"

namespace kestrel {

namespace {

// The fields from `at` on (the CRC-32 first), when the bytes hold them.
std::optional<ZipDescriptor> fields_at(std::span<const std::uint8_t> bytes, std::size_t at,
                                       bool zip64) {
  const std::size_t length = at + (zip64 ? 20 : 12);
  if (bytes.size() < length) return std::nullopt;
  ZipDescriptor descriptor;
  descriptor.crc = load_le<std::uint32_t>(bytes, at);
  descriptor.packed =
      zip64 ? load_le<std::uint64_t>(bytes, at + 4) : load_le<std::uint32_t>(bytes, at + 4);
  descriptor.unpacked =
      zip64 ? load_le<std::uint64_t>(bytes, at + 12) : load_le<std::uint32_t>(bytes, at + 8);
  descriptor.length = length;
  return descriptor;
}

}  // namespace

std::optional<ZipDescriptor> read_zip_descriptor(std::span<const std::uint8_t> bytes,
                                                 std::uint64_t packed, bool zip64) {
  if (bytes.size() >= 4 && load_le<std::uint32_t>(bytes, 0) == zip_records::kDescriptor) {
    auto signed_form = fields_at(bytes, 4, zip64);
    if (signed_form && signed_form->packed == packed) return signed_form;
  }
  auto bare = fields_at(bytes, 0, zip64);
  if (bare && bare->packed == packed) return bare;
  return std::nullopt;
}

}  // namespace kestrel

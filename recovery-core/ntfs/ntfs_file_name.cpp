#include "recovery-core/ntfs/ntfs_file_name.hpp"

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kNameOffset = 66;
constexpr std::uint8_t kDosNameSpace = 2;

}  // namespace

std::optional<NtfsFileName> parse_ntfs_file_name(std::span<const std::uint8_t> value) {
  if (value.size() < kNameOffset) return std::nullopt;
  const std::size_t units = value[64];
  if (units == 0 || kNameOffset + 2 * units > value.size()) return std::nullopt;
  NtfsFileName name;
  name.parent = NtfsReference::from_bits(read_u64_le(value, 0).value_or(0));
  name.created = read_u64_le(value, 8).value_or(0);
  name.modified = read_u64_le(value, 16).value_or(0);
  name.accessed = read_u64_le(value, 32).value_or(0);
  name.name_space = value[65];
  name.name = decode_utf16_lossy(utf16_units_from_le_bytes(value.subspan(kNameOffset, 2 * units)));
  return name;
}

std::optional<NtfsFileName> user_file_name(const NtfsRecord& record,
                                           std::span<const NtfsRecord> extensions) {
  std::optional<NtfsFileName> alias;
  auto search = [&](const NtfsRecord& holder) -> std::optional<NtfsFileName> {
    for (const NtfsAttribute& attribute : holder.attributes) {
      if (attribute.type != static_cast<std::uint32_t>(NtfsAttributeType::FileName) ||
          !attribute.resident) {
        continue;
      }
      auto name = parse_ntfs_file_name(attribute.value);
      if (!name) continue;
      if (name->name_space != kDosNameSpace) return name;
      if (!alias) alias = std::move(name);
    }
    return std::nullopt;
  };
  if (auto name = search(record)) return name;
  for (const NtfsRecord& extension : extensions) {
    if (auto name = search(extension)) return name;
  }
  return alias;
}

}  // namespace kestrel

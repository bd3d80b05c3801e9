#include "platform/windows/ioctl/storage_ioctl.hpp"

#include <algorithm>
#include <vector>

#include "platform/device_messages.hpp"
#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace layout = storage_layout;

namespace {

SourceError short_output(std::string_view structure) {
  return SourceError::io(device_messages::short_ioctl_output(structure),
                         IoErrorKind::UnexpectedEof);
}

// The storage descriptor's announced Size, from its header.
std::expected<std::uint32_t, SourceError> descriptor_size(const IoctlCall& call) {
  const auto query = storage_property_query(layout::kStorageDeviceProperty);
  std::array<std::uint8_t, layout::kDescriptorHeaderSize> header{};
  // An answer shorter than the header leaves the rest of it cleared.
  KESTREL_TRY_ASSIGN(returned, call(IoctlCode::QueryStorageProperty, query, header));
  const std::uint32_t size = read_u32_le(header, layout::kDescriptorSizeField).value_or(0);
  if (size < layout::kMinDescriptorSize || size > layout::kMaxDescriptorSize) {
    return std::unexpected(
        SourceError::io(device_messages::invalid_descriptor_size(size), IoErrorKind::InvalidData));
  }
  return size;
}

}  // namespace

std::expected<std::uint64_t, SourceError> ioctl_length(const IoctlCall& call) {
  std::array<std::uint8_t, layout::kLengthInformationSize> output{};
  auto returned = call(IoctlCode::GetLengthInformation, {}, output);
  if (!returned) return std::unexpected(returned.error());
  if (*returned < output.size()) return std::unexpected(short_output("GET_LENGTH_INFORMATION"));
  const auto length = static_cast<std::int64_t>(read_u64_le(output, 0).value_or(0));
  if (length < 0) return std::unexpected(SourceError::zero_capacity());
  return static_cast<std::uint64_t>(length);
}

std::optional<AlignmentAnswer> ioctl_access_alignment(const IoctlCall& call) {
  const auto query = storage_property_query(layout::kStorageAccessAlignmentProperty);
  std::array<std::uint8_t, layout::kAlignmentDescriptorSize> output{};
  auto returned = call(IoctlCode::QueryStorageProperty, query, output);
  if (!returned || *returned < output.size()) return std::nullopt;
  return AlignmentAnswer{read_u32_le(output, layout::kAlignmentLogicalSector).value_or(0),
                         read_u32_le(output, layout::kAlignmentPhysicalSector).value_or(0)};
}

std::expected<std::uint32_t, SourceError> ioctl_geometry_sector_size(const IoctlCall& call) {
  std::array<std::uint8_t, layout::kDiskGeometrySize> output{};
  auto returned = call(IoctlCode::GetDriveGeometry, {}, output);
  if (!returned) return std::unexpected(returned.error());
  if (*returned < output.size()) return std::unexpected(short_output("DISK_GEOMETRY"));
  return read_u32_le(output, layout::kGeometryBytesPerSector).value_or(0);
}

std::expected<StorageDescriptor, SourceError> ioctl_storage_descriptor(const IoctlCall& call) {
  KESTREL_TRY_ASSIGN(size, descriptor_size(call));
  std::vector<std::uint8_t> descriptor(*size, 0);
  const auto query = storage_property_query(layout::kStorageDeviceProperty);
  KESTREL_TRY_ASSIGN(returned, call(IoctlCode::QueryStorageProperty, query, descriptor));
  if (*returned < layout::kDeviceDescriptorFixedSize) {
    return std::unexpected(SourceError::io(std::string(device_messages::kShortStorageDescriptor),
                                           IoErrorKind::UnexpectedEof));
  }
  const auto field = [&descriptor](std::size_t at) {
    return read_u32_le(descriptor, at).value_or(0);
  };
  return StorageDescriptor{
      .vendor = descriptor_text(descriptor, field(layout::kDescriptorVendorOffset)),
      .product = descriptor_text(descriptor, field(layout::kDescriptorProductOffset)),
      .serial = descriptor_text(descriptor, field(layout::kDescriptorSerialOffset)),
      .bus_type_code = field(layout::kDescriptorBusType),
  };
}

std::expected<std::uint32_t, SourceError> ioctl_device_number(const IoctlCall& call) {
  std::array<std::uint8_t, layout::kDeviceNumberSize> output{};
  auto returned = call(IoctlCode::GetDeviceNumber, {}, output);
  if (!returned) return std::unexpected(returned.error());
  if (*returned < output.size()) return std::unexpected(short_output("STORAGE_DEVICE_NUMBER"));
  const std::uint32_t number = read_u32_le(output, layout::kDeviceNumberField).value_or(0);
  if (number == layout::kDeviceNumberUnavailable) {
    return std::unexpected(SourceError::io(std::string(device_messages::kDeviceNumberUnavailable),
                                           IoErrorKind::InvalidData));
  }
  return number;
}

std::array<std::uint8_t, layout::kPropertyQuerySize> storage_property_query(
    std::uint32_t property_id) {
  std::array<std::uint8_t, layout::kPropertyQuerySize> query{};  // QueryType 0: the standard query
  for (std::size_t i = 0; i < 4; ++i) query[i] = static_cast<std::uint8_t>(property_id >> (8 * i));
  return query;
}

std::optional<std::uint32_t> storage_property_id(std::span<const std::uint8_t> query) {
  if (query.size() < layout::kPropertyQuerySize) return std::nullopt;
  auto id = read_u32_le(query, 0);
  if (!id) return std::nullopt;
  return *id;
}

std::optional<std::string> descriptor_text(std::span<const std::uint8_t> descriptor,
                                           std::uint32_t offset) {
  if (offset == 0 || offset >= descriptor.size()) return std::nullopt;
  const auto rest = descriptor.subspan(offset);
  const auto end = std::ranges::find(rest, std::uint8_t{0});
  return std::string(rest.begin(), end);
}

}  // namespace kestrel

#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/device_platform.hpp"
#include "platform/windows/ioctl/storage_layout.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel {

// The device queries as Windows answers them: one storage IOCTL each (two for
// the storage descriptor, whose size comes first), with the structures they
// return parsed here and nowhere else. Plain logic over one DeviceIoControl
// call, so the kernel32 backend and the simulated machine of the tests, which
// records answers as Windows gives them, share it.

// The DeviceIoControl codes, with their Win32 values.
enum class IoctlCode : std::uint32_t {
  GetLengthInformation = 0x7405C,   // IOCTL_DISK_GET_LENGTH_INFO
  GetDriveGeometry = 0x70000,       // IOCTL_DISK_GET_DRIVE_GEOMETRY
  QueryStorageProperty = 0x2D1400,  // IOCTL_STORAGE_QUERY_PROPERTY
  GetDeviceNumber = 0x2D1080,       // IOCTL_STORAGE_GET_DEVICE_NUMBER
};

// One DeviceIoControl on an open handle: fills at most output.size() bytes
// and answers how many it returned, or the call's failure.
using IoctlCall = std::function<std::expected<std::uint32_t, SourceError>(
    IoctlCode code, std::span<const std::uint8_t> input, std::span<std::uint8_t> output)>;

// An answer shorter than its structure is an UnexpectedEof failure naming the
// structure; a negative length is ZeroCapacity.
std::expected<std::uint64_t, SourceError> ioctl_length(const IoctlCall& call);
// A failed or short answer is no answer.
std::optional<AlignmentAnswer> ioctl_access_alignment(const IoctlCall& call);
std::expected<std::uint32_t, SourceError> ioctl_geometry_sector_size(const IoctlCall& call);
// The announced Size must lie within 36 bytes and 1 MiB (InvalidData), and
// the descriptor must fill its fixed part (UnexpectedEof).
std::expected<StorageDescriptor, SourceError> ioctl_storage_descriptor(const IoctlCall& call);
// A path without a number of its own (a volume across disks) is InvalidData.
std::expected<std::uint32_t, SourceError> ioctl_device_number(const IoctlCall& call);

// A standard query for one storage property (STORAGE_PROPERTY_QUERY).
std::array<std::uint8_t, storage_layout::kPropertyQuerySize> storage_property_query(
    std::uint32_t property_id);
// The PropertyId of a storage property query; nothing for a shorter input.
std::optional<std::uint32_t> storage_property_id(std::span<const std::uint8_t> query);

// The text a storage device descriptor holds at an offset: up to the first
// zero byte or the end of the descriptor. Nothing for offset 0 or an offset
// not below the descriptor's size.
std::optional<std::string> descriptor_text(std::span<const std::uint8_t> descriptor,
                                           std::uint32_t offset);

}  // namespace kestrel

#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/device_platform.hpp"

namespace kestrel::testing {

// The structures the storage IOCTLs answer with, built from a simulated
// disk's facts as Windows would fill them (platform/windows/ioctl/ reads them).
std::vector<std::uint8_t> encode_length_information(std::int64_t length);
std::vector<std::uint8_t> encode_disk_geometry(std::uint64_t length,
                                               std::uint32_t bytes_per_sector);
std::vector<std::uint8_t> encode_alignment_descriptor(std::uint32_t logical_sector_size,
                                                      std::uint32_t physical_sector_size);
// The whole descriptor: the fixed part, then each present text NUL-terminated;
// an absent text has offset 0.
std::vector<std::uint8_t> encode_storage_device_descriptor(const StorageDescriptor& facts);
std::vector<std::uint8_t> encode_device_number(std::uint32_t device_number,
                                               std::uint32_t partition_number);

// Copies as much of an answer as fits the output, as DeviceIoControl does, and
// answers the number of bytes copied.
std::uint32_t copy_answer(std::span<const std::uint8_t> answer, std::span<std::uint8_t> output);

}  // namespace kestrel::testing

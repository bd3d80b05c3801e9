#pragma once

#include <cstdint>

// The signatures of a ZIP package's records, read little-endian, as both the
// end rule and the join check meet them.
namespace kestrel::zip_records {

inline constexpr std::uint32_t kLocalHeader = 0x04034B50;
inline constexpr std::uint32_t kCentralHeader = 0x02014B50;
inline constexpr std::uint32_t kDescriptor = 0x08074B50;
inline constexpr std::uint32_t kZip64End = 0x06064B50;
inline constexpr std::uint32_t kZip64Locator = 0x07064B50;
inline constexpr std::uint32_t kEndRecord = 0x06054B50;
// A 32-bit size or offset that a ZIP64 record holds instead.
inline constexpr std::uint32_t kUnknown32 = 0xFFFFFFFF;

}  // namespace kestrel::zip_records

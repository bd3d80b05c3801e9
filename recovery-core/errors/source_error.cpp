#include "recovery-core/errors/source_error.hpp"

#include <utility>

namespace kestrel {

SourceError SourceError::bus_type_not_allowed(std::string bus_type_name) {
  SourceError e(Kind::BusTypeNotAllowed);
  e.text_ = std::move(bus_type_name);
  return e;
}

SourceError SourceError::identity_mismatch(std::string field_key) {
  SourceError e(Kind::IdentityMismatch);
  e.text_ = std::move(field_key);
  return e;
}

SourceError SourceError::request_too_large(std::uint64_t length, std::uint64_t maximum) {
  SourceError e(Kind::RequestTooLarge);
  e.first_ = length;
  e.second_ = maximum;
  return e;
}

SourceError SourceError::range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                              std::uint64_t capacity) {
  SourceError e(Kind::RangeExceedsSource);
  e.first_ = offset;
  e.second_ = length;
  e.third_ = capacity;
  return e;
}

SourceError SourceError::offset_not_aligned(std::uint64_t offset, std::uint32_t sector_size) {
  SourceError e(Kind::OffsetNotAligned);
  e.first_ = offset;
  e.second_ = sector_size;
  return e;
}

SourceError SourceError::length_not_aligned(std::uint64_t length, std::uint32_t sector_size) {
  SourceError e(Kind::LengthNotAligned);
  e.first_ = length;
  e.second_ = sector_size;
  return e;
}

SourceError SourceError::short_read(std::uint64_t expected, std::uint64_t actual) {
  SourceError e(Kind::ShortRead);
  e.first_ = expected;
  e.second_ = actual;
  return e;
}

SourceError SourceError::io(std::string message, IoErrorKind io_kind) {
  SourceError e(Kind::Io);
  e.text_ = std::move(message);
  e.io_kind_ = io_kind;
  return e;
}

std::string SourceError::message() const {
  using std::to_string;
  switch (kind_) {
    case Kind::SystemDiskBlocked:
      return "system disk is blocked";
    case Kind::SystemDiskUnknown:
      return "system disk state is unknown; fail-closed";
    case Kind::BusTypeNotAllowed:
      return "physical raw reading is not allowed for bus type: " + text_;
    case Kind::IdentityMismatch:
      return "device identity mismatch: " + text_;
    case Kind::ZeroCapacity:
      return "device capacity must be greater than zero";
    case Kind::ZeroLogicalSectorSize:
      return "logical sector size must be greater than zero";
    case Kind::RequestTooLarge:
      return "read request is too large: " + to_string(first_) + " > " + to_string(second_);
    case Kind::RangeOverflow:
      return "read range overflow";
    case Kind::RangeExceedsSource:
      return "read range exceeds source: offset=" + to_string(first_) +
             " length=" + to_string(second_) + " capacity=" + to_string(third_);
    case Kind::OffsetNotAligned:
      return "read offset is not aligned: offset=" + to_string(first_) +
             " sector=" + to_string(second_);
    case Kind::LengthNotAligned:
      return "read length is not aligned: length=" + to_string(first_) +
             " sector=" + to_string(second_);
    case Kind::ShortRead:
      return "short read: expected=" + to_string(first_) + " actual=" + to_string(second_);
    case Kind::DeviceDisconnected:
      return "device disconnected during read";
    case Kind::ReadPermissionDenied:
      return "permission denied while reading source";
    case Kind::Io:
      return "source I/O error (" + std::string(io_error_kind_name(io_kind_)) + "): " + text_;
  }
  return {};
}

SourceError source_error_from_os(unsigned long code, std::string_view system_text) {
  switch (code) {
    case 5:
      return SourceError::read_permission_denied();
    case 6:
    case 21:
    case 31:
    case 55:
    case 433:
    case 1117:
    case 1167:
      return SourceError::device_disconnected();
    default:
      return SourceError::io(std::string(system_text) + " (os error " + std::to_string(code) + ")",
                             io_error_kind_from_win32(code));
  }
}

SourceError source_error_from_image_io(const IoError& error) {
  switch (error.kind) {
    case IoErrorKind::NotFound:
    case IoErrorKind::BrokenPipe:
    case IoErrorKind::UnexpectedEof:
      return SourceError::device_disconnected();
    case IoErrorKind::PermissionDenied:
      return SourceError::read_permission_denied();
    default:
      return SourceError::io(error.text, error.kind);
  }
}

}  // namespace kestrel

#include "recovery-core/errors/source_error.hpp"

#include <utility>

namespace kestrel {

using std::to_string;

std::string SourceError::SystemDiskBlocked::message() const { return "system disk is blocked"; }

std::string SourceError::SystemDiskUnknown::message() const {
  return "system disk state is unknown; fail-closed";
}

std::string SourceError::BusTypeNotAllowed::message() const {
  return "physical raw reading is not allowed for bus type: " + bus_type_name;
}

std::string SourceError::IdentityMismatch::message() const {
  return "device identity mismatch: " + field_key;
}

std::string SourceError::ZeroCapacity::message() const {
  return "device capacity must be greater than zero";
}

std::string SourceError::ZeroLogicalSectorSize::message() const {
  return "logical sector size must be greater than zero";
}

std::string SourceError::RequestTooLarge::message() const {
  return "read request is too large: " + to_string(length) + " > " + to_string(maximum);
}

std::string SourceError::RangeOverflow::message() const { return "read range overflow"; }

std::string SourceError::RangeExceedsSource::message() const {
  return "read range exceeds source: offset=" + to_string(offset) + " length=" + to_string(length) +
         " capacity=" + to_string(capacity);
}

std::string SourceError::OffsetNotAligned::message() const {
  return "read offset is not aligned: offset=" + to_string(offset) +
         " sector=" + to_string(sector_size);
}

std::string SourceError::LengthNotAligned::message() const {
  return "read length is not aligned: length=" + to_string(length) +
         " sector=" + to_string(sector_size);
}

std::string SourceError::ShortRead::message() const {
  return "short read: expected=" + to_string(expected) + " actual=" + to_string(actual);
}

std::string SourceError::DeviceDisconnected::message() const {
  return "device disconnected during read";
}

std::string SourceError::ReadPermissionDenied::message() const {
  return "permission denied while reading source";
}

std::string SourceError::Io::message() const {
  return "source I/O error (" + std::string(io_error_kind_name(error.kind)) + "): " + error.text;
}

SourceError SourceError::bus_type_not_allowed(std::string bus_type_name) {
  return SourceError(BusTypeNotAllowed{std::move(bus_type_name)});
}

SourceError SourceError::identity_mismatch(std::string field_key) {
  return SourceError(IdentityMismatch{std::move(field_key)});
}

SourceError SourceError::request_too_large(std::uint64_t length, std::uint64_t maximum) {
  return SourceError(RequestTooLarge{length, maximum});
}

SourceError SourceError::range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                              std::uint64_t capacity) {
  return SourceError(RangeExceedsSource{offset, length, capacity});
}

SourceError SourceError::offset_not_aligned(std::uint64_t offset, std::uint32_t sector_size) {
  return SourceError(OffsetNotAligned{offset, sector_size});
}

SourceError SourceError::length_not_aligned(std::uint64_t length, std::uint32_t sector_size) {
  return SourceError(LengthNotAligned{length, sector_size});
}

SourceError SourceError::short_read(std::uint64_t expected, std::uint64_t actual) {
  return SourceError(ShortRead{expected, actual});
}

SourceError SourceError::io(std::string message, IoErrorKind io_kind) {
  return io(io_error_custom(io_kind, std::move(message)));
}

SourceError SourceError::io(IoError error) { return SourceError(Io{std::move(error)}); }

IoError SourceError::io_failure() const {
  if (const Io* generic = std::get_if<Io>(&payload_)) return generic->error;
  return io_error_custom(IoErrorKind::Other, message());
}

IoErrorKind SourceError::io_kind() const {
  const Io* generic = std::get_if<Io>(&payload_);
  return generic != nullptr ? generic->error.kind : IoErrorKind::Other;
}

std::string SourceError::message() const {
  return std::visit([](const auto& payload) { return payload.message(); }, payload_);
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
      return SourceError::io(
          IoError{io_error_kind_from_win32(code),
                  std::string(system_text) + " (os error " + to_string(code) + ")",
                  static_cast<int>(code)});
  }
}

SourceError source_error_from_image_io(SourceError error) {
  if (!error.is_generic_io()) return error;
  switch (error.io_kind()) {
    case IoErrorKind::NotFound:
    case IoErrorKind::BrokenPipe:
    case IoErrorKind::UnexpectedEof:
      return SourceError::device_disconnected();
    case IoErrorKind::PermissionDenied:
      return SourceError::read_permission_denied();
    default:
      return error;
  }
}

}  // namespace kestrel

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/errors/io_error_kind.hpp"

namespace kestrel {

// The one error type of the source layer: fourteen specific kinds with fixed
// messages, and the generic Io kind that carries a message and a category.
// Only the generic kind may be retried or skipped over by the imaging engine.
class SourceError {
 public:
  enum class Kind {
    SystemDiskBlocked,
    SystemDiskUnknown,
    BusTypeNotAllowed,
    IdentityMismatch,
    ZeroCapacity,
    ZeroLogicalSectorSize,
    RequestTooLarge,
    RangeOverflow,
    RangeExceedsSource,
    OffsetNotAligned,
    LengthNotAligned,
    ShortRead,
    DeviceDisconnected,
    ReadPermissionDenied,
    Io,
  };

  static SourceError system_disk_blocked() { return SourceError(Kind::SystemDiskBlocked); }
  static SourceError system_disk_unknown() { return SourceError(Kind::SystemDiskUnknown); }
  static SourceError bus_type_not_allowed(std::string bus_type_name);
  static SourceError identity_mismatch(std::string field_key);
  static SourceError zero_capacity() { return SourceError(Kind::ZeroCapacity); }
  static SourceError zero_logical_sector_size() { return SourceError(Kind::ZeroLogicalSectorSize); }
  static SourceError request_too_large(std::uint64_t length, std::uint64_t maximum);
  static SourceError range_overflow() { return SourceError(Kind::RangeOverflow); }
  static SourceError range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                          std::uint64_t capacity);
  static SourceError offset_not_aligned(std::uint64_t offset, std::uint32_t sector_size);
  static SourceError length_not_aligned(std::uint64_t length, std::uint32_t sector_size);
  static SourceError short_read(std::uint64_t expected, std::uint64_t actual);
  static SourceError device_disconnected() { return SourceError(Kind::DeviceDisconnected); }
  static SourceError read_permission_denied() { return SourceError(Kind::ReadPermissionDenied); }
  static SourceError io(std::string message, IoErrorKind io_kind);

  Kind kind() const { return kind_; }
  // True for the generic Io kind, which the imaging engine may retry.
  bool is_generic_io() const { return kind_ == Kind::Io; }
  // A failure that arose before a device transfer began: while the device was
  // described again, its identity compared or the request validated. Such a
  // failure says the device can no longer be trusted, so it is never skipped
  // over as unreadable sectors, whatever its kind; it prints as before.
  static SourceError before_transfer(SourceError error) {
    error.before_transfer_ = true;
    return error;
  }
  bool arose_before_transfer() const { return before_transfer_; }
  // A generic Io failure of the transfer from the medium itself: the one
  // failure the imaging engine may zero-fill after its retries.
  bool may_be_zero_filled() const { return kind_ == Kind::Io && !before_transfer_; }
  // The category of a generic Io error (meaningless for the specific kinds).
  IoErrorKind io_kind() const { return io_kind_; }
  // The bus type name, identity field key or Io message, by kind.
  const std::string& text() const { return text_; }

  std::string message() const;

  friend bool operator==(const SourceError&, const SourceError&) = default;

 private:
  explicit SourceError(Kind kind) : kind_(kind) {}

  Kind kind_;
  std::string text_;
  IoErrorKind io_kind_ = IoErrorKind::Other;
  std::uint64_t first_ = 0;
  std::uint64_t second_ = 0;
  std::uint64_t third_ = 0;
  bool before_transfer_ = false;
};

// A Win32 error code (GetLastError) as a source error: access denied and the
// vanished-device codes become their specific kinds, every other code the
// generic kind with "{system_text} (os error {code})" and the code's category.
SourceError source_error_from_os(unsigned long code, std::string_view system_text);

// How an image file's I/O failure is reported: a vanished file or an unexpected
// end means the source is gone, denied access is the permission kind, the rest
// keep their text and category in the generic kind.
SourceError source_error_from_image_io(const IoError& error);

}  // namespace kestrel

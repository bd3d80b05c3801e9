#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "recovery-core/errors/io_error.hpp"
#include "recovery-core/errors/io_error_kind.hpp"

namespace kestrel {

// Why an image file, a device or an operating-system service could not give
// what was asked. Each kind carries only its own payload and renders one fixed
// message. All kinds but Io name a specific condition that ends an imaging
// run; Io is the generic failure (category, text, maybe the system's code)
// that the imaging engine may retry and, after a failed transfer, zero-fill.
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

  static SourceError system_disk_blocked() { return SourceError(SystemDiskBlocked{}); }
  static SourceError system_disk_unknown() { return SourceError(SystemDiskUnknown{}); }
  static SourceError bus_type_not_allowed(std::string bus_type_name);
  static SourceError identity_mismatch(std::string field_key);
  static SourceError zero_capacity() { return SourceError(ZeroCapacity{}); }
  static SourceError zero_logical_sector_size() { return SourceError(ZeroLogicalSectorSize{}); }
  static SourceError request_too_large(std::uint64_t length, std::uint64_t maximum);
  static SourceError range_overflow() { return SourceError(RangeOverflow{}); }
  static SourceError range_exceeds_source(std::uint64_t offset, std::uint64_t length,
                                          std::uint64_t capacity);
  static SourceError offset_not_aligned(std::uint64_t offset, std::uint32_t sector_size);
  static SourceError length_not_aligned(std::uint64_t length, std::uint32_t sector_size);
  static SourceError short_read(std::uint64_t expected, std::uint64_t actual);
  static SourceError device_disconnected() { return SourceError(DeviceDisconnected{}); }
  static SourceError read_permission_denied() { return SourceError(ReadPermissionDenied{}); }
  // The generic kind: a text of our own (no system code) and its category.
  static SourceError io(std::string message, IoErrorKind io_kind);
  // The generic kind for a failure as the operating system described it.
  static SourceError io(IoError error);

  Kind kind() const { return static_cast<Kind>(payload_.index()); }
  // True for the generic Io kind, which the imaging engine may retry.
  bool is_generic_io() const { return kind() == Kind::Io; }
  // The failure as an I/O payload, for messages that embed the failure of an
  // operating-system service: the generic kind's own payload; a specific
  // kind, which those services never return, gives its message under the
  // Other category.
  IoError io_failure() const;
  // The category of the generic Io kind; Other for the specific kinds.
  IoErrorKind io_kind() const;

  // Marks a failure met before the device transfer itself began (describing
  // the device again, comparing its identity, validating the request). Such a
  // failure means the device is no longer trusted: it is never zero-filled,
  // whatever its kind, and its message does not change.
  static SourceError before_transfer(SourceError error) {
    error.before_transfer_ = true;
    return error;
  }
  bool arose_before_transfer() const { return before_transfer_; }
  // The one failure the imaging engine may zero-fill after its retries: the
  // generic kind, met by the transfer from the medium itself.
  bool may_be_zero_filled() const { return is_generic_io() && !before_transfer_; }

  std::string message() const;

  friend bool operator==(const SourceError&, const SourceError&) = default;

 private:
  // One payload per kind, in the order of Kind; each renders its own message.
  struct SystemDiskBlocked {
    std::string message() const;
    bool operator==(const SystemDiskBlocked&) const = default;
  };
  struct SystemDiskUnknown {
    std::string message() const;
    bool operator==(const SystemDiskUnknown&) const = default;
  };
  struct BusTypeNotAllowed {
    std::string bus_type_name;
    std::string message() const;
    bool operator==(const BusTypeNotAllowed&) const = default;
  };
  struct IdentityMismatch {
    std::string field_key;
    std::string message() const;
    bool operator==(const IdentityMismatch&) const = default;
  };
  struct ZeroCapacity {
    std::string message() const;
    bool operator==(const ZeroCapacity&) const = default;
  };
  struct ZeroLogicalSectorSize {
    std::string message() const;
    bool operator==(const ZeroLogicalSectorSize&) const = default;
  };
  struct RequestTooLarge {
    std::uint64_t length;
    std::uint64_t maximum;
    std::string message() const;
    bool operator==(const RequestTooLarge&) const = default;
  };
  struct RangeOverflow {
    std::string message() const;
    bool operator==(const RangeOverflow&) const = default;
  };
  struct RangeExceedsSource {
    std::uint64_t offset;
    std::uint64_t length;
    std::uint64_t capacity;
    std::string message() const;
    bool operator==(const RangeExceedsSource&) const = default;
  };
  struct OffsetNotAligned {
    std::uint64_t offset;
    std::uint32_t sector_size;
    std::string message() const;
    bool operator==(const OffsetNotAligned&) const = default;
  };
  struct LengthNotAligned {
    std::uint64_t length;
    std::uint32_t sector_size;
    std::string message() const;
    bool operator==(const LengthNotAligned&) const = default;
  };
  struct ShortRead {
    std::uint64_t expected;
    std::uint64_t actual;
    std::string message() const;
    bool operator==(const ShortRead&) const = default;
  };
  struct DeviceDisconnected {
    std::string message() const;
    bool operator==(const DeviceDisconnected&) const = default;
  };
  struct ReadPermissionDenied {
    std::string message() const;
    bool operator==(const ReadPermissionDenied&) const = default;
  };
  struct Io {
    IoError error;
    std::string message() const;
    bool operator==(const Io&) const = default;
  };
  using Payload =
      std::variant<SystemDiskBlocked, SystemDiskUnknown, BusTypeNotAllowed, IdentityMismatch,
                   ZeroCapacity, ZeroLogicalSectorSize, RequestTooLarge, RangeOverflow,
                   RangeExceedsSource, OffsetNotAligned, LengthNotAligned, ShortRead,
                   DeviceDisconnected, ReadPermissionDenied, Io>;
  static_assert(std::variant_size_v<Payload> == static_cast<std::size_t>(Kind::Io) + 1);

  explicit SourceError(Payload payload) : payload_(std::move(payload)) {}

  Payload payload_;
  bool before_transfer_ = false;
};

// A Win32 error code (GetLastError) as a source error: access denied and the
// codes of a vanished device become their specific kinds; any other code is
// the generic kind with "{system_text} (os error {code})", the code's category
// and the code.
SourceError source_error_from_os(unsigned long code, std::string_view system_text);

// How a failed read of an image file is reported. The file vanishing under us
// (not found, broken pipe, an unexpected end) counts as the source
// disconnecting, denied access as the permission kind; every other generic
// failure, and every specific kind, passes unchanged.
SourceError source_error_from_image_io(SourceError error);

}  // namespace kestrel

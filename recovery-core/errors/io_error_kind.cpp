#include "recovery-core/errors/io_error_kind.hpp"

#include <array>

namespace kestrel {

std::string_view io_error_kind_name(IoErrorKind kind) {
  static constexpr std::array<std::string_view, 42> names = {
      "NotFound",
      "PermissionDenied",
      "ConnectionRefused",
      "ConnectionReset",
      "HostUnreachable",
      "NetworkUnreachable",
      "ConnectionAborted",
      "NotConnected",
      "AddrInUse",
      "AddrNotAvailable",
      "NetworkDown",
      "BrokenPipe",
      "AlreadyExists",
      "WouldBlock",
      "NotADirectory",
      "IsADirectory",
      "DirectoryNotEmpty",
      "ReadOnlyFilesystem",
      "FilesystemLoop",
      "StaleNetworkFileHandle",
      "InvalidInput",
      "InvalidData",
      "TimedOut",
      "WriteZero",
      "StorageFull",
      "NotSeekable",
      "QuotaExceeded",
      "FileTooLarge",
      "ResourceBusy",
      "ExecutableFileBusy",
      "Deadlock",
      "CrossesDevices",
      "TooManyLinks",
      "InvalidFilename",
      "ArgumentListTooLong",
      "Interrupted",
      "Unsupported",
      "UnexpectedEof",
      "OutOfMemory",
      "InProgress",
      "Other",
      "Uncategorized",
  };
  return names.at(static_cast<std::size_t>(kind));
}

IoErrorKind io_error_kind_from_win32(unsigned long code) {
  struct Row {
    unsigned long code;
    IoErrorKind kind;
  };
  using enum IoErrorKind;
  // Access denied (5) never reaches this table from a device: the device
  // conversion turns it into its own permission error first. For files it is
  // the permission category, like the socket code 10013.
  static constexpr Row table[] = {
      {5, PermissionDenied},
      {2, NotFound},
      {3, NotFound},
      {15, NotFound},
      {53, NotFound},
      {67, NotFound},
      {8, OutOfMemory},
      {14, OutOfMemory},
      {17, CrossesDevices},
      {19, ReadOnlyFilesystem},
      {39, StorageFull},
      {112, StorageFull},
      {80, AlreadyExists},
      {183, AlreadyExists},
      {87, InvalidInput},
      {10022, InvalidInput},
      {109, BrokenPipe},
      {232, BrokenPipe},
      {10058, BrokenPipe},
      {120, Unsupported},
      {121, TimedOut},
      {258, TimedOut},
      {594, TimedOut},
      {995, TimedOut},
      {1053, TimedOut},
      {1121, TimedOut},
      {1460, TimedOut},
      {5910, TimedOut},
      {7012, TimedOut},
      {7040, TimedOut},
      {8014, TimedOut},
      {8226, TimedOut},
      {9705, TimedOut},
      {10060, TimedOut},
      {13805, TimedOut},
      {15402, TimedOut},
      {15403, TimedOut},
      {123, InvalidFilename},
      {161, InvalidFilename},
      {206, InvalidFilename},
      {132, NotSeekable},
      {145, DirectoryNotEmpty},
      {170, ResourceBusy},
      {223, FileTooLarge},
      {267, NotADirectory},
      {336, IsADirectory},
      {1131, Deadlock},
      {1142, TooManyLinks},
      {1231, NetworkUnreachable},
      {10051, NetworkUnreachable},
      {1232, HostUnreachable},
      {10065, HostUnreachable},
      {1295, QuotaExceeded},
      {10069, QuotaExceeded},
      {1921, FilesystemLoop},
      {10013, PermissionDenied},
      {10035, WouldBlock},
      {10048, AddrInUse},
      {10049, AddrNotAvailable},
      {10050, NetworkDown},
      {10053, ConnectionAborted},
      {10054, ConnectionReset},
      {10057, NotConnected},
      {10061, ConnectionRefused},
  };
  for (const Row& row : table) {
    if (row.code == code) return row.kind;
  }
  return Uncategorized;
}

}  // namespace kestrel

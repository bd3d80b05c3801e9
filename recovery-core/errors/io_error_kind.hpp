#pragma once

#include <string_view>

namespace kestrel {

// The category of an I/O failure. The generic source error shows it by its
// name (io_error_kind_name), so the names are part of the output; the table
// of names follows this order.
enum class IoErrorKind {
  NotFound,
  PermissionDenied,
  ConnectionRefused,
  ConnectionReset,
  HostUnreachable,
  NetworkUnreachable,
  ConnectionAborted,
  NotConnected,
  AddrInUse,
  AddrNotAvailable,
  NetworkDown,
  BrokenPipe,
  AlreadyExists,
  WouldBlock,
  NotADirectory,
  IsADirectory,
  DirectoryNotEmpty,
  ReadOnlyFilesystem,
  FilesystemLoop,
  StaleNetworkFileHandle,
  InvalidInput,
  InvalidData,
  TimedOut,
  WriteZero,
  StorageFull,
  NotSeekable,
  QuotaExceeded,
  FileTooLarge,
  ResourceBusy,
  ExecutableFileBusy,
  Deadlock,
  CrossesDevices,
  TooManyLinks,
  InvalidFilename,
  ArgumentListTooLong,
  Interrupted,
  Unsupported,
  UnexpectedEof,
  OutOfMemory,
  InProgress,
  Other,
  Uncategorized,
};

std::string_view io_error_kind_name(IoErrorKind kind);

// Category of a Win32 error code (GetLastError), by the fixed code table.
IoErrorKind io_error_kind_from_win32(unsigned long code);

}  // namespace kestrel

#include <cerrno>

#include "os/os_error.hpp"
#include "recovery-core/errors/io_error_kind.hpp"

namespace kestrel {

IoErrorKind io_error_kind_from_errno(int code) {
  using enum IoErrorKind;
  switch (code) {
    case ENOENT:
      return NotFound;
    case EPERM:
    case EACCES:
      return PermissionDenied;
    case ECONNREFUSED:
      return ConnectionRefused;
    case ECONNRESET:
      return ConnectionReset;
    case EHOSTUNREACH:
      return HostUnreachable;
    case ENETUNREACH:
      return NetworkUnreachable;
    case ECONNABORTED:
      return ConnectionAborted;
    case ENOTCONN:
      return NotConnected;
    case EADDRINUSE:
      return AddrInUse;
    case EADDRNOTAVAIL:
      return AddrNotAvailable;
    case ENETDOWN:
      return NetworkDown;
    case EPIPE:
      return BrokenPipe;
    case EEXIST:
      return AlreadyExists;
    case EAGAIN:
      return WouldBlock;
    case ENOTDIR:
      return NotADirectory;
    case EISDIR:
      return IsADirectory;
    case ENOTEMPTY:
      return DirectoryNotEmpty;
    case EROFS:
      return ReadOnlyFilesystem;
    case ELOOP:
      return FilesystemLoop;
    case ESTALE:
      return StaleNetworkFileHandle;
    case EINVAL:
      return InvalidInput;
    case ETIMEDOUT:
      return TimedOut;
    case ENOSPC:
      return StorageFull;
    case ESPIPE:
      return NotSeekable;
    case EDQUOT:
      return QuotaExceeded;
    case EFBIG:
      return FileTooLarge;
    case EBUSY:
      return ResourceBusy;
    case ETXTBSY:
      return ExecutableFileBusy;
    case EDEADLK:
      return Deadlock;
    case EXDEV:
      return CrossesDevices;
    case EMLINK:
      return TooManyLinks;
    case ENAMETOOLONG:
      return InvalidFilename;
    case E2BIG:
      return ArgumentListTooLong;
    case EINTR:
      return Interrupted;
    case ENOSYS:
    case EOPNOTSUPP:
      return Unsupported;
    case ENOMEM:
      return OutOfMemory;
    case EINPROGRESS:
      return InProgress;
    default:
      return Uncategorized;
  }
}

}  // namespace kestrel

// Linux error codes (errno) as source and I/O errors.
#include <gtest/gtest.h>

#include <cerrno>

#include "os/os_error.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/errors/source_error.hpp"

namespace kestrel::testing {
namespace {

TEST(SourceErrorFromErrno, LinuxCodesMapToTheSameKinds) {
  EXPECT_EQ(source_error_from_errno(EACCES), SourceError::read_permission_denied());
  EXPECT_EQ(source_error_from_errno(EPERM), SourceError::read_permission_denied());
  EXPECT_EQ(source_error_from_errno(ENODEV), SourceError::device_disconnected());
  EXPECT_EQ(source_error_from_errno(ENXIO), SourceError::device_disconnected());
  EXPECT_EQ(source_error_from_errno(ENOMEDIUM), SourceError::device_disconnected());
  const SourceError io = source_error_from_errno(EIO);
  EXPECT_TRUE(io.is_generic_io());
  EXPECT_EQ(io.message(), "source I/O error (Uncategorized): Input/output error (os error 5)");
  EXPECT_EQ(source_error_from_errno(ENOENT).message(),
            "source I/O error (NotFound): No such file or directory (os error 2)");
}

TEST(ImageIoConversion, VanishedDeniedAndOtherFailures) {
  EXPECT_EQ(source_error_from_image_io(io_error_from_os_code(ENOENT)),
            SourceError::device_disconnected());
  EXPECT_EQ(source_error_from_image_io(io_error_from_os_code(EPIPE)),
            SourceError::device_disconnected());
  EXPECT_EQ(source_error_from_image_io(SourceError::io("eof", IoErrorKind::UnexpectedEof)),
            SourceError::device_disconnected());
  EXPECT_EQ(source_error_from_image_io(io_error_from_os_code(EACCES)),
            SourceError::read_permission_denied());
  EXPECT_EQ(source_error_from_image_io(io_error_from_os_code(EISDIR)).message(),
            "source I/O error (IsADirectory): Is a directory (os error 21)");
}

TEST(RecoveryError, IoDisplayCarriesTheSystemText) {
  EXPECT_EQ(RecoveryError::io(io_error_from_os_code(ENOSPC)).message(),
            "I/O error: No space left on device (os error 28)");
}

}  // namespace
}  // namespace kestrel::testing

#include "recovery-core/errors/source_error.hpp"

#include <gtest/gtest.h>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel::testing {
namespace {

TEST(SourceError, MessagesOfEveryKind) {
  const std::pair<SourceError, std::string> cases[] = {
      {SourceError::system_disk_blocked(), "system disk is blocked"},
      {SourceError::system_disk_unknown(), "system disk state is unknown; fail-closed"},
      {SourceError::bus_type_not_allowed("sata"), "physical raw reading is not allowed for bus type: sata"},
      {SourceError::identity_mismatch("serial_number"), "device identity mismatch: serial_number"},
      {SourceError::zero_capacity(), "device capacity must be greater than zero"},
      {SourceError::zero_logical_sector_size(), "logical sector size must be greater than zero"},
      {SourceError::request_too_large(2097152, 1048576), "read request is too large: 2097152 > 1048576"},
      {SourceError::range_overflow(), "read range overflow"},
      {SourceError::range_exceeds_source(4096, 512, 4096),
       "read range exceeds source: offset=4096 length=512 capacity=4096"},
      {SourceError::offset_not_aligned(513, 512), "read offset is not aligned: offset=513 sector=512"},
      {SourceError::length_not_aligned(100, 4096), "read length is not aligned: length=100 sector=4096"},
      {SourceError::short_read(512, 100), "short read: expected=512 actual=100"},
      {SourceError::device_disconnected(), "device disconnected during read"},
      {SourceError::read_permission_denied(), "permission denied while reading source"},
      {SourceError::io("short IOCTL output: GET_LENGTH_INFORMATION", IoErrorKind::UnexpectedEof),
       "source I/O error (UnexpectedEof): short IOCTL output: GET_LENGTH_INFORMATION"},
  };
  for (const auto& [error, message] : cases) EXPECT_EQ(error.message(), message);
  EXPECT_TRUE(SourceError::io("x", IoErrorKind::Other).is_generic_io());
  EXPECT_FALSE(SourceError::device_disconnected().is_generic_io());
}

TEST(SourceError, IoKindNamesInDeclaredOrder) {
  EXPECT_EQ(io_error_kind_name(IoErrorKind::NotFound), "NotFound");
  EXPECT_EQ(io_error_kind_name(IoErrorKind::StaleNetworkFileHandle), "StaleNetworkFileHandle");
  EXPECT_EQ(io_error_kind_name(IoErrorKind::ExecutableFileBusy), "ExecutableFileBusy");
  EXPECT_EQ(io_error_kind_name(IoErrorKind::Uncategorized), "Uncategorized");
}

TEST(SourceErrorFromOs, SpecificCodesTakePrecedence) {
  EXPECT_EQ(source_error_from_os(5, "Access is denied."), SourceError::read_permission_denied());
  for (unsigned long code : {6ul, 21ul, 31ul, 55ul, 433ul, 1117ul, 1167ul}) {
    EXPECT_EQ(source_error_from_os(code, "gone"), SourceError::device_disconnected()) << code;
  }
  EXPECT_EQ(source_error_from_os(2, "The system cannot find the file specified.").message(),
            "source I/O error (NotFound): The system cannot find the file specified. (os error 2)");
}

TEST(SourceErrorFromOs, CodeTableGivesEveryCategory) {
  struct Row {
    unsigned long code;
    IoErrorKind kind;
  };
  using enum IoErrorKind;
  const Row rows[] = {
      {2, NotFound}, {3, NotFound}, {15, NotFound}, {53, NotFound}, {67, NotFound},
      {8, OutOfMemory}, {14, OutOfMemory}, {17, CrossesDevices}, {19, ReadOnlyFilesystem},
      {39, StorageFull}, {112, StorageFull}, {80, AlreadyExists}, {183, AlreadyExists},
      {87, InvalidInput}, {10022, InvalidInput}, {109, BrokenPipe}, {232, BrokenPipe},
      {10058, BrokenPipe}, {120, Unsupported}, {121, TimedOut}, {258, TimedOut}, {594, TimedOut},
      {995, TimedOut}, {1053, TimedOut}, {1121, TimedOut}, {1460, TimedOut}, {5910, TimedOut},
      {7012, TimedOut}, {7040, TimedOut}, {8014, TimedOut}, {8226, TimedOut}, {9705, TimedOut},
      {10060, TimedOut}, {13805, TimedOut}, {15402, TimedOut}, {15403, TimedOut},
      {123, InvalidFilename}, {161, InvalidFilename}, {206, InvalidFilename}, {132, NotSeekable},
      {145, DirectoryNotEmpty}, {170, ResourceBusy}, {223, FileTooLarge}, {267, NotADirectory},
      {336, IsADirectory}, {1131, Deadlock}, {1142, TooManyLinks}, {1231, NetworkUnreachable},
      {10051, NetworkUnreachable}, {1232, HostUnreachable}, {10065, HostUnreachable},
      {1295, QuotaExceeded}, {10069, QuotaExceeded}, {1921, FilesystemLoop},
      {10013, PermissionDenied}, {10035, WouldBlock}, {10048, AddrInUse},
      {10049, AddrNotAvailable}, {10050, NetworkDown}, {10053, ConnectionAborted},
      {10054, ConnectionReset}, {10057, NotConnected}, {10061, ConnectionRefused},
      {1, Uncategorized}, {4, Uncategorized}, {1118, Uncategorized}, {999999, Uncategorized},
  };
  for (const Row& row : rows) {
    const SourceError error = source_error_from_os(row.code, "text");
    ASSERT_TRUE(error.is_generic_io()) << row.code;
    EXPECT_EQ(error.io_kind(), row.kind) << row.code;
    EXPECT_EQ(error.io_failure().text, "text (os error " + std::to_string(row.code) + ")");
    EXPECT_EQ(error.io_failure().os_code, std::optional<int>(static_cast<int>(row.code)));
  }
}

TEST(RecoveryError, DisplayForms) {
  EXPECT_EQ(RecoveryError(SourceError::short_read(512, 0)).message(), "short read: expected=512 actual=0");
  EXPECT_EQ(RecoveryError::io(io_error_custom(IoErrorKind::WriteZero, "failed to write whole buffer")).message(),
            "I/O error: failed to write whole buffer");
  EXPECT_EQ(RecoveryError::invalid_structure("invalid FAT32 BPB").message(),
            "invalid structure: invalid FAT32 BPB");
  EXPECT_EQ(RecoveryError::unsupported("GPT entry array is too large").message(),
            "unsupported: GPT entry array is too large");
  EXPECT_EQ(RecoveryError::checksum_mismatch("GPT header").message(), "checksum mismatch: GPT header");
  EXPECT_EQ(RecoveryError::byte_range_overflow().message(), "byte range overflow");
  EXPECT_EQ(RecoveryError::byte_range_exceeds_source(900, 101, 1000).message(),
            "byte range exceeds source: offset=900 length=101 capacity=1000");
  EXPECT_EQ(RecoveryError::destination_exists().message(), "destination already exists");
  EXPECT_EQ(RecoveryError::interrupted().message(), "imaging interrupted");
  EXPECT_EQ(RecoveryError::interrupted().kind(), RecoveryError::Kind::Interrupted);
}

}  // namespace
}  // namespace kestrel::testing

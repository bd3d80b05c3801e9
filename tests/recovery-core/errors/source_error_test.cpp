#include "recovery-core/errors/source_error.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel::testing {
namespace {

TEST(SourceError, EveryKindWithItsMessage) {
  using enum SourceError::Kind;
  struct Row {
    SourceError error;
    SourceError::Kind kind;
    std::string message;
  };
  const Row rows[] = {
      {SourceError::system_disk_blocked(), SystemDiskBlocked, "system disk is blocked"},
      {SourceError::system_disk_unknown(), SystemDiskUnknown,
       "system disk state is unknown; fail-closed"},
      {SourceError::bus_type_not_allowed("sata"), BusTypeNotAllowed,
       "physical raw reading is not allowed for bus type: sata"},
      {SourceError::identity_mismatch("serial_number"), IdentityMismatch,
       "device identity mismatch: serial_number"},
      {SourceError::zero_capacity(), ZeroCapacity, "device capacity must be greater than zero"},
      {SourceError::zero_logical_sector_size(), ZeroLogicalSectorSize,
       "logical sector size must be greater than zero"},
      {SourceError::request_too_large(2097152, 1048576), RequestTooLarge,
       "read request is too large: 2097152 > 1048576"},
      {SourceError::range_overflow(), RangeOverflow, "read range overflow"},
      {SourceError::range_exceeds_source(4096, 512, 4096), RangeExceedsSource,
       "read range exceeds source: offset=4096 length=512 capacity=4096"},
      {SourceError::offset_not_aligned(513, 512), OffsetNotAligned,
       "read offset is not aligned: offset=513 sector=512"},
      {SourceError::length_not_aligned(100, 4096), LengthNotAligned,
       "read length is not aligned: length=100 sector=4096"},
      {SourceError::short_read(512, 100), ShortRead, "short read: expected=512 actual=100"},
      {SourceError::device_disconnected(), DeviceDisconnected, "device disconnected during read"},
      {SourceError::read_permission_denied(), ReadPermissionDenied,
       "permission denied while reading source"},
      {SourceError::io("short IOCTL output: GET_LENGTH_INFORMATION", IoErrorKind::UnexpectedEof),
       Io, "source I/O error (UnexpectedEof): short IOCTL output: GET_LENGTH_INFORMATION"},
      {SourceError::io(IoError{IoErrorKind::NotFound, "gone (os error 2)", 2}), Io,
       "source I/O error (NotFound): gone (os error 2)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EQ(row.error.kind(), row.kind);
    EXPECT_EQ(row.error.message(), row.message);
    EXPECT_EQ(row.error.is_generic_io(), row.kind == Io);
    // Marking a failure as met before the transfer changes neither kind nor text.
    const SourceError marked = SourceError::before_transfer(row.error);
    EXPECT_EQ(marked.kind(), row.kind);
    EXPECT_EQ(marked.message(), row.message);
    EXPECT_TRUE(marked.arose_before_transfer());
    EXPECT_FALSE(marked.may_be_zero_filled());
    EXPECT_EQ(row.error.may_be_zero_filled(), row.kind == Io);
  }
}

TEST(SourceError, EqualOnlyWithTheSamePayload) {
  EXPECT_EQ(SourceError::short_read(512, 100), SourceError::short_read(512, 100));
  EXPECT_NE(SourceError::short_read(512, 100), SourceError::short_read(512, 101));
  EXPECT_NE(SourceError::offset_not_aligned(512, 513), SourceError::length_not_aligned(512, 513));
  EXPECT_NE(SourceError::device_disconnected(),
            SourceError::before_transfer(SourceError::device_disconnected()));
}

TEST(SourceError, TheGenericKindCarriesItsFailure) {
  const SourceError generic =
      SourceError::io(IoError{IoErrorKind::StorageFull, "full (os error 28)", 28});
  EXPECT_EQ(generic.io_kind(), IoErrorKind::StorageFull);
  EXPECT_EQ(generic.io_failure(), (IoError{IoErrorKind::StorageFull, "full (os error 28)", 28}));
  EXPECT_EQ(SourceError::io("ours", IoErrorKind::WriteZero).io_failure().os_code, std::nullopt);
  // A specific kind has no category of its own and embeds as its message.
  EXPECT_EQ(SourceError::device_disconnected().io_kind(), IoErrorKind::Other);
  EXPECT_EQ(SourceError::device_disconnected().io_failure().text,
            "device disconnected during read");
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
      {1, Uncategorized},
      {4, Uncategorized},
      {1118, Uncategorized},
      {999999, Uncategorized},
  };
  for (const Row& row : rows) {
    const SourceError error = source_error_from_os(row.code, "text");
    ASSERT_TRUE(error.is_generic_io()) << row.code;
    EXPECT_EQ(error.io_kind(), row.kind) << row.code;
    EXPECT_EQ(error.io_failure().text, "text (os error " + std::to_string(row.code) + ")");
    EXPECT_EQ(error.io_failure().os_code, std::optional<int>(static_cast<int>(row.code)));
  }
}

TEST(RecoveryError, EveryKindWithItsMessage) {
  using enum RecoveryError::Kind;
  struct Row {
    RecoveryError error;
    RecoveryError::Kind kind;
    std::string message;
  };
  const Row rows[] = {
      {RecoveryError(SourceError::short_read(512, 0)), Source, "short read: expected=512 actual=0"},
      {RecoveryError::io(io_error_custom(IoErrorKind::WriteZero, "failed to write whole buffer")),
       Io, "I/O error: failed to write whole buffer"},
      {RecoveryError::io(SourceError::io("full (os error 28)", IoErrorKind::StorageFull)), Io,
       "I/O error: full (os error 28)"},
      {RecoveryError::invalid_structure("invalid FAT32 BPB"), InvalidStructure,
       "invalid structure: invalid FAT32 BPB"},
      {RecoveryError::unsupported("GPT entry array is too large"), Unsupported,
       "unsupported: GPT entry array is too large"},
      {RecoveryError::checksum_mismatch("GPT header"), ChecksumMismatch,
       "checksum mismatch: GPT header"},
      {RecoveryError::byte_range_overflow(), ByteRangeOverflow, "byte range overflow"},
      {RecoveryError::byte_range_exceeds_source(900, 101, 1000), ByteRangeExceedsSource,
       "byte range exceeds source: offset=900 length=101 capacity=1000"},
      {RecoveryError::destination_exists(), DestinationExists, "destination already exists"},
      {RecoveryError::interrupted(), Interrupted, "imaging interrupted"},
      {RecoveryError::output_filename_missing(), OutputFilenameMissing,
       "image output filename is missing"},
      {RecoveryError::checkpoint_missing("out/card.img.partial.json"), CheckpointMissing,
       "partial image exists but its checkpoint is missing: out/card.img.partial.json"},
      {RecoveryError::checkpoint_unreadable(
           io_error_custom(IoErrorKind::IsADirectory, "is a folder (os error 21)")),
       CheckpointUnreadable, "is a folder (os error 21)"},
      {RecoveryError::invalid_checkpoint("not a regular file"), InvalidCheckpoint,
       "invalid image checkpoint: not a regular file"},
      {RecoveryError::render_failed("[json.exception.type_error.316] bad text"), RenderFailed,
       "[json.exception.type_error.316] bad text"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    EXPECT_EQ(row.error.kind(), row.kind);
    EXPECT_EQ(row.error.message(), row.message);
    EXPECT_EQ(row.error.source_error() != nullptr, row.kind == Source);
    EXPECT_EQ(row.error.io_error() != nullptr, row.kind == Io);
  }
}

TEST(RecoveryError, KeepsItsPayloadForTheFrontEnd) {
  const SourceError gone = SourceError::device_disconnected();
  EXPECT_EQ(*RecoveryError(gone).source_error(), gone);
  const IoError missing{IoErrorKind::NotFound, "no such file (os error 2)", 2};
  EXPECT_EQ(*RecoveryError::io(missing).io_error(), missing);
  EXPECT_EQ(*RecoveryError::io(SourceError::io(missing)).io_error(), missing);
  EXPECT_NE(RecoveryError::invalid_structure("a"), RecoveryError::unsupported("a"));
}

}  // namespace
}  // namespace kestrel::testing

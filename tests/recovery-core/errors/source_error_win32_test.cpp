// Win32 error codes as I/O and source errors, with the system's own texts.
#include <windows.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "os/os_error.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/errors/source_error.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel::testing {
namespace {

// The system message table's text for a code, as FormatMessageW gives it.
std::wstring format_message(DWORD code) {
  wchar_t buffer[1024];
  const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, buffer, 1024, nullptr);
  return std::wstring(buffer, length);
}

TEST(Win32IoError, SystemTextWithoutLineBreaksThenTheCode) {
  struct Case {
    int code;
    IoErrorKind kind;
  };
  const Case cases[] = {
      {2, IoErrorKind::NotFound},         {3, IoErrorKind::NotFound},
      {5, IoErrorKind::PermissionDenied}, {32, IoErrorKind::Uncategorized},
      {80, IoErrorKind::AlreadyExists},   {112, IoErrorKind::StorageFull},
      {183, IoErrorKind::AlreadyExists},  {232, IoErrorKind::BrokenPipe},
  };
  for (const Case& c : cases) {
    const SourceError failure = io_error_from_os_code(c.code);
    ASSERT_TRUE(failure.is_generic_io()) << c.code;
    const IoError error = failure.io_failure();
    EXPECT_EQ(error.os_code, std::optional<int>(c.code));
    EXPECT_EQ(error.kind, c.kind) << c.code;
    std::wstring system = format_message(static_cast<DWORD>(c.code));
    ASSERT_FALSE(system.empty()) << "the system has no text for " << c.code;
    ASSERT_TRUE(system.ends_with(L"\r\n") || system.ends_with(L"\n")) << c.code;
    while (system.back() == L'\r' || system.back() == L'\n') system.pop_back();
    EXPECT_EQ(error.message(),
              utf8_from_wide_lossy(system) + " (os error " + std::to_string(c.code) + ")");
    EXPECT_EQ(os_error_text(c.code), error.message());
  }
}

TEST(Win32IoError, CodeWithoutSystemTextKeepsTheSuffix) {
  // Codes with bit 29 set belong to applications; the system has no text for them.
  constexpr int kApplicationCode = 0x2000'0001;
  const IoError error = io_error_from_os_code(kApplicationCode).io_failure();
  EXPECT_EQ(error.message(), "Unknown error (os error 536870913)");
  EXPECT_EQ(error.kind, IoErrorKind::Uncategorized);
}

TEST(Win32IoError, LastErrorIsGetLastError) {
  ::SetLastError(ERROR_FILE_EXISTS);
  const IoError error = last_io_error().io_failure();
  EXPECT_EQ(error.os_code, std::optional<int>(80));
  EXPECT_EQ(error.kind, IoErrorKind::AlreadyExists);
}

TEST(ImageIoConversion, Win32CodesOfVanishedDeniedAndOtherFailures) {
  for (int code : {2, 3, 15, 53, 67, 109, 232, 10058}) {
    EXPECT_EQ(source_error_from_image_io(io_error_from_os_code(code)),
              SourceError::device_disconnected())
        << code;
  }
  for (int code : {5, 10013}) {
    EXPECT_EQ(source_error_from_image_io(io_error_from_os_code(code)),
              SourceError::read_permission_denied())
        << code;
  }
  // A device code is an ordinary failure for a file: only the device
  // conversion knows 1117 as a vanished device.
  for (int code : {32, 33, 1117}) {
    const SourceError error = source_error_from_image_io(io_error_from_os_code(code));
    ASSERT_TRUE(error.is_generic_io()) << code;
    EXPECT_EQ(error.message(), "source I/O error (Uncategorized): " + os_error_text(code));
  }
}

TEST(RecoveryError, IoDisplayCarriesTheSystemText) {
  EXPECT_EQ(RecoveryError::io(io_error_from_os_code(ERROR_DISK_FULL)).message(),
            "I/O error: " + os_error_text(ERROR_DISK_FULL));
}

}  // namespace
}  // namespace kestrel::testing

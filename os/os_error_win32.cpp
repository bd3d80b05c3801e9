#include <windows.h>

#include <string>

#include "os/os_error.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel {

namespace {

// The system's message for a Win32 error code, in the user's language, from
// the system message table; the line break Windows ends it with is removed.
std::string system_text(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) {
    if (buffer != nullptr) ::LocalFree(buffer);
    return "Unknown error";
  }
  std::wstring text(buffer, length);
  ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return utf8_from_wide_lossy(text);
}

}  // namespace

std::string os_message(int code) { return system_text(static_cast<DWORD>(code)); }

std::string os_error_text(int code) {
  const DWORD win32_code = static_cast<DWORD>(code);
  return system_text(win32_code) + " (os error " + std::to_string(win32_code) + ")";
}

SourceError io_error_from_os_code(int code) {
  return SourceError::io(IoError{io_error_kind_from_win32(static_cast<unsigned long>(code)),
                                 os_error_text(code), code});
}

SourceError last_io_error() { return io_error_from_os_code(static_cast<int>(::GetLastError())); }

}  // namespace kestrel

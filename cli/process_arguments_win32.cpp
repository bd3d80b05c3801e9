#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>

#include "cli/process_arguments.hpp"
#include "os/os_error.hpp"
#include "recovery-core/text/wide_text.hpp"

namespace kestrel {

namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t** block) const { ::LocalFree(block); }
};

}  // namespace

std::expected<std::vector<std::string>, CommandError> process_arguments(int, char**) {
  int count = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> wide(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  if (!wide) {
    return std::unexpected(CommandError::CommandLineUnreadable{last_io_error().io_failure()});
  }
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) {
    const std::wstring_view argument(wide.get()[i]);
    auto text = utf8_from_wide_strict(argument);
    if (!text) {
      return std::unexpected(
          ArgumentError(ArgumentError::ArgumentNotUnicode{utf8_from_wide_lossy(argument)}));
    }
    arguments.push_back(std::move(*text));
  }
  return arguments;
}

void prepare_standard_streams() {
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

}  // namespace kestrel

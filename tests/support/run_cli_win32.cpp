#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#include "recovery-core/text/utf8.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {

namespace {

// UTF-8 text as UTF-16 units. A surrogate spelled in UTF-8's pattern (ED A0 80
// to ED BF BF, which valid UTF-8 never holds) becomes that lone unit, so a test
// can give the tool an argument that is not Unicode text.
std::wstring wide_argument(std::string_view text) {
  std::wstring wide;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    if (byte(i) == 0xED && i + 2 < text.size() && byte(i + 1) >= 0xA0 && byte(i + 1) <= 0xBF &&
        (byte(i + 2) & 0xC0) == 0x80) {
      wide.push_back(
          static_cast<wchar_t>(0xD000 | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F)));
      i += 3;
      continue;
    }
    std::size_t length = byte(i) < 0x80 ? 1 : byte(i) >= 0xF0 ? 4 : byte(i) >= 0xE0 ? 3 : 2;
    length = std::min(length, text.size() - i);
    for (const char32_t cp : utf8_to_code_points(text.substr(i, length))) {
      if (cp >= 0x10000) {
        wide.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
        wide.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      } else {
        wide.push_back(static_cast<wchar_t>(cp));
      }
    }
    i += length;
  }
  return wide;
}

// One argument quoted so that the C runtime and CommandLineToArgvW read it back
// unchanged: backslashes count only before a quotation mark.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  for (std::size_t i = 0;; ++i) {
    std::size_t backslashes = 0;
    while (i < argument.size() && argument[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == argument.size()) {
      out.append(backslashes * 2, L'\\');
      break;
    }
    if (argument[i] == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    out.push_back(argument[i]);
  }
  out.push_back(L'"');
  return out;
}

class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { reset(); }
  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = nullptr;
};

// The environment block of the test process with the given variables set on
// top: NUL-terminated "NAME=value" strings, then one more NUL.
std::wstring environment_block(const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::wstring> entries;
  if (wchar_t* current = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = current; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      entries.emplace_back(entry);
    }
    ::FreeEnvironmentStringsW(current);
  }
  for (const auto& [name, value] : overrides) {
    const std::wstring wide_name = wide_argument(name);
    std::erase_if(entries, [&](const std::wstring& entry) {
      return entry.size() > wide_name.size() && entry[wide_name.size()] == L'=' &&
             ::CompareStringOrdinal(entry.c_str(), static_cast<int>(wide_name.size()),
                                    wide_name.c_str(), static_cast<int>(wide_name.size()),
                                    TRUE) == CSTR_EQUAL;
    });
    entries.push_back(wide_name + L"=" + wide_argument(value));
  }
  std::wstring block;
  for (const std::wstring& entry : entries) {
    block += entry;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

HANDLE inheritable_file(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// CreateProcessW, tried again a few times when it fails with ERROR_INTERNAL_ERROR: Wine gives
// that error now and then when two test processes start children at the same moment, and the
// same call succeeds a moment later. Any other failure is returned at once.
bool start_process(const std::filesystem::path& program, std::wstring& command_line, DWORD creation,
                   std::wstring& environment, const wchar_t* directory, STARTUPINFOW& startup,
                   PROCESS_INFORMATION& process) {
  constexpr int kAttempts = 5;
  for (int attempt = 1;; ++attempt) {
    if (::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, creation,
                         environment.data(), directory, &startup, &process)) {
      return true;
    }
    if (::GetLastError() != ERROR_INTERNAL_ERROR || attempt == kAttempts) return false;
    ::Sleep(200);
  }
}

}  // namespace

CliRun run_cli(const std::vector<std::string>& arguments, const CliOptions& options) {
  TempDir capture;
  const auto out_path = capture / "stdout";
  const auto err_path = capture / "stderr";

  OwnedHandle out;
  if (options.close_stdout) {
    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0))
      throw std::runtime_error("CreatePipe failed");
    ::CloseHandle(read_end);  // no reader anywhere: every write fails
    out.reset(write_end);
  } else {
    const auto& target = options.stdout_file.empty() ? out_path : options.stdout_file;
    out.reset(inheritable_file(target, GENERIC_WRITE, CREATE_ALWAYS));
  }
  OwnedHandle err(inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS));
  OwnedHandle in(inheritable_file(L"NUL", GENERIC_READ, OPEN_EXISTING));
  if (!out.valid() || !err.valid() || !in.valid()) {
    throw std::runtime_error("cannot open the standard handles of the tool");
  }

  const std::filesystem::path program =
      options.executable.empty() ? std::filesystem::path(KESTREL_CLI_PATH) : options.executable;
  std::wstring command_line = quoted(program.native());
  for (const std::string& argument : arguments)
    command_line += L" " + quoted(wide_argument(argument));

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION process = {};
  const wchar_t* directory =
      options.working_directory.empty() ? nullptr : options.working_directory.c_str();
  const DWORD creation = CREATE_UNICODE_ENVIRONMENT | (options.own_console ? CREATE_NO_WINDOW : 0);
  std::wstring environment = environment_block(options.environment);
  if (!start_process(program, command_line, creation, environment, directory, startup, process)) {
    throw std::runtime_error("CreateProcessW failed with error " +
                             std::to_string(::GetLastError()));
  }
  OwnedHandle process_handle(process.hProcess);
  OwnedHandle thread_handle(process.hThread);
  // Only the child holds the stream handles now.
  out.reset();
  err.reset();
  in.reset();

  ::WaitForSingleObject(process_handle.get(), INFINITE);
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process_handle.get(), &exit_code)) {
    throw std::runtime_error("GetExitCodeProcess failed");
  }
  CliRun run;
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  run.exit_code = static_cast<int>(exit_code);
  return run;
}

}  // namespace kestrel::testing

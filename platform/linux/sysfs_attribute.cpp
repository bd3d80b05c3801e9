#include "platform/linux/sysfs_attribute.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "platform/linux/linux_failures.hpp"
#include "platform/linux/unique_fd.hpp"

namespace kestrel {

std::optional<std::string> read_sysfs_bytes(const std::filesystem::path& attribute) {
  UniqueFd fd(::open(attribute.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.is_open()) return std::nullopt;
  std::string bytes(4096, '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

std::optional<std::string> read_sysfs_text(const std::filesystem::path& attribute) {
  auto text = read_sysfs_bytes(attribute);
  if (!text) return std::nullopt;
  while (!text->empty() && (text->back() == '\n' || text->back() == '\0')) text->pop_back();
  return text;
}

std::optional<std::uint64_t> read_sysfs_number(const std::filesystem::path& attribute) {
  auto text = read_sysfs_text(attribute);
  if (!text || text->empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

std::expected<std::vector<std::filesystem::path>, SourceError> list_sysfs_directory(
    const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::directory_iterator entry(directory, error);
  if (error) return std::unexpected(service_failure(error.value()));
  std::vector<std::filesystem::path> entries;
  for (const std::filesystem::directory_iterator end; entry != end && !error;
       entry.increment(error)) {
    entries.push_back(entry->path());
  }
  return entries;
}

}  // namespace kestrel

#include "tests/support/simulated-platform/medium_content.hpp"

#include <algorithm>

namespace kestrel::testing {

std::expected<std::shared_ptr<MediumContent>, SourceError> MediumContent::of_file(
    const std::filesystem::path& path) {
  auto file = FileHandle::open_for_reading(path);
  if (!file) return std::unexpected(file.error());
  return std::shared_ptr<MediumContent>(new MediumContent(std::move(*file)));
}

std::expected<std::uint64_t, SourceError> MediumContent::length() const {
  if (!file_) return bytes_.size();
  return file_->length();
}

std::expected<std::size_t, SourceError> MediumContent::read(std::uint64_t offset,
                                                            std::span<std::uint8_t> buffer) {
  if (!file_) {
    if (offset >= bytes_.size()) return 0;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset));
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return count;
  }
  std::size_t done = 0;
  while (done < buffer.size()) {
    auto got = file_->read_at(offset + done, buffer.subspan(done));
    if (!got) return std::unexpected(got.error());
    if (*got == 0) break;
    done += *got;
  }
  return done;
}

}  // namespace kestrel::testing

#include "cli/text_spool.hpp"

#include <vector>

#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

namespace {

constexpr std::size_t kMemoryBytes = std::size_t{1024} * 1024;

}  // namespace

void TextSpool::spill() {
  if (!file_) {
    auto created = FileHandle::create_temporary();
    if (!created) {
      error_ = created.error();
      return;
    }
    file_.emplace(std::move(*created));
  }
  auto written =
      file_->write_all({reinterpret_cast<const std::uint8_t*>(memory_.data()), memory_.size()});
  if (!written) error_ = written.error();
  memory_.clear();
}

void TextSpool::write(std::string_view text) {
  if (error_) return;
  memory_.append(text);
  if (memory_.size() >= kMemoryBytes) spill();
}

std::expected<void, SourceError> TextSpool::replay(
    const std::function<void(std::string_view)>& consumer) {
  if (error_) return std::unexpected(*error_);
  if (!file_) {
    consumer(memory_);
    return {};
  }
  if (!memory_.empty()) spill();
  if (error_) return std::unexpected(*error_);
  KESTREL_TRY(file_->seek(0));
  std::vector<std::uint8_t> piece(kMemoryBytes);
  for (;;) {
    KESTREL_TRY_ASSIGN(count, file_->read_fully(piece));
    if (*count == 0) return {};
    consumer(std::string_view(reinterpret_cast<const char*>(piece.data()), *count));
  }
}

}  // namespace kestrel

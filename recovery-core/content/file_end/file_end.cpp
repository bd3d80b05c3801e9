#include "recovery-core/content/file_end/file_end.hpp"

#include "recovery-core/content/content_messages.hpp"

namespace kestrel {

FileEnd checked_end(std::uint64_t length, std::string_view extension, std::string_view note) {
  return FileEnd{length, length, EndFinding::Checked, extension, note, {}};
}

FileEnd broken_end(std::uint64_t valid_length, std::string_view extension) {
  return FileEnd{valid_length, valid_length, EndFinding::Broken, extension, kCarvedBrokenNote, {}};
}

FileEnd unended_end(std::uint64_t length, std::uint64_t confirmed, std::string_view extension) {
  return FileEnd{length, confirmed, EndFinding::Unended, extension, kCarvedUnendedNote, {}};
}

}  // namespace kestrel

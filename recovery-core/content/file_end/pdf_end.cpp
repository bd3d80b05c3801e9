#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// A PDF ends with "%%EOF", after a "startxref" line that gives the offset of
// its cross-reference table (or stream). Incremental updates append a body,
// a table and another "%%EOF", so the file's end is its last "%%EOF": the
// search goes on for a while after each one it finds. A "%%EOF" counts as the
// end when its startxref points at a cross-reference section inside the file.
namespace kestrel {

namespace {

constexpr std::string_view kExtension = "pdf";
constexpr std::string_view kEndMark = "%%EOF";
// How far the search for the end mark goes from the file's start at most.
constexpr std::uint64_t kSearchBound = 256u << 20;
// An appended update must show its own end mark within this distance of the last.
constexpr std::uint64_t kUpdateWindow = 1u << 20;
// How far before its end mark a startxref line is looked for.
constexpr std::size_t kTrailerLookBack = 1024;
constexpr std::size_t kRememberedMarks = 8;

// The positions of the last few end marks the search met, newest last.
struct EndMarks {
  std::array<std::uint64_t, kRememberedMarks> positions{};
  std::size_t count = 0;

  void add(std::uint64_t position) {
    if (count == positions.size()) {
      std::shift_left(positions.begin(), positions.end(), 1);
      --count;
    }
    positions[count++] = position;
  }
};

// Finds the end marks in [5, bound), stopping one update window after the last.
std::expected<FileArea::WalkStop, RecoveryError> find_end_marks(FileArea& area, EndMarks& marks) {
  std::uint64_t last_end = 0;
  std::size_t matched = 0;  // of kEndMark, carried across pieces
  return area.walk(
      5, kSearchBound,
      [&](std::uint64_t position,
          std::span<const std::uint8_t> piece) -> std::optional<std::uint64_t> {
        for (std::size_t i = 0; i < piece.size(); ++i) {
          const char c = static_cast<char>(piece[i]);
          if (c == kEndMark[matched]) {
            if (++matched == kEndMark.size()) {
              last_end = position + i + 1;
              marks.add(last_end - kEndMark.size());
              matched = 0;
            }
          } else {
            matched = c != '%' ? 0 : (matched == 2 ? 2 : 1);  // "%%%EOF" still ends in "%%EOF"
          }
          if (last_end != 0 && position + i > last_end + kUpdateWindow) return position + i;
        }
        return std::nullopt;
      });
}

bool starts_xref_section(std::span<const std::uint8_t> b) {
  if (holds_text(b, 0, "xref")) return true;
  // "<number> <number> obj": a cross-reference stream.
  std::size_t i = 0;
  for (int field = 0; field < 2; ++field) {
    const std::size_t digits = i;
    while (i < b.size() && b[i] >= '0' && b[i] <= '9') ++i;
    if (i == digits || i >= b.size() || b[i] != ' ') return false;
    ++i;
  }
  return holds_text(b, i, "obj");
}

// Whether the startxref before the end mark at `mark` points at a section.
std::expected<bool, RecoveryError> startxref_holds(FileArea& area, std::uint64_t mark) {
  const std::uint64_t from = mark > kTrailerLookBack ? mark - kTrailerLookBack : 0;
  KESTREL_TRY_ASSIGN(before, area.bytes(from, static_cast<std::size_t>(mark - from)));
  const std::string_view text(reinterpret_cast<const char*>(before->data()), before->size());
  const std::size_t keyword = text.rfind("startxref");
  if (keyword == std::string_view::npos) return false;
  std::size_t i = keyword + 9;
  while (i < text.size() && (text[i] == '\r' || text[i] == '\n' || text[i] == ' ')) ++i;
  std::uint64_t offset = 0;
  const std::size_t digits = i;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && offset < mark; ++i) {
    offset = offset * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (i == digits || offset >= mark) return false;
  KESTREL_TRY_ASSIGN(section, area.bytes(offset, 32));
  return starts_xref_section(*section);
}

// The file's end after the end mark at `mark`: the mark and one line ending.
std::expected<std::uint64_t, RecoveryError> end_after_mark(FileArea& area, std::uint64_t mark) {
  const std::uint64_t end = mark + kEndMark.size();
  KESTREL_TRY_ASSIGN(after, area.bytes(end, 2));
  if (holds_text(*after, 0, "\r\n")) return end + 2;
  if (!after->empty() && ((*after)[0] == '\n' || (*after)[0] == '\r')) return end + 1;
  return end;
}

}  // namespace

FileEndResult find_pdf_end(FileArea& area) {
  EndMarks marks;
  KESTREL_TRY_ASSIGN(walked, find_end_marks(area, marks));
  if (marks.count == 0) return unended_end(walked->position, walked->position, kExtension);
  for (std::size_t i = marks.count; i > 0; --i) {
    KESTREL_TRY_ASSIGN(holds, startxref_holds(area, marks.positions[i - 1]));
    if (!*holds) continue;
    KESTREL_TRY_ASSIGN(end, end_after_mark(area, marks.positions[i - 1]));
    return checked_end(*end, kExtension, kPdfEndNote);
  }
  KESTREL_TRY_ASSIGN(end, end_after_mark(area, marks.positions[marks.count - 1]));
  return FileEnd{*end, *end, EndFinding::Unchecked, kExtension, kPdfUncheckedEndNote, {}};
}

}  // namespace kestrel

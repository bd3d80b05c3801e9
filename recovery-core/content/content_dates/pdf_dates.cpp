#include <cctype>
#include <string>
#include <string_view>

#include "recovery-core/content/content_dates/content_dates.hpp"
#include "recovery-core/content/content_dates/date_text.hpp"

namespace kestrel {

namespace {

// The trailer (and an incremental update's new Info dictionary) sits at the
// end, a linearized file's first trailer at the start: both ends are read,
// this much of each.
constexpr std::size_t kEndBytes = 64u << 10;
// How much of the Info object is looked through for its two keys.
constexpr std::size_t kMostObjectBytes = 8u << 10;

bool is_space(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_space(std::string_view text, std::size_t& at) {
  while (at < text.size() && is_space(text[at])) ++at;
}

// An unsigned number of at most nine digits at `at`.
std::optional<int> number_at(std::string_view text, std::size_t& at) {
  const std::size_t first = at;
  int value = 0;
  while (at < text.size() && is_digit(text[at]) && at - first < 9)
    value = value * 10 + (text[at++] - '0');
  if (at == first) return std::nullopt;
  return value;
}

// "N G R" after the last "/Info" of the text that has one.
std::optional<std::string> info_reference(std::string_view text) {
  for (std::size_t key = text.rfind("/Info"); key != std::string_view::npos;
       key = key == 0 ? std::string_view::npos : text.rfind("/Info", key - 1)) {
    std::size_t at = key + 5;
    skip_space(text, at);
    const auto number = number_at(text, at);
    skip_space(text, at);
    const auto generation = number_at(text, at);
    skip_space(text, at);
    if (number && generation && at < text.size() && text[at] == 'R')
      return std::to_string(*number) + " " + std::to_string(*generation) + " obj";
  }
  return std::nullopt;
}

// The text of the last object "N G obj" the text holds (a later definition
// replaces an earlier one), up to its endobj and at most kMostObjectBytes.
std::optional<std::string_view> object_text(std::string_view text, const std::string& header) {
  for (std::size_t at = text.rfind(header); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : text.rfind(header, at - 1)) {
    if (at > 0 && is_digit(text[at - 1])) continue;
    std::string_view object = text.substr(at + header.size(), kMostObjectBytes);
    return object.substr(0, object.find("endobj"));
  }
  return std::nullopt;
}

// Two digits at `at`, or nothing.
std::optional<int> field(std::string_view text, std::size_t at) {
  if (at + 2 > text.size() || !is_digit(text[at]) || !is_digit(text[at + 1])) return std::nullopt;
  return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

// The zone after the digits: "Z" (whatever follows it), "+09'00'", "+09'00",
// "+09" or nothing at all; no zone for any other text.
std::optional<DateZone> pdf_zone(std::string_view text, std::size_t at) {
  if (at == text.size()) return DateZone{};
  if (text[at] == 'Z') return DateZone{DateZone::Mark::Utc, 0};
  if (text[at] != '+' && text[at] != '-') return std::nullopt;
  const int sign = text[at] == '-' ? -1 : 1;
  const auto hours = field(text, at + 1);
  if (!hours) return std::nullopt;
  std::size_t next = at + 3;
  if (next < text.size() && text[next] == '\'') ++next;
  const auto minutes = field(text, next);
  if (minutes && *minutes > 59) return std::nullopt;
  if (minutes) next += 2;
  if (next < text.size() && text[next] == '\'') ++next;
  if (next != text.size()) return std::nullopt;
  return DateZone{DateZone::Mark::Offset, sign * (*hours * 60 + minutes.value_or(0))};
}

// "D:YYYYMMDDHHmmSSOHH'mm'" with every field after the year optional.
std::optional<std::string> pdf_date_text(std::string_view text) {
  if (text.starts_with("D:")) text.remove_prefix(2);
  std::size_t at = 0;
  while (at < text.size() && is_digit(text[at])) ++at;
  constexpr DateFields kByLength[] = {DateFields::Year, DateFields::Month,  DateFields::Day,
                                      DateFields::Hour, DateFields::Minute, DateFields::Second};
  if (at < 4 || at > 14 || at % 2 != 0) return std::nullopt;
  const DateFields fields = kByLength[(at - 4) / 2];
  const auto two = [&](std::size_t from) { return at >= from + 2 ? *field(text, from) : 0; };
  const CalendarTime time{
      *field(text, 0) * 100 + *field(text, 2), two(4), two(6), two(8), two(10), two(12)};
  const std::optional<DateZone> zone = pdf_zone(text, at);
  if (!zone) return std::nullopt;
  return reading_text(time, fields, *zone);
}

// The literal string after `key` in a dictionary's text; nothing for another
// kind of value or one with escapes (a date has none).
std::optional<std::string_view> literal_after(std::string_view dictionary, std::string_view key) {
  for (std::size_t found = dictionary.find(key); found != std::string_view::npos;
       found = dictionary.find(key, found + 1)) {
    std::size_t at = found + key.size();
    if (at < dictionary.size() && (std::isalnum(static_cast<unsigned char>(dictionary[at])) != 0))
      continue;  // a longer key that starts the same
    skip_space(dictionary, at);
    if (at >= dictionary.size() || dictionary[at] != '(') return std::nullopt;
    const std::size_t close = dictionary.find(')', at);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view value = dictionary.substr(at + 1, close - at - 1);
    if (value.find('\\') != std::string_view::npos) return std::nullopt;
    return value;
  }
  return std::nullopt;
}

std::string as_text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The Info dictionary's text: its reference from the last trailer that names
// one (the end first), its object from the end first too.
std::optional<std::string_view> info_dictionary(std::string_view tail, std::string_view head) {
  std::optional<std::string> header = info_reference(tail);
  if (!header) header = info_reference(head);
  if (!header) return std::nullopt;
  if (auto object = object_text(tail, *header)) return object;
  return object_text(head, *header);
}

}  // namespace

std::optional<ContentDates> pdf_content_dates(ContentBytes& bytes) {
  const std::uint64_t size = bytes.size();
  const std::uint64_t tail_start = size > kEndBytes ? size - kEndBytes : 0;
  const auto head_bytes = bytes.read(0, kEndBytes);
  const auto tail_bytes = bytes.read(tail_start, kEndBytes);
  if (!head_bytes || !tail_bytes) return std::nullopt;
  const std::string head = as_text(*head_bytes);
  const std::string tail = as_text(*tail_bytes);
  const std::optional<std::string_view> info = info_dictionary(tail, head);
  if (!info) return std::nullopt;
  ContentDates dates{{}, {}, DateSource::PdfInfo};
  if (const auto changed = literal_after(*info, "/ModDate"))
    dates.modified = pdf_date_text(*changed);
  if (const auto made = literal_after(*info, "/CreationDate")) dates.created = pdf_date_text(*made);
  if (!dates.modified && !dates.created) return std::nullopt;
  return dates;
}

}  // namespace kestrel

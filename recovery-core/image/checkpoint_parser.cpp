#include "recovery-core/image/checkpoint_parser.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

// Containers may nest this deep in a checkpoint text (the record itself needs
// three levels: the object, read_errors, one range; the rest is left for
// values of unknown keys, which are skipped).
inline constexpr std::size_t kCheckpointMaxNesting = 64;

// Walks the text for the JSON reader and records how many characters it has
// taken, so that the handler below knows where each event happened: the reader
// reports positions only with its own syntax errors.
class CountingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* at, const char* begin, std::size_t* consumed)
      : at_(at), begin_(begin), consumed_(consumed) {}

  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    ++at_;
    if (consumed_ != nullptr) *consumed_ = static_cast<std::size_t>(at_ - begin_);
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  friend bool operator==(const CountingIterator& a, const CountingIterator& b) {
    return a.at_ == b.at_;
  }

 private:
  const char* at_;
  const char* begin_;
  std::size_t* consumed_;
};

enum class Frame { Checkpoint, ReadErrors, Range, Ignored };
enum class FieldType { Text, Unsigned64, Unsigned32, RangeList };

struct Field {
  std::string_view name;
  FieldType type;
};

constexpr std::array<Field, 8> kCheckpointFields = {{
    {"schema", FieldType::Text},
    {"source_stable_id", FieldType::Text},
    {"source_capacity", FieldType::Unsigned64},
    {"logical_sector_size", FieldType::Unsigned32},
    {"bytes_written", FieldType::Unsigned64},
    {"image_prefix_sha256", FieldType::Text},
    {"read_errors", FieldType::RangeList},
    {"checkpoint_sha256", FieldType::Text},
}};

constexpr std::array<Field, 3> kRangeFields = {{
    {"offset", FieldType::Unsigned64},
    {"length", FieldType::Unsigned64},
    {"error", FieldType::Text},
}};

constexpr std::size_t kNoField = std::numeric_limits<std::size_t>::max();

std::string_view expected_text(FieldType type) {
  switch (type) {
    case FieldType::Text:
      return "a string";
    case FieldType::Unsigned64:
      return "an unsigned 64-bit integer";
    case FieldType::Unsigned32:
      return "an unsigned 32-bit integer";
    case FieldType::RangeList:
      return "an array of read-error ranges";
  }
  return "a value";
}

bool is_number_character(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// " at line L column C" for the character at index (index = size: one past the end).
std::string position_text(std::string_view text, std::size_t index) {
  index = std::min(index, text.size());
  const std::string_view before = text.substr(0, index);
  const std::size_t line = 1 + static_cast<std::size_t>(std::ranges::count(before, '\n'));
  const std::size_t last_break = before.rfind('\n');
  const std::size_t line_start = last_break == std::string_view::npos ? 0 : last_break + 1;
  return " at line " + std::to_string(line) + " column " + std::to_string(index - line_start + 1);
}

// The tag the JSON reader puts in front of the text of its exceptions:
// "[json.exception.{kind}.{id}] ".
std::string exception_tag(const nlohmann::json::exception& error) {
  using json = nlohmann::json;
  std::string_view kind = "other_error";
  if (dynamic_cast<const json::parse_error*>(&error) != nullptr) {
    kind = "parse_error";
  } else if (dynamic_cast<const json::invalid_iterator*>(&error) != nullptr) {
    kind = "invalid_iterator";
  } else if (dynamic_cast<const json::type_error*>(&error) != nullptr) {
    kind = "type_error";
  } else if (dynamic_cast<const json::out_of_range*>(&error) != nullptr) {
    kind = "out_of_range";
  }
  return "[json.exception." + std::string(kind) + "." + std::to_string(error.id) + "] ";
}

// Whether `text` starts with `prefix`, which is then taken off.
bool take_prefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

// Whether `text` starts with decimal digits, which are then taken off.
bool take_digits(std::string_view& text) {
  const std::size_t count = text.find_first_not_of("0123456789");
  if (count == 0 || text.empty()) return false;
  text.remove_prefix(std::min(count, text.size()));
  return true;
}

// Takes off the reader's own position, as its parse errors state it after
// "parse error": " at byte {byte}" (nothing at byte 0) or
// " at line {line}, column {column}", then ": ". Leaves `text` as it was
// unless all of it is there.
void take_reader_position(std::string_view& text, std::size_t byte) {
  std::string_view rest = text;
  if (!take_prefix(rest, "parse error")) return;
  const std::string at_byte = byte != 0 ? " at byte " + std::to_string(byte) : "";
  const bool at_line = take_prefix(rest, " at line ") && take_digits(rest) &&
                       take_prefix(rest, ", column ") && take_digits(rest);
  if (!at_line) {
    rest = text.substr(std::string_view("parse error").size());
    if (!take_prefix(rest, at_byte)) return;
  }
  if (take_prefix(rest, ": ")) text = rest;
}

// The JSON reader's description without its exception tag and its own
// position (ours is appended instead); a long token is cut to its last bytes,
// where reading stopped. Always valid UTF-8.
std::string reader_description(const nlohmann::json::exception& error,
                               const std::string& last_token) {
  std::string_view what = error.what();
  if (take_prefix(what, exception_tag(error))) {
    if (const auto* parse = dynamic_cast<const nlohmann::json::parse_error*>(&error))
      take_reader_position(what, parse->byte);
  }
  std::string text(what);
  constexpr std::size_t kShownTokenBytes = 32;
  if (last_token.size() > kShownTokenBytes) {
    if (const std::size_t at = text.find(last_token); at != std::string::npos) {
      text.replace(at, last_token.size(),
                   "..." + last_token.substr(last_token.size() - kShownTokenBytes));
    }
  }
  return decode_utf8_lossy(text);
}

// Builds the record from the reader's events; the first problem stops reading.
class CheckpointHandler final : public nlohmann::json_sax<JsonValue> {
 public:
  CheckpointHandler(std::string_view text, const std::size_t& consumed)
      : text_(text), consumed_(consumed) {}

  bool null() override { return scalar("null", token_end()); }
  bool boolean(bool /*value*/) override { return scalar("boolean", token_end()); }
  bool number_integer(number_integer_t /*value*/) override {
    return scalar("negative integer", number_end());
  }
  bool binary(binary_t& /*value*/) override { return scalar("binary data", token_end()); }

  bool number_unsigned(number_unsigned_t value) override {
    const std::size_t at = number_end();
    const FieldType* type = field_type();
    if (ignoring()) return true;
    if (type != nullptr && *type == FieldType::Unsigned64) {
      store_unsigned(value);
      return true;
    }
    if (type != nullptr && *type == FieldType::Unsigned32) {
      if (value > std::numeric_limits<std::uint32_t>::max()) {
        return fail("invalid value: " + std::to_string(value) +
                        " is out of range for an unsigned 32-bit integer for `" +
                        std::string(field_name()) + "`",
                    at);
      }
      store_unsigned(value);
      return true;
    }
    return type_error("unsigned integer", at);
  }

  bool number_float(number_float_t /*value*/, const string_t& literal) override {
    const std::size_t at = number_end();
    if (ignoring()) return true;
    const FieldType* type = field_type();
    const bool whole_number = !literal.empty() && std::ranges::all_of(literal, [](char c) {
      return c >= '0' && c <= '9';
    });
    if (whole_number && type != nullptr &&
        (*type == FieldType::Unsigned64 || *type == FieldType::Unsigned32)) {
      return fail("invalid value: integer too large for " + std::string(expected_text(*type)) +
                      " for `" + std::string(field_name()) + "`",
                  at);
    }
    return type_error("floating-point number", at);
  }

  bool string(string_t& value) override {
    const std::size_t at = token_end();
    if (ignoring()) return true;
    const FieldType* type = field_type();
    if (type != nullptr && *type == FieldType::Text) {
      store_text(std::move(value));
      return true;
    }
    return type_error("string", at);
  }

  bool start_object(std::size_t /*elements*/) override {
    const std::size_t at = token_end();
    if (!room_to_nest(at)) return false;
    if (stack_.empty()) return enter(Frame::Checkpoint);
    if (ignoring()) return enter(Frame::Ignored);
    if (stack_.back() == Frame::ReadErrors) {
      range_ = ReadErrorRange{};
      range_seen_.fill(false);
      return enter(Frame::Range);
    }
    return type_error("object", at);
  }

  bool start_array(std::size_t /*elements*/) override {
    const std::size_t at = token_end();
    if (!room_to_nest(at)) return false;
    if (!stack_.empty() && ignoring()) return enter(Frame::Ignored);
    const FieldType* type = field_type();
    if (type != nullptr && *type == FieldType::RangeList) {
      checkpoint_.read_errors.clear();
      return enter(Frame::ReadErrors);
    }
    return type_error("array", at);
  }

  bool key(string_t& name) override {
    const std::size_t at = token_end();
    pending_ = kNoField;
    if (stack_.back() == Frame::Checkpoint) return claim(name, kCheckpointFields, seen_, at);
    if (stack_.back() == Frame::Range) return claim(name, kRangeFields, range_seen_, at);
    return true;
  }

  bool end_object() override {
    const std::size_t at = token_end();
    const Frame frame = stack_.back();
    if (frame == Frame::Checkpoint) {
      if (!all_present(kCheckpointFields, seen_, at)) return false;
      complete_ = true;
    } else if (frame == Frame::Range) {
      if (!all_present(kRangeFields, range_seen_, at)) return false;
      checkpoint_.read_errors.push_back(std::move(range_));
    }
    return leave();
  }

  bool end_array() override { return leave(); }

  bool parse_error(std::size_t position, const std::string& last_token,
                   const nlohmann::detail::exception& error) override {
    // The reader's position counts the characters it took, the failing one
    // included (and the end of the text, when it ended too early).
    error_ = reader_description(error, last_token) +
             position_text(text_, position == 0 ? 0 : position - 1);
    return false;
  }

  bool complete() const { return complete_; }
  const std::string& error() const { return error_; }
  ImageCheckpoint take() { return std::move(checkpoint_); }

 private:
  // The last character the reader took: the end of a string, literal or bracket.
  std::size_t token_end() const { return consumed_ == 0 ? 0 : consumed_ - 1; }

  // The reader looks one character past a number (unless the text ended there);
  // the number's last character comes before that.
  std::size_t number_end() const {
    std::size_t at = token_end();
    if (at > 0 && at < text_.size() && !is_number_character(text_[at])) --at;
    return at;
  }

  bool fail(std::string description, std::size_t at) {
    error_ = std::move(description) + position_text(text_, at);
    return false;
  }

  bool room_to_nest(std::size_t at) {
    if (stack_.size() < kCheckpointMaxNesting) return true;
    return fail("nesting is deeper than " + std::to_string(kCheckpointMaxNesting) + " levels", at);
  }

  bool enter(Frame frame) {
    stack_.push_back(frame);
    pending_ = kNoField;
    return true;
  }

  bool leave() {
    stack_.pop_back();
    pending_ = kNoField;
    return true;
  }

  // True when the next value belongs to an unknown key (or lies inside one).
  bool ignoring() const {
    if (stack_.empty()) return false;
    const Frame frame = stack_.back();
    if (frame == Frame::Ignored) return true;
    return (frame == Frame::Checkpoint || frame == Frame::Range) && pending_ == kNoField;
  }

  const Field* field() const {
    if (stack_.empty() || pending_ == kNoField) return nullptr;
    if (stack_.back() == Frame::Checkpoint) return &kCheckpointFields[pending_];
    if (stack_.back() == Frame::Range) return &kRangeFields[pending_];
    return nullptr;
  }
  const FieldType* field_type() const {
    const Field* f = field();
    return f == nullptr ? nullptr : &f->type;
  }
  std::string_view field_name() const { return field()->name; }

  bool scalar(std::string_view found, std::size_t at) {
    if (ignoring()) return true;
    return type_error(found, at);
  }

  bool type_error(std::string_view found, std::size_t at) {
    std::string description = "invalid type: " + std::string(found) + ", expected ";
    if (const Field* f = field()) {
      description += std::string(expected_text(f->type)) + " for `" + std::string(f->name) + "`";
    } else if (stack_.empty()) {
      description += "a checkpoint object";
    } else {
      description += "a read-error range object";
    }
    return fail(std::move(description), at);
  }

  template <std::size_t N>
  bool claim(const std::string& name, const std::array<Field, N>& fields, std::array<bool, N>& seen,
             std::size_t at) {
    for (std::size_t i = 0; i < N; ++i) {
      if (fields[i].name != name) continue;
      if (seen[i]) return fail("duplicate field `" + name + "`", at);
      seen[i] = true;
      pending_ = i;
      return true;
    }
    return true;  // an unknown key: its value is skipped
  }

  template <std::size_t N>
  bool all_present(const std::array<Field, N>& fields, const std::array<bool, N>& seen,
                   std::size_t at) {
    for (std::size_t i = 0; i < N; ++i) {
      if (!seen[i]) return fail("missing field `" + std::string(fields[i].name) + "`", at);
    }
    return true;
  }

  void store_unsigned(std::uint64_t value) {
    const std::string_view name = field_name();
    if (name == "source_capacity")
      checkpoint_.source_capacity = value;
    else if (name == "logical_sector_size")
      checkpoint_.logical_sector_size = static_cast<std::uint32_t>(value);
    else if (name == "bytes_written")
      checkpoint_.bytes_written = value;
    else if (name == "offset")
      range_.offset = value;
    else if (name == "length")
      range_.length = value;
  }

  void store_text(std::string value) {
    const std::string_view name = field_name();
    if (name == "schema")
      checkpoint_.schema = std::move(value);
    else if (name == "source_stable_id")
      checkpoint_.source_stable_id = std::move(value);
    else if (name == "image_prefix_sha256")
      checkpoint_.image_prefix_sha256 = std::move(value);
    else if (name == "checkpoint_sha256")
      checkpoint_.checkpoint_sha256 = std::move(value);
    else if (name == "error")
      range_.error = std::move(value);
  }

  std::string_view text_;
  const std::size_t& consumed_;
  std::vector<Frame> stack_;
  std::size_t pending_ = kNoField;  // the field the next value of the innermost object fills
  std::array<bool, kCheckpointFields.size()> seen_{};
  std::array<bool, kRangeFields.size()> range_seen_{};
  ImageCheckpoint checkpoint_;
  ReadErrorRange range_;
  bool complete_ = false;
  std::string error_;
};

}  // namespace

std::expected<ImageCheckpoint, RecoveryError> parse_checkpoint(std::string_view text) {
  std::size_t consumed = 0;
  CheckpointHandler handler(text, consumed);
  const char* begin = text.data();
  CountingIterator first(begin, begin, &consumed);
  CountingIterator last(begin + text.size(), begin, nullptr);
  try {
    if (!JsonValue::sax_parse(first, last, &handler)) {
      return std::unexpected(RecoveryError::invalid_checkpoint(
          handler.error().empty() ? std::string("unreadable checkpoint") : handler.error()));
    }
  } catch (const nlohmann::json::exception& e) {
    return std::unexpected(RecoveryError::invalid_checkpoint(reader_description(e, {})));
  }
  if (!handler.complete())
    return std::unexpected(RecoveryError::invalid_checkpoint("unreadable checkpoint"));
  return handler.take();
}

}  // namespace kestrel

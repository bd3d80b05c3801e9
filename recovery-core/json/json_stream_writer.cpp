#include "recovery-core/json/json_stream_writer.hpp"

#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

namespace {

// A value rendered on its own, with every line after its first indented by
// `pad` more, as it stands inside the document. Rendered strings hold no raw
// line feed (it is escaped), so each one starts a line of the layout.
std::string indented(const JsonValue& value, const std::string& pad) {
  std::string text = value.dump(2, ' ', false, JsonValue::error_handler_t::replace);
  if (pad.empty() || text.find('\n') == std::string::npos) return text;
  std::string shifted;
  shifted.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    shifted.push_back(c);
    if (c == '\n') shifted.append(pad);
  }
  return shifted;
}

}  // namespace

std::string JsonStreamWriter::indentation(std::size_t depth) const {
  return std::string(2 * depth, ' ');
}

void JsonStreamWriter::start_item() {
  if (after_member_) {
    after_member_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  output_.write(level.has_items ? ",\n" : "\n");
  level.has_items = true;
  output_.write(indentation(levels_.size()));
}

void JsonStreamWriter::begin_object() {
  start_item();
  output_.write("{");
  levels_.push_back({});
}

void JsonStreamWriter::begin_array() {
  start_item();
  output_.write("[");
  levels_.push_back({});
}

void JsonStreamWriter::close(char bracket) {
  const bool had_items = levels_.back().has_items;
  levels_.pop_back();
  if (had_items) {
    output_.write("\n");
    output_.write(indentation(levels_.size()));
  }
  output_.write(std::string_view(&bracket, 1));
}

void JsonStreamWriter::end_object() { close('}'); }

void JsonStreamWriter::end_array() { close(']'); }

void JsonStreamWriter::member(std::string_view name) {
  start_item();
  output_.write(indented(JsonValue(std::string(name)), {}));
  output_.write(": ");
  after_member_ = true;
}

void JsonStreamWriter::member(std::string_view name, const JsonValue& value) {
  member(name);
  this->value(value);
}

void JsonStreamWriter::value(const JsonValue& value) {
  start_item();
  output_.write(indented(value, indentation(levels_.size())));
}

void JsonStreamWriter::finish() { output_.write("\n"); }

}  // namespace kestrel

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/json/json_value.hpp"

namespace kestrel {

// Where a streamed document's text goes, piece by piece, in order. A write
// that fails is remembered by the output itself; the writer does not look.
class JsonTextOutput {
 public:
  virtual ~JsonTextOutput() = default;
  virtual void write(std::string_view text) = 0;
  // Whether a write failed, so that a writer may stop early.
  virtual bool failed() const = 0;
};

// Writes one document in exactly the layout of render_json without holding
// it: containers are opened and closed as the caller goes, and each value in
// them is rendered on its own (a record at a time) and indented to its depth.
// The text of a document written this way equals render_json of the whole.
// Usage follows the document's shape: begin_object, then for each member
// member(name) followed by one value (value, or begin_object/begin_array and
// their end), ...; inside an array, values follow one another without names.
// finish() adds the final line feed.
class JsonStreamWriter {
 public:
  explicit JsonStreamWriter(JsonTextOutput& output) : output_(output) {}

  void begin_object();
  void begin_array();
  void end_object();
  void end_array();
  void member(std::string_view name);
  // A member and its whole value.
  void member(std::string_view name, const JsonValue& value);
  void value(const JsonValue& value);
  void finish();
  bool failed() const { return output_.failed(); }

 private:
  struct Level {
    bool has_items = false;
  };

  void start_item();  // separator and indentation before an array element or a member
  void close(char bracket);
  std::string indentation(std::size_t depth) const;

  JsonTextOutput& output_;
  std::vector<Level> levels_;
  bool after_member_ = false;  // a member name was written; its value follows on the same line
};

}  // namespace kestrel

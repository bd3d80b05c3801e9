// A document streamed a value at a time reads exactly as the whole document rendered at once.
#include "recovery-core/json/json_stream_writer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recovery-core/json/json_layout.hpp"

namespace kestrel::testing {
namespace {

class StringOutput final : public JsonTextOutput {
 public:
  void write(std::string_view piece) override { text.append(piece); }
  bool failed() const override { return false; }
  std::string text;
};

// Streams `document`: containers opened and closed piece by piece down to
// `depth`, anything deeper written as one value.
void stream(JsonStreamWriter& writer, const JsonValue& document, int depth) {
  if (depth == 0 || !document.is_structured()) {
    writer.value(document);
    return;
  }
  if (document.is_object()) {
    writer.begin_object();
    for (const auto& [name, member] : document.items()) {
      writer.member(name);
      stream(writer, member, depth - 1);
    }
    writer.end_object();
  } else {
    writer.begin_array();
    for (const JsonValue& element : document) stream(writer, element, depth - 1);
    writer.end_array();
  }
}

TEST(JsonStreamWriter, SameTextAsTheWholeDocument) {
  const std::vector<JsonValue> documents = {
      JsonValue::object(),
      JsonValue::parse(R"({"devices": [], "warnings": ["a"]})"),
      JsonValue::parse(
          R"({"a": {"b": [], "c": {}, "d": [[], [1, {"e": null}]]}, "f": "q\"\\\t\u0001/\u007f"})"),
      JsonValue::parse(R"([{"x": [{"y": [true, false, 18446744073709551615]}]}, "Zoë 사진"])"),
      JsonValue{{"bad utf-8", std::string("\xFF\xFE ok")}, {"key \"quoted\"\n", 1}},
  };
  for (const JsonValue& document : documents) {
    const std::string whole = *render_json(document) + "\n";
    for (int depth = 1; depth <= 4; ++depth) {
      StringOutput output;
      JsonStreamWriter writer(output);
      stream(writer, document, depth);
      writer.finish();
      EXPECT_EQ(output.text, whole) << whole << " at depth " << depth;
    }
  }
}

}  // namespace
}  // namespace kestrel::testing

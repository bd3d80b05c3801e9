#include "cli/output.hpp"

#include <gtest/gtest.h>

#include <cstdio>

#include "cli/command_line.hpp"
#include "cli/error_line.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

TEST(JsonLayout, MatchesTheDocumentForm) {
  JsonValue document = JsonValue::object();
  document["devices"] = JsonValue::array();
  document["warnings"] = JsonValue::array({"C: 검사 제외 · system disk is blocked"});
  document["empty"] = JsonValue::object();
  document["nested"] = {{"b", 1}, {"a", nullptr}, {"flag", false}};
  EXPECT_EQ(*render_json(document),
            "{\n"
            "  \"devices\": [],\n"
            "  \"warnings\": [\n"
            "    \"C: 검사 제외 · system disk is blocked\"\n"
            "  ],\n"
            "  \"empty\": {},\n"
            "  \"nested\": {\n"
            "    \"b\": 1,\n"
            "    \"a\": null,\n"
            "    \"flag\": false\n"
            "  }\n"
            "}");
}

TEST(JsonLayout, EscapesOnlyQuoteBackslashAndControlCharacters) {
  std::string all_controls;
  for (int c = 0; c < 0x20; ++c) all_controls.push_back(static_cast<char>(c));
  JsonValue document = JsonValue::object();
  document["controls"] = all_controls;
  document["plain"] = "a/b\x7F\"q\"\\ é 한글 \xF0\x9F\x93\xB7";
  EXPECT_EQ(*render_json(document),
            "{\n"
            "  \"controls\": "
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r"
            "\\u000e\\u000f\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019"
            "\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f\",\n"
            "  \"plain\": \"a/b\x7F\\\"q\\\"\\\\ é 한글 \xF0\x9F\x93\xB7\"\n"
            "}");
}

TEST(JsonLayout, NumbersAreLargeIntegersAndInvalidTextDoesNotThrow) {
  JsonValue document = JsonValue::object();
  document["max"] = std::uint64_t{18446744073709551615ull};
  document["bad"] = std::string(
      "a\xFF"
      "b");
  auto text = render_json(document);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text,
            "{\n  \"max\": 18446744073709551615,\n  \"bad\": \"a\xEF\xBF\xBD"
            "b\"\n}");
  EXPECT_EQ(*render_json(JsonValue::array()), "[]");
}

TEST(Output, PrintsDocumentsAndResultLinesRaw) {
  TempDir dir;
  std::FILE* out = open_c_stream(dir / "out", "wb");
  std::FILE* err = open_c_stream(dir / "err", "wb");
  {
    Output output(out, err);
    ASSERT_TRUE(output.print_document(JsonValue{{"name", "a\tb\"c"}}));
    output.print_result_line("OUTPUT", "a\tb\"c");
    output.print_error_line("missing command\n" + std::string(usage_block()));
    EXPECT_TRUE(output.finish_result());
  }
  std::fclose(out);
  std::fclose(err);
  EXPECT_EQ(read_file(dir / "out"), "{\n  \"name\": \"a\\tb\\\"c\"\n}\nOUTPUT=a\tb\"c\n");
  EXPECT_EQ(read_file(dir / "err"),
            "KESTREL_ERROR=missing command\n" + std::string(usage_block()) + "\n");
}

TEST(ErrorLine, EscapesControlCharactersOfTheMessageOnly) {
  struct Case {
    std::string text;
    std::string line;
  };
  const std::string usage(usage_block());
  for (const Case& c : {
           Case{"plain path /a b/\xED\x95\x9C.img",
                "KESTREL_ERROR=plain path /a b/\xED\x95\x9C.img\n"},
           Case{"back\\slash \"quoted\"", "KESTREL_ERROR=back\\slash \"quoted\"\n"},
           Case{std::string("\b\t\n\f\r", 5), "KESTREL_ERROR=\\b\\t\\n\\f\\r\n"},
           Case{std::string("\0\x01\x1b\x1f\x7f", 5),
                "KESTREL_ERROR=\\u0000\\u0001\\u001b\\u001f\\u007f\n"},
           Case{"x\nKESTREL_ERROR=y\n" + usage,
                "KESTREL_ERROR=x\\nKESTREL_ERROR=y\n" + usage + "\n"},
           Case{
               "usage block not at the end\n" + usage + "!",
               "KESTREL_ERROR=usage block not at the end\\n" + escape_error_message(usage) + "!\n"},
           Case{usage, "KESTREL_ERROR=" + escape_error_message(usage) + "\n"},
       }) {
    EXPECT_EQ(error_line(c.text), c.line);
  }
}

}  // namespace
}  // namespace kestrel::testing

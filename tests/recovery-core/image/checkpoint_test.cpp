#include "recovery-core/image/checkpoint.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.hpp"
#include "recovery-core/image/checkpoint_file.hpp"
#include "recovery-core/image/checkpoint_output.hpp"
#include "recovery-core/image/checkpoint_parser.hpp"
#include "tests/support/os_error_codes.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

constexpr const char* kEmptyDigest =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

DeviceInfo card() {
  DeviceInfo info;
  info.bus_type = BusType::Usb;
  info.capacity_bytes = 8388608;
  info.logical_sector_size = 512;
  info.stable_id = "usb:kestrel:sim-card:sn-1";
  info.identity_stability = IdentityStability::DeviceSerial;
  info.system_disk_status = SystemDiskStatus::ConfirmedNonSystem;
  return info;
}

std::vector<ReadErrorRange> two_ranges() {
  return {{1024, 512, "source I/O error (Other): bad sector"},
          {4096, 1024,
           "\xC3\x9Cn\xC3\xAF"
           "code"}};
}

ImageCheckpoint saved_form() {
  return make_checkpoint(card(), 2097152, kEmptyDigest, two_ranges()).value();
}

// The file text of saved_form(), byte for byte.
const std::string kSavedText =
    "{\n"
    "  \"schema\": \"1.0\",\n"
    "  \"source_stable_id\": \"usb:kestrel:sim-card:sn-1\",\n"
    "  \"source_capacity\": 8388608,\n"
    "  \"logical_sector_size\": 512,\n"
    "  \"bytes_written\": 2097152,\n"
    "  \"image_prefix_sha256\": "
    "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\",\n"
    "  \"read_errors\": [\n"
    "    {\n"
    "      \"offset\": 1024,\n"
    "      \"length\": 512,\n"
    "      \"error\": \"source I/O error (Other): bad sector\"\n"
    "    },\n"
    "    {\n"
    "      \"offset\": 4096,\n"
    "      \"length\": 1024,\n"
    "      \"error\": \"\xC3\x9Cn\xC3\xAF"
    "code\"\n"
    "    }\n"
    "  ],\n"
    "  \"checkpoint_sha256\": "
    "\"2277764a26ed2efad6bca4143781addfd0acca9ba1414a9868c11eec125863c6\"\n"
    "}";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(CheckpointPath, AppendsToTheFileName) {
  EXPECT_EQ(checkpoint_path("card.img"), std::filesystem::path("card.img.partial.json"));
  EXPECT_EQ(checkpoint_path("out/dir/card.img"),
            std::filesystem::path("out/dir/card.img.partial.json"));
  EXPECT_EQ(checkpoint_path("/images/card"), std::filesystem::path("/images/card.partial.json"));
  EXPECT_EQ(checkpoint_path("out/.hidden"), std::filesystem::path("out/.hidden.partial.json"));
  for (const char* bad : {"", "/", "out/", ".", "..", "out/..", "out/."}) {
    EXPECT_EQ(checkpoint_path(bad).error().message(), "image output filename is missing") << bad;
  }
}

TEST(CheckpointDigest, CountedLittleEndianEncoding) {
  // Reference values computed independently (Python hashlib over the encoding).
  auto bare = make_checkpoint(card(), 2097152, kEmptyDigest, {}).value();
  EXPECT_EQ(bare.checkpoint_sha256,
            "bd205329842e024e6370aa0153854837fee9e4f5fdd692f16154e027e621dc7f");
  EXPECT_EQ(saved_form().checkpoint_sha256,
            "2277764a26ed2efad6bca4143781addfd0acca9ba1414a9868c11eec125863c6");

  // Moving a character across a field boundary keeps the concatenation but
  // changes the counts, and so the digest.
  ImageCheckpoint moved = bare;
  moved.schema = "1.";
  moved.source_stable_id = "0usb:kestrel:sim-card:sn-1";
  EXPECT_EQ(checkpoint_digest(moved),
            "4f1acb00a699e541d7f73fc7b46191dd04d9e0c9726fdc7926558382568d2102");
  EXPECT_NE(checkpoint_digest(moved), checkpoint_digest(bare));

  // The stored digest is not part of its own input.
  ImageCheckpoint stored = bare;
  stored.checkpoint_sha256 = "anything";
  EXPECT_EQ(checkpoint_digest(stored), bare.checkpoint_sha256);
}

TEST(CheckpointFile, SavesTheFixedLayoutAndLoadsItBack) {
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  write_file(path, std::string(10000, 'x'));  // a longer old file is truncated
  ASSERT_TRUE(save_checkpoint(path, saved_form()));
  EXPECT_EQ(read_file(path), kSavedText);

  auto loaded = load_checkpoint(path, true);
  ASSERT_TRUE(loaded) << loaded.error().message();
  ASSERT_TRUE(loaded->has_value());
  EXPECT_EQ(**loaded, saved_form());
  EXPECT_TRUE(validate_checkpoint(**loaded, card(), 2097152));
}

TEST(CheckpointFile, EachReplacementLeavesExactlyItsText) {
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  write_file(path, std::string(100, 'x'));  // an older, longer file goes when it is opened
  auto output = open_checkpoint_output(path);
  ASSERT_TRUE(output) << output.error().message();
  EXPECT_EQ(read_file(path), "");
  auto replace = [&](std::string_view text) {
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    ASSERT_TRUE((*output)->replace(bytes));
    EXPECT_EQ(read_file(path), text);
  };
  replace("{\"a\": 1}");
  replace("{\"a\": 10}");  // longer: written over the old text from the start
  replace("{\"a\": 2}");   // shorter: nothing of the old text's end stays
  EXPECT_TRUE((*output)->flush());
  EXPECT_TRUE((*output)->close());
  EXPECT_EQ(read_file(path), "{\"a\": 2}");
}

TEST(CheckpointFile, MissingUnreadableAndUnwritableFiles) {
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  auto none = load_checkpoint(path, false);
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->has_value());
  EXPECT_EQ(load_checkpoint(path, true).error().message(),
            "partial image exists but its checkpoint is missing: " + path.string());

  std::filesystem::create_directory(path);
  EXPECT_EQ(load_checkpoint(path, false).error().message(), os_error_text(kDirectoryAsFileCode));
  EXPECT_EQ(save_checkpoint(path, saved_form()).error().message(),
            "I/O error: " + os_error_text(kDirectoryAsFileCode));
  EXPECT_EQ(save_checkpoint(dir / "missing" / "x.partial.json", saved_form()).error().message(),
            "I/O error: " + os_error_text(kNoSuchDirectoryCode));
}

TEST(CheckpointFile, OversizedFilesAreRefusedUnread) {
  TempDir dir;
  const auto path = dir / "big.partial.json";
  write_file(path, std::string(kCheckpointFileLimit + 1, ' '));
  EXPECT_EQ(load_checkpoint(path, true).error().message(),
            "invalid image checkpoint: file is larger than 16777216 bytes");

  // White space up to the limit is read (and found to hold no object).
  write_file(path, std::string(kCheckpointFileLimit, ' '));
  EXPECT_TRUE(load_checkpoint(path, true)
                  .error()
                  .message()
                  .starts_with("invalid image checkpoint: syntax error while parsing value - "
                               "unexpected end of input"));

  // A record whose text would pass the limit is not written, and the old file stays.
  std::vector<ReadErrorRange> ranges;
  for (std::uint64_t i = 0; i < 200; ++i)
    ranges.push_back({i * 1024, 512, std::string(100000, 'e')});
  auto huge = make_checkpoint(card(), 2097152, kEmptyDigest, std::move(ranges)).value();
  write_file(path, "old");
  EXPECT_EQ(save_checkpoint(path, huge).error().message(),
            "I/O error: image checkpoint file is larger than 16777216 bytes");
  EXPECT_EQ(read_file(path), "old");
}

TEST(CheckpointFile, EveryTruncationIsRefused) {
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  for (std::size_t length = 0; length < kSavedText.size(); ++length) {
    write_file(path, std::string_view(kSavedText).substr(0, length));
    auto loaded = load_checkpoint(path, true);
    ASSERT_FALSE(loaded) << "prefix of " << length << " bytes was accepted";
    const std::string message = loaded.error().message();
    EXPECT_TRUE(message.starts_with("invalid image checkpoint: ")) << message;
    EXPECT_NE(message.find(" at line "), std::string::npos) << message;
  }
}

TEST(CheckpointFile, NoSingleByteEditResumesWithADifferentRecord) {
  // Every byte of a saved file replaced by each of these: the reader must never
  // fail badly, and a record that loads and validates must be the one saved
  // (the edit only touched white space, say).
  const char replacements[] = {' ', '\t', '\n', '"', '\\', '0', '9', '-',  '.',
                               ',', ':',  '{',  '}', '[',  ']', 'x', '\0', '\xFF'};
  std::size_t accepted = 0;
  for (std::size_t at = 0; at < kSavedText.size(); ++at) {
    for (const char replacement : replacements) {
      if (kSavedText[at] == replacement) continue;
      std::string edited = kSavedText;
      edited[at] = replacement;
      auto parsed = parse_checkpoint(edited);
      if (!parsed) {
        EXPECT_NE(parsed.error().message().find(" at line "), std::string::npos)
            << parsed.error().message();
        continue;
      }
      if (!validate_checkpoint(*parsed, card(), 2097152)) continue;
      EXPECT_EQ(*parsed, saved_form()) << "byte " << at << " set to " << int(replacement);
      ++accepted;
    }
  }
  EXPECT_GT(accepted, 0u);  // white space edits do load and validate
}

// One field of a saved file edited; the load and validation that follow must
// refuse it with the given message.
struct Tamper {
  const char* name;
  std::string from;
  std::string to;
  std::string error;
};

TEST(CheckpointValidation, EverySingleFieldTamperIsCaught) {
  const std::string digest_line =
      "2277764a26ed2efad6bca4143781addfd0acca9ba1414a9868c11eec125863c6";
  const Tamper cases[] = {
      {"schema 1.1", "\"1.0\"", "\"1.1\"",
       "invalid structure: unsupported image checkpoint schema"},
      {"schema 1.00", "\"1.0\"", "\"1.00\"",
       "invalid structure: unsupported image checkpoint schema"},
      {"schema 1", "\"1.0\"", "\"1\"", "invalid structure: unsupported image checkpoint schema"},
      {"schema as a number", "\"1.0\"", "1.0",
       "invalid image checkpoint: invalid type: floating-point number, expected a string for "
       "`schema` "
       "at line 2 column 15"},
      {"another card", "sn-1", "sn-2",
       "invalid structure: image checkpoint source identity mismatch"},
      {"capacity digit", "8388608", "8388600",
       "invalid structure: image checkpoint source capacity mismatch"},
      {"sector size", "\"logical_sector_size\": 512", "\"logical_sector_size\": 4096",
       "invalid structure: image checkpoint sector size mismatch"},
      {"bytes written digit", "2097152", "2097153",
       "invalid structure: image checkpoint length does not match partial image"},
      {"prefix hash not hex", "e3b0c442", "g3b0c442",
       "invalid structure: image checkpoint contains an invalid prefix hash"},
      {"prefix hash too short", "e3b0c442", "e3b0c44",
       "invalid structure: image checkpoint contains an invalid prefix hash"},
      {"prefix hash digit", "e3b0c442", "f3b0c442", "checksum mismatch: image checkpoint"},
      {"prefix hash upper case", "e3b0c442", "E3B0C442", "checksum mismatch: image checkpoint"},
      {"error text character", "bad sector", "bad sectoR", "checksum mismatch: image checkpoint"},
      {"range length digit", "\"length\": 1024", "\"length\": 1536",
       "checksum mismatch: image checkpoint"},
      {"ranges swapped", "\"offset\": 1024", "\"offset\": 8192",
       "invalid structure: image checkpoint contains an invalid read-error range"},
      {"range of length 0", "\"length\": 512", "\"length\": 0",
       "invalid structure: image checkpoint contains an invalid read-error range"},
      {"range off the sector grid", "\"offset\": 1024", "\"offset\": 100",
       "invalid structure: image checkpoint contains an invalid read-error range"},
      {"range length off the grid", "\"length\": 512", "\"length\": 500",
       "invalid structure: image checkpoint contains an invalid read-error range"},
      {"second range inside the first", "\"offset\": 4096", "\"offset\": 1024",
       "invalid structure: image checkpoint contains an invalid read-error range"},
      {"range past bytes written", "\"offset\": 4096", "\"offset\": 2096640",
       "invalid structure: image checkpoint contains an invalid read-error range"},
      {"range end overflows", "\"offset\": 4096", "\"offset\": 18446744073709551104",
       "byte range overflow"},
      {"stored digest digit", digest_line, "3" + digest_line.substr(1),
       "checksum mismatch: image checkpoint"},
      {"stored digest upper case", digest_line,
       "2277764A26ED2EFAD6BCA4143781ADDFD0ACCA9BA1414A9868C11EEC125863C6",
       "checksum mismatch: image checkpoint"},
      {"stored digest not hex", digest_line, "not a digest", "checksum mismatch: image checkpoint"},
      {"negative bytes written", "2097152", "-2097152",
       "invalid image checkpoint: invalid type: negative integer, expected an unsigned 64-bit "
       "integer "
       "for `bytes_written` at line 6 column 27"},
  };
  TempDir dir;
  const auto path = dir / "card.img.partial.json";
  for (const Tamper& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(path, replaced(kSavedText, c.from, c.to));
    auto loaded = load_checkpoint(path, true);
    if (!loaded) {
      EXPECT_EQ(loaded.error().message(), c.error);
      continue;
    }
    ASSERT_TRUE(loaded->has_value());
    auto valid = validate_checkpoint(**loaded, card(), 2097152);
    ASSERT_FALSE(valid);
    EXPECT_EQ(valid.error().message(), c.error);
  }
}

TEST(CheckpointValidation, DeviceAndImageChecksInOrder) {
  const ImageCheckpoint good = saved_form();
  EXPECT_TRUE(validate_checkpoint(good, card(), 2097152));

  DeviceInfo moved = card();  // the same card on another port, renumbered
  moved.physical_drive_number = 7;
  EXPECT_TRUE(validate_checkpoint(good, moved, 2097152));

  DeviceInfo other = card();  // another card of the same size
  other.stable_id = "usb:kestrel:sim-card:sn-9";
  EXPECT_EQ(validate_checkpoint(good, other, 2097152).error().message(),
            "invalid structure: image checkpoint source identity mismatch");

  DeviceInfo everything_differs = other;
  everything_differs.capacity_bytes = 1;
  everything_differs.logical_sector_size = 4096;
  ImageCheckpoint old_schema = good;
  old_schema.schema = "0.9";
  EXPECT_EQ(validate_checkpoint(old_schema, everything_differs, 5).error().message(),
            "invalid structure: unsupported image checkpoint schema");
  EXPECT_EQ(validate_checkpoint(good, everything_differs, 5).error().message(),
            "invalid structure: image checkpoint source identity mismatch");

  auto one_mib = make_checkpoint(card(), 1048576, kEmptyDigest, {}).value();
  EXPECT_EQ(validate_checkpoint(one_mib, card(), 1048064).error().message(),
            "invalid structure: image checkpoint length does not match partial image");

  // Ranges may touch; a zero-length record at the start is still fine with no ranges.
  auto touching = make_checkpoint(card(), 4096, kEmptyDigest,
                                  {{0, 512, "a"}, {512, 512, "b"}, {1024, 3072, "a"}})
                      .value();
  EXPECT_TRUE(validate_checkpoint(touching, card(), 4096));
  auto fresh = make_checkpoint(card(), 0, kEmptyDigest, {}).value();
  EXPECT_TRUE(validate_checkpoint(fresh, card(), 0));
}

// Texts that are JSON but not a checkpoint, or not JSON at all, with the exact
// description and position.
struct ParseCase {
  const char* name;
  std::string text;
  std::string error;
};

std::string without_line(const std::string& text, const std::string& line_start) {
  const std::size_t at = text.find(line_start);
  const std::size_t end = text.find('\n', at);
  return text.substr(0, at) + text.substr(end + 1);
}

TEST(CheckpointParser, DescribesTheProblemAndWhereItIs) {
  const ParseCase cases[] = {
      {"missing read_errors (renamed, so ignored)",
       replaced(kSavedText, "\"read_errors\":", "\"read_errors_old\":"),
       "missing field `read_errors` at line 21 column 1"},
      {"missing checkpoint digest",
       without_line(replaced(kSavedText, "  ],\n", "  ]\n"), "  \"checkpoint_sha256\""),
       "missing field `checkpoint_sha256` at line 20 column 1"},
      {"first missing field in field order", "{}", "missing field `schema` at line 1 column 2"},
      {"duplicate key points at the second one",
       replaced(kSavedText, "\"bytes_written\": 2097152,",
                "\"bytes_written\": 2097152, \"schema\": \"1.0\","),
       "duplicate field `schema` at line 6 column 36"},
      {"duplicate key in a range",
       replaced(kSavedText, "\"length\": 512,", "\"length\": 512, \"length\": 512,"),
       "duplicate field `length` at line 11 column 29"},
      {"range without its error",
       without_line(replaced(kSavedText, "\"length\": 512,", "\"length\": 512"),
                    "      \"error\": \"source"),
       "missing field `error` at line 12 column 5"},
      {"range that is not an object",
       replaced(kSavedText, "  \"read_errors\": [\n", "  \"read_errors\": [ 5,\n"),
       "invalid type: unsigned integer, expected a read-error range object at line 8 column 20"},
      {"read_errors as an object", "{\"read_errors\": {}}",
       "invalid type: object, expected an array of read-error ranges for `read_errors` at line 1 "
       "column 17"},
      {"sector size beyond 32 bits",
       replaced(kSavedText, "\"logical_sector_size\": 512", "\"logical_sector_size\": 4294967296"),
       "invalid value: 4294967296 is out of range for an unsigned 32-bit integer for "
       "`logical_sector_size` "
       "at line 5 column 35"},
      {"capacity beyond 64 bits", replaced(kSavedText, "8388608", "18446744073709551616"),
       "invalid value: integer too large for an unsigned 64-bit integer for `source_capacity` at "
       "line 4 column 41"},
      {"fraction", replaced(kSavedText, "2097152", "2097152.5"),
       "invalid type: floating-point number, expected an unsigned 64-bit integer for "
       "`bytes_written` "
       "at line 6 column 28"},
      {"text for a number", replaced(kSavedText, "2097152", "\"2097152\""),
       "invalid type: string, expected an unsigned 64-bit integer for `bytes_written` at line 6 "
       "column 28"},
      {"null for text", replaced(kSavedText, "\"1.0\"", "null"),
       "invalid type: null, expected a string for `schema` at line 2 column 16"},
      {"not an object", "[]",
       "invalid type: array, expected a checkpoint object at line 1 column 1"},
      {"a bare number", "7",
       "invalid type: unsigned integer, expected a checkpoint object at line 1 column 1"},
      {"empty text", "",
       "syntax error while parsing value - unexpected end of input; expected '[', '{', or a "
       "literal "
       "at line 1 column 1"},
      {"trailing text", kSavedText + "\n}",
       "syntax error while parsing value - unexpected '}'; expected end of input at line 22 column "
       "1"},
      {"second object", kSavedText + "{}",
       "syntax error while parsing value - unexpected '{'; expected end of input at line 21 column "
       "2"},
      {"cut short", kSavedText.substr(0, 12),
       "syntax error while parsing object separator - unexpected end of input; expected ':' "
       "at line 2 column 11"},
      {"bad literal", "{\n  \"schema\": tru }",
       "syntax error while parsing value - invalid literal; last read: '\"schema\": tru ' at line "
       "2 column 16"},
      {"deep nesting under an unknown key",
       "{\"x\": " + std::string(64, '[') + std::string(64, ']') + "}",
       "nesting is deeper than 64 levels at line 1 column 70"},
      {"long bad token is shortened", "{\"x\": \"" + std::string(5000, 'a') + "\\q\"}",
       "syntax error while parsing value - invalid string: forbidden character after backslash; "
       "last read: '..." +
           std::string(30, 'a') + "\\q' at line 1 column 5009"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto parsed = parse_checkpoint(c.text);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().kind(), RecoveryError::Kind::InvalidCheckpoint);
    EXPECT_EQ(parsed.error().message(), "invalid image checkpoint: " + c.error);
  }
}

TEST(CheckpointParser, AcceptsAnyKeyOrderUnknownKeysAndTrailingWhiteSpace) {
  const std::string reordered =
      "  {\"checkpoint_sha256\": "
      "\"2277764a26ed2efad6bca4143781addfd0acca9ba1414a9868c11eec125863c6\",\r\n"
      "\"comment\": {\"nested\": [1, -2, 3.5, null, true, {\"deep\": [[[]]]}], \"schema\": 5},\n"
      "\"read_errors\": [{\"error\": \"source I/O error (Other): bad sector\", \"length\": 512, "
      "\"offset\": 1024,"
      " \"note\": [\"ignored\"]},"
      " {\"length\": 1024, \"offset\": 4096, \"error\": \"\\u00dcn\\u00efcode\"}],\n"
      "\"bytes_written\": 2097152, \"logical_sector_size\": 512, \"source_capacity\": 8388608,\n"
      "\"image_prefix_sha256\": "
      "\"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\",\n"
      "\"source_stable_id\": \"usb:kestrel:sim-card:sn-1\", \"schema\": \"1.0\", \"extra\": "
      "\"x\"}\n\t \r\n";
  auto parsed = parse_checkpoint(reordered);
  ASSERT_TRUE(parsed) << parsed.error().message();
  EXPECT_EQ(*parsed, saved_form());

  // Nesting up to the limit inside an unknown key is skipped like any value.
  const std::string deep =
      replaced(kSavedText, "{\n", "{\"x\": " + std::string(63, '[') + std::string(63, ']') + ",\n");
  auto skipped = parse_checkpoint(deep);
  ASSERT_TRUE(skipped) << skipped.error().message();
  EXPECT_EQ(*skipped, saved_form());
}

}  // namespace
}  // namespace kestrel::testing

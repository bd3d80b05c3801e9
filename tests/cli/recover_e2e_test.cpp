// recover and recover-all run through the shipped binary on the sample card
// (a real-tool image): every failure message, the batch document, and that an
// existing file is never touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "os/file_system.hpp"
#include "os/os_error.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/os_error_codes.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSampleCard = "../../samples/sample-card.img";

// Text as it stands between the quotes of a JSON string.
std::string json_text(const std::string& text) {
  const std::string quoted = JsonValue(text).dump();
  return quoted.substr(1, quoted.size() - 2);
}

class SampleCard : public ::testing::Test {
 protected:
  void SetUp() override {
    unpack_fixture(kSampleCard, dir_ / "card.img");
    image_bytes_ = read_file(dir_ / "card.img");
    const CliRun scan = run("scan", {});
    ASSERT_EQ(scan.exit_code, 0) << scan.err;
    const JsonValue document = JsonValue::parse(scan.out);
    for (const JsonValue& report : document.at("filesystems")) {
      for (const JsonValue& candidate : report.at("candidates")) {
        ids_[candidate.at("name").get<std::string>()] = candidate.at("id").get<std::string>();
        candidates_.push_back(candidate);
      }
    }
    ASSERT_TRUE(ids_.contains("todo list.txt"));
  }

  CliOptions options() const {
    CliOptions options;
    options.working_directory = dir_.path();
    return options;
  }

  CliRun run(const std::string& command, std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {command, "--image", "card.img"});
    return run_cli(arguments, options());
  }

  std::string id(const std::string& name) const { return ids_.at(name); }

  void expect_failure(const CliRun& run_result, const std::string& message) const {
    EXPECT_EQ(run_result.exit_code, 2);
    EXPECT_EQ(run_result.out, "");
    EXPECT_EQ(run_result.err, "KESTREL_ERROR=" + message + "\n");
  }

  TempDir dir_;
  std::string image_bytes_;
  std::map<std::string, std::string> ids_;  // name -> id
  std::vector<JsonValue> candidates_;
};

TEST_F(SampleCard, RecoverWritesTheFileAndFourResultLines) {
  const CliRun recovered = run("recover", {"--id", id("todo list.txt"), "--output", "todo.txt"});
  ASSERT_EQ(recovered.exit_code, 0) << recovered.err;
  EXPECT_EQ(recovered.err, "");
  EXPECT_EQ(recovered.out, "RESULT=KESTREL_RECOVERY_OK\nCANDIDATE_ID=" + id("todo list.txt") +
                               "\nOUTPUT=todo.txt\nBYTES_WRITTEN=62\n");
  EXPECT_EQ(read_file(dir_ / "todo.txt").size(), 62u);
}

TEST_F(SampleCard, RecoverFailures) {
  fs::create_directory(dir_ / "sub");
  write_file(dir_ / "exists.bin", "keep me");
  const std::string todo = id("todo list.txt");
  const std::string same = "source and output paths must be different";
  struct Case {
    const char* label;
    std::vector<std::string> arguments;
    std::string message;
  };
  std::string other_case = todo;
  other_case.replace(0, 5, "FAT32");
  std::vector<Case> cases = {
      {"unknown id", {"--id", "fat32:1:1", "--output", "x.bin"}, "candidate not found: fat32:1:1"},
      {"id in another letter case",
       {"--id", other_case, "--output", "x.bin"},
       "candidate not found: " + other_case},
      {"the image itself", {"--id", todo, "--output", "card.img"}, same},
      {"the image through another relative path",
       {"--id", todo, "--output", "sub/../card.img"},
       same},
      {"no file name", {"--id", todo, "--output", "sub/.."}, "output must include a file name"},
      {"parent directory missing",
       {"--id", todo, "--output", "missing/x.bin"},
       os_error_text(kNoSuchFileCode)},
      {"destination exists",
       {"--id", todo, "--output", "exists.bin"},
       "destination already exists"},
      {"sector size",
       {"--id", todo, "--output", "x.bin", "--sector-size", "1000"},
       "--sector-size must be a power of two and at least 512"},
  };
#if !defined(_WIN32)
  // Links are made where tests may make them (Windows asks for a privilege).
  fs::create_directory_symlink(dir_.path(), dir_ / "alias");
  fs::create_symlink("card.img", dir_ / "link.img");
  cases.push_back(
      {"the image through a linked parent", {"--id", todo, "--output", "alias/card.img"}, same});
  // The final component is compared as typed; the link itself is never opened for writing.
  cases.push_back({"a link to the image",
                   {"--id", todo, "--output", "link.img"},
                   "destination already exists"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    expect_failure(run("recover", c.arguments), c.message);
  }
  EXPECT_EQ(read_file(dir_ / "card.img"), image_bytes_);
  EXPECT_EQ(read_file(dir_ / "exists.bin"), "keep me");
  EXPECT_FALSE(fs::exists(dir_ / "x.bin"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "sub"), fs::directory_iterator{}), 0);
}

TEST_F(SampleCard, RecoverTwiceLeavesTheFirstFile) {
  const std::vector<std::string> arguments = {"--id", id("Quarterly report.pdf"), "--output",
                                              "report.pdf"};
  ASSERT_EQ(run("recover", arguments).exit_code, 0);
  const std::string first = read_file(dir_ / "report.pdf");
  expect_failure(run("recover", arguments), "destination already exists");
  EXPECT_EQ(read_file(dir_ / "report.pdf"), first);
}

TEST_F(SampleCard, RecoverAllDocument) {
  const CliRun batch =
      run("recover-all", {"--output-directory", "out/nested", "--name-prefix", "trip"});
  ASSERT_EQ(batch.exit_code, 0) << batch.err;
  // The directory as the system resolves it (on Windows its extended-length
  // final path name), and the file in it joined by the platform's separator.
  const fs::path resolved_path = canonical_path(dir_ / "out" / "nested").value();
  const std::string resolved = json_text(path_display(resolved_path));
  const std::string jeju = json_text(path_display(resolved_path / "Trip to Jeju.jpg"));
  EXPECT_EQ(batch.out,
            "{\n"
            "  \"image\": \"card.img\",\n"
            "  \"output_directory\": \"" +
                resolved +
                "\",\n"
                "  \"name_prefix\": \"trip\",\n"
                "  \"selected_count\": 1,\n"
                "  \"recovered_count\": 1,\n"
                "  \"failed_count\": 0,\n"
                "  \"items\": [\n"
                "    {\n"
                "      \"candidate_id\": \"" +
                id("Trip to Jeju.jpg") +
                "\",\n"
                "      \"candidate_name\": \"Trip to Jeju.jpg\",\n"
                "      \"output\": \"" +
                jeju +
                "\",\n"
                "      \"bytes_written\": 19760,\n"
                "      \"error\": null\n"
                "    }\n"
                "  ]\n"
                "}\n");

  const CliRun all = run("recover-all", {"--output-directory", "every"});
  ASSERT_EQ(all.exit_code, 0) << all.err;
  const JsonValue document = JsonValue::parse(all.out);
  EXPECT_TRUE(document.at("name_prefix").is_null());
  EXPECT_EQ(document.at("selected_count"), candidates_.size());
  EXPECT_EQ(document.at("recovered_count"), candidates_.size());
  std::size_t index = 0;
  for (const JsonValue& item : document.at("items")) {
    EXPECT_EQ(item.at("candidate_id"), candidates_.at(index).at("id"));  // selection order
    EXPECT_EQ(item.at("bytes_written"), candidates_.at(index).at("size"));
    ++index;
  }
}

TEST_F(SampleCard, RecoverAllProgressCountsUpToThePlannedBytes) {
  const CliRun plain = run("recover-all", {"--output-directory", "out"});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  fs::remove_all(dir_ / "out");
  const CliRun watched = run("recover-all", {"--output-directory", "out", "--progress"});
  ASSERT_EQ(watched.exit_code, 0) << watched.err;
  EXPECT_EQ(watched.out, plain.out);
  EXPECT_EQ(plain.err, "");

  std::uint64_t planned = 0;
  const JsonValue document = JsonValue::parse(watched.out);
  for (const JsonValue& item : document.at("items"))
    planned += item.at("bytes_written").get<std::uint64_t>();
  ASSERT_GT(planned, 0u);
  // Only progress lines, counting up to the total, which the last one shows.
  const std::regex line("PROGRESS=([0-9]+)/([0-9]+)");
  std::istringstream lines(watched.err);
  std::uint64_t previous = 0;
  std::size_t count = 0;
  for (std::string text; std::getline(lines, text); ++count) {
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, line)) << text;
    const std::uint64_t done = std::stoull(parts[1]);
    EXPECT_EQ(std::stoull(parts[2]), planned);
    EXPECT_GE(done, previous);
    previous = done;
  }
  EXPECT_GE(count, 2u);
  EXPECT_EQ(previous, planned);
  EXPECT_TRUE(watched.err.ends_with("PROGRESS=" + std::to_string(planned) + "/" +
                                    std::to_string(planned) + "\n"));
}

TEST_F(SampleCard, RecoverAllNeverOverwrites) {
  fs::create_directory(dir_ / "out");
  std::map<std::string, std::string> existing;
  for (const JsonValue& candidate : candidates_) {
    const std::string name = candidate.at("name");
    existing[name] = "already here: " + name;
    write_file(dir_ / "out" / path_from_text(name), existing[name]);
  }
  for (int round = 1; round <= 2; ++round) {
    const CliRun batch = run("recover-all", {"--output-directory", "out"});
    ASSERT_EQ(batch.exit_code, 0) << batch.err;
    const JsonValue document = JsonValue::parse(batch.out);
    for (const JsonValue& item : document.at("items")) {
      const fs::path written = path_from_text(item.at("output").get<std::string>());
      const fs::path name = path_from_text(item.at("candidate_name").get<std::string>());
      EXPECT_EQ(path_display(written.filename()), path_display(name.stem()) + "-recovered-" +
                                                      std::to_string(round) +
                                                      path_display(name.extension()));
    }
  }
  for (const auto& [name, content] : existing) {
    EXPECT_EQ(read_file(dir_ / "out" / path_from_text(name)), content) << name;
  }
}

TEST_F(SampleCard, RecoverAllFailures) {
  write_file(dir_ / "plain.txt", "a file, not a directory");
  fs::create_directory(dir_ / "full");
  write_file(dir_ / "full" / "todo list.txt", "");
  for (int i = 1; i <= 9999; ++i) {
    write_file(dir_ / "full" / ("todo list-recovered-" + std::to_string(i) + ".txt"), "");
  }
  struct Case {
    const char* label;
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"output directory cannot be created",
       {"--output-directory", "plain.txt/sub"},
       "cannot create output directory plain.txt/sub: " + os_error_text(kFileInTheWayCode)},
      {"no candidate matched",
       {"--output-directory", "none", "--name-prefix", "zzz"},
       "no recovery candidates matched the requested filter"},
      {"every numbered name taken",
       {"--output-directory", "full", "--name-prefix", "todo"},
       "cannot create a non-overwriting output file name"},
      {"sector size",
       {"--output-directory", "x", "--sector-size", "256"},
       "--sector-size must be a power of two and at least 512"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    expect_failure(run("recover-all", c.arguments), c.message);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "full"), fs::directory_iterator{}), 10000);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "none"), fs::directory_iterator{}), 0);
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

// One candidate is made to run past the end of the image: the batch goes on,
// prints its document, then fails.
TEST_F(SampleCard, OneFailedExtractionFailsTheBatchAfterTheDocument) {
  const JsonValue& todo =
      *std::find_if(candidates_.begin(), candidates_.end(),
                    [](const JsonValue& c) { return c.at("name") == "todo list.txt"; });
  ASSERT_EQ(todo.at("cluster_size"), 512);
  // The volume's last cluster, from its boot sector.
  const std::string id_text = todo.at("id");
  const std::uint64_t entry = std::stoull(id_text.substr(id_text.rfind(':') + 1));
  const std::uint64_t cluster_two = todo.at("data_offset").get<std::uint64_t>() -
                                    (todo.at("first_cluster").get<std::uint64_t>() - 2) * 512;
  const std::uint64_t volume = le32(image_bytes_, 0x1BE + 8) * 512ull;
  const std::uint32_t total = le32(image_bytes_, volume + 32);
  const std::uint64_t data_start = (cluster_two - volume) / 512;
  const std::uint32_t last_cluster = static_cast<std::uint32_t>(total - data_start) + 1;
  const std::uint64_t last_offset = cluster_two + (last_cluster - 2) * 512ull;
  const std::uint64_t size = image_bytes_.size() - last_offset + 512;  // one cluster past the end

  std::string patched = image_bytes_;
  patched[entry + 20] = static_cast<char>((last_cluster >> 16) & 0xFF);
  patched[entry + 21] = static_cast<char>(last_cluster >> 24);
  patched[entry + 26] = static_cast<char>(last_cluster & 0xFF);
  patched[entry + 27] = static_cast<char>((last_cluster >> 8) & 0xFF);
  for (int i = 0; i < 4; ++i) patched[entry + 28 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  write_file(dir_ / "card.img", patched);

  const CliRun batch = run("recover-all", {"--output-directory", "out"});
  EXPECT_EQ(batch.exit_code, 2);
  EXPECT_EQ(batch.err, "KESTREL_ERROR=batch recovery completed with 1 failures\n");
  const JsonValue document = JsonValue::parse(batch.out);
  EXPECT_EQ(document.at("selected_count"), candidates_.size());
  EXPECT_EQ(document.at("recovered_count"), candidates_.size() - 1);
  EXPECT_EQ(document.at("failed_count"), 1);
  int failures = 0;
  for (const JsonValue& item : document.at("items")) {
    if (item.at("candidate_id") != id_text) {
      EXPECT_TRUE(item.at("error").is_null());
      continue;
    }
    ++failures;
    EXPECT_TRUE(item.at("output").is_null());
    EXPECT_EQ(item.at("bytes_written"), 0);
    EXPECT_EQ(item.at("error"), "short read: expected=512 actual=0");
  }
  EXPECT_EQ(failures, 1);
  // What was read before the end stays in the file.
  EXPECT_EQ(read_file(dir_ / "out" / "todo list.txt").size(), image_bytes_.size() - last_offset);
}

// A batch document that cannot reach standard output fails the run; the
// files were recovered all the same.
TEST_F(SampleCard, UndeliveredBatchDocumentFailsTheRun) {
  CliOptions closed_pipe = options();
  closed_pipe.close_stdout = true;
  const CliRun batch =
      run_cli({"recover-all", "--image", "card.img", "--output-directory", "out"}, closed_pipe);
  EXPECT_EQ(batch.exit_code, 2);
  EXPECT_EQ(batch.err, "KESTREL_ERROR=cannot write the result to standard output: " +
                           os_error_text(kBrokenPipeCode) + "\n");
  EXPECT_TRUE(fs::exists(dir_ / "out" / "todo list.txt"));
}

}  // namespace
}  // namespace kestrel::testing

// How recover and recover-all treat Windows paths, run through the shipped
// executable on the sample card: the extended-length form of the resolved
// directory, letter case that the file system ignores but the comparison of
// the final component does not, and destinations typed in extended-length
// form.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "os/file_system.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

namespace fs = std::filesystem;

class WindowsPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    unpack_fixture("../../samples/sample-card.img", dir_ / "card.img");
    image_bytes_ = read_file(dir_ / "card.img");
    const CliRun scan = run({"scan", "--image", "card.img"});
    ASSERT_EQ(scan.exit_code, 0) << scan.err;
    const JsonValue document = JsonValue::parse(scan.out);
    for (const JsonValue& report : document.at("filesystems")) {
      for (const JsonValue& candidate : report.at("candidates")) {
        if (candidate.at("name") == "todo list.txt")
          todo_id_ = candidate.at("id").get<std::string>();
      }
    }
    ASSERT_FALSE(todo_id_.empty());
  }

  CliRun run(const std::vector<std::string>& arguments) const {
    CliOptions options;
    options.working_directory = dir_.path();
    return run_cli(arguments, options);
  }

  TempDir dir_;
  std::string image_bytes_;
  std::string todo_id_;
};

TEST_F(WindowsPaths, RecoverAllReportsAndWritesIntoTheExtendedLengthDirectory) {
  const CliRun batch = run({"recover-all", "--image", "card.img", "--output-directory",
                            "Out/Nested", "--name-prefix", "todo"});
  ASSERT_EQ(batch.exit_code, 0) << batch.err;
  const JsonValue document = JsonValue::parse(batch.out);
  const std::string directory = document.at("output_directory").get<std::string>();
  EXPECT_TRUE(directory.starts_with("\\\\?\\")) << directory;
  EXPECT_TRUE(directory.ends_with("\\Out\\Nested")) << directory;

  // The same directory, however it is spelt, resolves to that text.
  CliRun again = run({"recover-all", "--image", "card.img", "--output-directory",
                      path_display(dir_.path()) + "/OUT/./nested/", "--name-prefix", "todo"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  const JsonValue again_document = JsonValue::parse(again.out);
  EXPECT_EQ(again_document.at("output_directory"), directory);

  const std::string output = document.at("items").at(0).at("output").get<std::string>();
  EXPECT_EQ(output, directory + "\\todo list.txt");
  EXPECT_EQ(read_file(path_from_text(output)).size(), 62u);
  const std::string second = again_document.at("items").at(0).at("output").get<std::string>();
  EXPECT_EQ(second, directory + "\\todo list-recovered-1.txt");
  EXPECT_TRUE(fs::exists(dir_ / "Out" / "Nested" / "todo list-recovered-1.txt"));
}

TEST_F(WindowsPaths, ImageNamedInAnotherLetterCaseIsNeverOverwritten) {
  // The final component is compared as typed, so CARD.IMG passes the check;
  // the file system then finds card.img there and creation refuses it.
  for (const char* output : {"CARD.IMG", "Card.Img", ".\\card.IMG"}) {
    SCOPED_TRACE(output);
    const CliRun run_result =
        run({"recover", "--image", "card.img", "--id", todo_id_, "--output", output});
    EXPECT_EQ(run_result.exit_code, 2);
    EXPECT_EQ(run_result.out, "");
    EXPECT_EQ(run_result.err, "KESTREL_ERROR=destination already exists\n");
  }
  // Spelt exactly, or through another path to the same directory, it is the image.
  for (const std::string& output : {std::string("card.img"), std::string("sub\\..\\card.img"),
                                    "\\\\?\\" + path_display(dir_.path()) + "\\card.img"}) {
    SCOPED_TRACE(output);
    fs::create_directories(dir_ / "sub");
    const CliRun run_result =
        run({"recover", "--image", "card.img", "--id", todo_id_, "--output", output});
    EXPECT_EQ(run_result.err, "KESTREL_ERROR=source and output paths must be different\n");
  }
  EXPECT_EQ(read_file(dir_ / "card.img"), image_bytes_);
}

TEST_F(WindowsPaths, DestinationsInExtendedLengthForm) {
  const std::string extended = "\\\\?\\" + path_display(dir_.path()) + "\\todo.txt";
  const CliRun recovered =
      run({"recover", "--image", "card.img", "--id", todo_id_, "--output", extended});
  ASSERT_EQ(recovered.exit_code, 0) << recovered.err;
  EXPECT_EQ(recovered.out, "RESULT=KESTREL_RECOVERY_OK\nCANDIDATE_ID=" + todo_id_ +
                               "\nOUTPUT=" + extended + "\nBYTES_WRITTEN=62\n");
  EXPECT_EQ(read_file(dir_ / "todo.txt").size(), 62u);

  const CliRun batch =
      run({"recover-all", "--image", "card.img", "--output-directory",
           "\\\\?\\" + path_display(dir_.path()) + "\\extended", "--name-prefix", "todo"});
  ASSERT_EQ(batch.exit_code, 0) << batch.err;
  EXPECT_TRUE(fs::exists(dir_ / "extended" / "todo list.txt"));
}

}  // namespace
}  // namespace kestrel::testing

// The tool's main job on images written and deleted by real tools (mkfs.fat,
// mtools, mkfs.exfat and the FUSE exFAT driver; see scripts/fixtures/): every
// deleted file is found under its name or not as each truth file says, and
// recover and recover-all, run through the shipped binary, give back its bytes.
// Where the truth says the tool cannot give the bytes back (clusters reused,
// a fragmented file whose chain was cleared and is read contiguously), the
// test checks that the recovered bytes indeed differ. The same images are
// scanned again with --all-directories against the truth's second judgement:
// every file in the folder the truth names, recover-all writing it into that
// folder recreated below its output directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "os/file_system.hpp"
#include "os/sha256.hpp"
#include "recovery-core/candidates/candidate_messages.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/fixtures.hpp"
#include "tests/support/run_cli.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

// The digest of recovered bytes, by the platform's SHA-256 (OpenSSL on Linux,
// BCrypt on Windows), which its own tests hold to the FIPS 180-4 vectors.
std::string sha256_hex(const std::string& bytes) {
  auto digest = kestrel::sha256_hex(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  if (!digest) throw std::runtime_error("SHA-256 failed: " + digest.error().message());
  return *digest;
}

TEST(FixtureSha256, KnownDigest) {
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

struct FixtureCase {
  std::string relative;      // the image, as fixtures name it ("filesystems/fat32-mixed.img")
  std::string truth;         // the truth file, relative to the fixture directory
  bool recover_each = true;  // also run `recover` once per file given back exactly
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.relative; }

JsonValue read_json(const std::filesystem::path& path) {
  std::ifstream in(path);
  return JsonValue::parse(in);
}

// What a scan with --all-directories must report for a file.
struct EverywhereTruth {
  std::string expect;
  std::optional<std::string> directory;
  bool inside_deleted_folder;
  std::string why;
};

struct Truth {
  std::string path;
  std::string name;
  std::uint32_t partition_index;
  std::uint64_t size;
  std::string sha256;
  bool deleted;
  std::uint32_t first_cluster;
  std::string expect;
  std::string why;
  EverywhereTruth everywhere;
};

EverywhereTruth read_everywhere(const JsonValue& judged) {
  const JsonValue& directory = judged.at("directory");
  return EverywhereTruth{judged.at("expect"),
                         directory.is_null() ? std::nullopt : std::optional<std::string>(directory),
                         judged.at("inside_deleted_folder"), judged.at("why")};
}

std::vector<Truth> read_truth(const JsonValue& document) {
  std::vector<Truth> files;
  for (const JsonValue& file : document.at("files")) {
    const JsonValue& clusters = file.at("clusters");
    files.push_back(Truth{file.at("path"), file.at("name"), file.at("partition_index"),
                          file.at("size"), file.at("sha256"), file.at("deleted"),
                          clusters.empty() ? 0u : clusters.at(0).get<std::uint32_t>(),
                          file.at("expect"), file.at("why"),
                          read_everywhere(file.at("all_directories"))});
  }
  return files;
}

std::vector<JsonValue> all_candidates(const JsonValue& scan_document) {
  std::vector<JsonValue> candidates;
  for (const JsonValue& report : scan_document.at("filesystems")) {
    for (const JsonValue& candidate : report.at("candidates")) candidates.push_back(candidate);
  }
  return candidates;
}

// Candidate id -> the file recover-all wrote for it; every item must have succeeded.
std::map<std::string, std::string> written_files(const CliRun& batch_run, std::size_t candidates) {
  if (candidates == 0) {
    EXPECT_EQ(batch_run.err, "KESTREL_ERROR=no recovery candidates matched the requested filter\n");
    return {};
  }
  EXPECT_EQ(batch_run.exit_code, 0) << batch_run.err;
  const JsonValue batch = JsonValue::parse(batch_run.out);
  EXPECT_EQ(batch.at("selected_count"), candidates);
  EXPECT_EQ(batch.at("failed_count"), 0);
  std::map<std::string, std::string> written;
  for (const JsonValue& item : batch.at("items")) {
    EXPECT_TRUE(item.at("output").is_string()) << item.dump();
    if (item.at("output").is_string()) written[item.at("candidate_id")] = item.at("output");
  }
  return written;
}

class FixtureRecovery : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureRecovery, DeletedFilesAreFoundAndGivenBack) {
  const FixtureCase& fixture = GetParam();
  const JsonValue truth_document =
      read_json(std::filesystem::path(KESTREL_FIXTURE_DIR) / fixture.truth);
  const std::vector<Truth> truth = read_truth(truth_document);
  const std::string sector_size =
      std::to_string(truth_document.at("sector_size").get<std::uint32_t>());

  TempDir dir;
  const std::filesystem::path image = unpack_fixture(fixture.relative, dir / "card.img");
  CliOptions in_dir;
  in_dir.working_directory = dir.path();

  const CliRun scan =
      run_cli({"scan", "--image", "card.img", "--sector-size", sector_size}, in_dir);
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  const std::vector<JsonValue> candidates = all_candidates(JsonValue::parse(scan.out));
  for (const JsonValue& c : candidates) EXPECT_FALSE(c.contains("directory"));

  const CliRun batch_run = run_cli({"recover-all", "--image", "card.img", "--output-directory",
                                    "out", "--sector-size", sector_size},
                                   in_dir);
  const std::map<std::string, std::string> written = written_files(batch_run, candidates.size());

  auto matching = [&](const Truth& file) {
    std::vector<const JsonValue*> found;
    for (const JsonValue& c : candidates) {
      if (c.at("partition_index") == file.partition_index && c.at("name") == file.name)
        found.push_back(&c);
    }
    return found;
  };

  std::size_t expected_candidates = 0;
  std::set<std::string> recovered_ids;
  for (const Truth& file : truth) {
    SCOPED_TRACE(file.path + " (" + file.expect + "): " + file.why);
    const std::vector<const JsonValue*> found = matching(file);
    if (!file.deleted) {
      // Live files are never candidates.
      for (const JsonValue* c : found) EXPECT_NE(c->at("first_cluster"), file.first_cluster);
      continue;
    }
    if (file.expect == "not-found") {
      EXPECT_TRUE(found.empty());
      continue;
    }
    ++expected_candidates;
    ASSERT_EQ(found.size(), 1u);
    const JsonValue& candidate = *found[0];
    const std::string id = candidate.at("id");
    EXPECT_EQ(candidate.at("size"), file.size);
    EXPECT_EQ(candidate.at("deleted"), true);
    const std::string batch_bytes = read_file(path_from_text(written.at(id)));
    EXPECT_EQ(batch_bytes.size(), file.size);
    if (file.expect == "exact") {
      // A file given back exactly starts where it was written; the others may
      // start elsewhere (a cleared high word rebuilt from its neighbours).
      EXPECT_EQ(candidate.at("first_cluster"), file.first_cluster);
      EXPECT_EQ(sha256_hex(batch_bytes), file.sha256);
      if (fixture.recover_each) {
        const std::string output = "single-" + std::to_string(recovered_ids.size()) + ".bin";
        const CliRun one = run_cli({"recover", "--image", "card.img", "--id", id, "--output",
                                    output, "--sector-size", sector_size},
                                   in_dir);
        ASSERT_EQ(one.exit_code, 0) << one.err;
        EXPECT_EQ(one.out, "RESULT=KESTREL_RECOVERY_OK\nCANDIDATE_ID=" + id + "\nOUTPUT=" + output +
                               "\nBYTES_WRITTEN=" + std::to_string(file.size) + "\n");
        EXPECT_EQ(sha256_hex(read_file(dir / output)), file.sha256);
      }
    } else {
      ASSERT_EQ(file.expect, "found-content-differs");
      EXPECT_NE(sha256_hex(batch_bytes), file.sha256);
    }
    recovered_ids.insert(id);
  }
  // Every candidate is one of the deleted files the truth lists.
  EXPECT_EQ(candidates.size(), expected_candidates);
  EXPECT_EQ(recovered_ids.size(), expected_candidates);
}

// The folder recover-all recreates for a candidate's "directory", below `root`.
std::filesystem::path recreated_folder(const std::filesystem::path& root,
                                       const std::string& directory) {
  std::filesystem::path folder = root;
  for (const auto& name : std::filesystem::path(path_from_text(directory)).relative_path())
    folder /= name;
  return folder;
}

TEST_P(FixtureRecovery, AllDirectoriesFindsFilesInEveryFolder) {
  const FixtureCase& fixture = GetParam();
  const JsonValue truth_document =
      read_json(std::filesystem::path(KESTREL_FIXTURE_DIR) / fixture.truth);
  const std::vector<Truth> truth = read_truth(truth_document);
  const std::string sector_size =
      std::to_string(truth_document.at("sector_size").get<std::uint32_t>());

  TempDir dir;
  unpack_fixture(fixture.relative, dir / "card.img");
  CliOptions in_dir;
  in_dir.working_directory = dir.path();
  const std::vector<std::string> image = {"--image", "card.img", "--sector-size", sector_size,
                                          "--all-directories"};
  auto command = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.end(), image.begin(), image.end());
    return run_cli(arguments, in_dir);
  };

  const CliRun scan = command({"scan"});
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  const std::vector<JsonValue> candidates = all_candidates(JsonValue::parse(scan.out));
  for (const JsonValue& c : candidates) {
    std::string last_member;
    for (const auto& member : c.items()) last_member = member.key();
    EXPECT_EQ(last_member, "directory");
  }
  const std::map<std::string, std::string> written =
      written_files(command({"recover-all", "--output-directory", "out"}), candidates.size());
  auto canonical_out = canonical_path(dir / "out");
  ASSERT_TRUE(canonical_out);

  std::size_t expected_candidates = 0;
  for (const Truth& file : truth) {
    SCOPED_TRACE(file.path + " (" + file.everywhere.expect + "): " + file.everywhere.why);
    std::vector<const JsonValue*> found;
    for (const JsonValue& c : candidates) {
      if (c.at("partition_index") == file.partition_index && c.at("name") == file.name &&
          file.everywhere.directory && c.at("directory") == *file.everywhere.directory) {
        found.push_back(&c);
      }
    }
    if (file.everywhere.expect == "not-found") {
      if (file.deleted) {
        EXPECT_TRUE(found.empty());
      }
      continue;
    }
    ++expected_candidates;
    ASSERT_EQ(found.size(), 1u);
    const JsonValue& candidate = *found[0];
    const std::string id = candidate.at("id");
    const std::vector<std::string> notes = candidate.at("validation_notes");
    EXPECT_EQ(std::ranges::count(notes, std::string(kInsideDeletedFolderNote)),
              file.everywhere.inside_deleted_folder ? 1 : 0);
    const std::filesystem::path output = path_from_text(written.at(id));
    EXPECT_EQ(output.parent_path(), recreated_folder(*canonical_out, *file.everywhere.directory));
    const std::string batch_bytes = read_file(output);
    if (file.everywhere.expect == "exact") {
      EXPECT_EQ(sha256_hex(batch_bytes), file.sha256);
      if (fixture.recover_each) {
        const std::string single = "single-" + std::to_string(expected_candidates) + ".bin";
        const CliRun one = command({"recover", "--id", id, "--output", single});
        ASSERT_EQ(one.exit_code, 0) << one.err;
        EXPECT_EQ(sha256_hex(read_file(dir / single)), file.sha256);
      }
    } else {
      ASSERT_EQ(file.everywhere.expect, "found-content-differs");
      EXPECT_NE(sha256_hex(batch_bytes), file.sha256);
    }
  }
  // Every candidate is one of the deleted files the truth lists.
  EXPECT_EQ(candidates.size(), expected_candidates);
}

std::vector<FixtureCase> fixture_cases() {
  std::vector<FixtureCase> cases;
  for (const char* name :
       {"fat32-mixed", "fat32-chain-kept", "fat32-high-word", "fat32-4k-sector", "exfat-root",
        "exfat-chain-kept", "exfat-many-root-files", "disk-mbr-fat32-exfat",
        "disk-gpt-ext4-fat32-exfat", "disk-gpt-4kn-fat32", "exfat-camera-card",
        "fat32-deleted-folders", "fat32-deleted-folders-high-word", "fat12-floppy", "fat16-stick",
        "fat16-sd-32k", "fat16-4k-sector", "disk-mbr-fat16-fat12"}) {
    cases.push_back(FixtureCase{std::string("filesystems/") + name + ".img",
                                std::string("filesystems/") + name + ".truth.json"});
  }
  // Hundreds of deleted photos: recover-all gives each back; `recover` is run
  // for the other fixtures' files.
  cases.push_back(FixtureCase{"filesystems/fat32-many-files.img",
                              "filesystems/fat32-many-files.truth.json", false});
  cases.push_back(FixtureCase{"filesystems/exfat-shrunk-directories.img",
                              "filesystems/exfat-shrunk-directories.truth.json", false});
  // Volumes without a partition table whose boot code Windows filled: read as the volume.
  for (const char* name : {"windows-exfat-superfloppy", "windows-fat32-superfloppy"}) {
    cases.push_back(FixtureCase{std::string("filesystems/") + name + ".img",
                                std::string("filesystems/") + name + ".truth.json", false});
  }
  cases.push_back(
      FixtureCase{"../../samples/sample-card.img", "../../samples/sample-card.truth.json"});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(RealToolImages, FixtureRecovery, ::testing::ValuesIn(fixture_cases()),
                         [](const ::testing::TestParamInfo<FixtureCase>& param_info) {
                           std::string name =
                               std::filesystem::path(param_info.param.relative).stem().string();
                           for (char& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

// Carving (--carve) on cards whose files no directory entry describes any
// more (scripts/fixtures/carving_cards.py): every file still in one run of
// clusters is found at its first byte and given back byte-exact by
// recover-all and recover, either carved and graded high or, on a quick-
// formatted volume, listed under its own name by the folder clusters the
// format left behind; a file in two pieces around whole files or a text file,
// or in more around any gap, is given back byte-exact from exactly those
// pieces (a JPEG in more than two only with restart markers; a movie in more,
// or with its moov first, graded high where the card's joins are pinned);
// overwritten ones are
// graded low where they are carved and never joined; nothing is reported
// twice.
struct CarvedTruth {
  std::string path;
  std::uint64_t offset;
  std::uint64_t size;
  std::string sha256;
  std::string expect;
};

// A card, and how many of its first bytes are zeroed before the scan (its
// boot sector and FATs: no volume is found and the area is searched by sector).
// With `joins_high`, every file carved (not listed) from its pieces is graded
// high: the card's joins are all pinned by what checks them.
struct CarvingCard {
  std::string fixture;
  std::size_t zeroed = 0;
  bool joins_high = false;
};

void PrintTo(const CarvingCard& card, std::ostream* out) {
  *out << card.fixture << "/" << card.zeroed;
}

class FixtureCarving : public ::testing::TestWithParam<CarvingCard> {};

TEST_P(FixtureCarving, FilesWithoutEntriesAreCarvedByteExact) {
  const JsonValue truth = read_json(std::filesystem::path(KESTREL_FIXTURE_DIR) /
                                    ("filesystems/" + GetParam().fixture + ".truth.json"));
  TempDir dir;
  unpack_fixture("filesystems/" + GetParam().fixture + ".img", dir / "card.img");
  if (GetParam().zeroed > 0) {
    std::fstream card(dir / "card.img", std::ios::in | std::ios::out | std::ios::binary);
    const std::string zeros(GetParam().zeroed, '\0');
    card.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    ASSERT_TRUE(card.good());
  }
  CliOptions in_dir;
  in_dir.working_directory = dir.path();

  const CliRun plain = run_cli({"scan", "--image", "card.img"}, in_dir);
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  EXPECT_TRUE(all_candidates(JsonValue::parse(plain.out)).empty());
  EXPECT_EQ(plain.err, "");

  const CliRun scan = run_cli({"scan", "--image", "card.img", "--carve"}, in_dir);
  ASSERT_EQ(scan.exit_code, 0) << scan.err;
  const std::string area_kind =
      GetParam().zeroed > 0 ? "unknown" : truth.at("partitions").at(0).at("filesystem");
  std::map<std::uint64_t, JsonValue> by_offset;
  const std::vector<JsonValue> candidates = all_candidates(JsonValue::parse(scan.out));
  std::size_t listed = 0;
  for (const JsonValue& c : candidates) {
    const std::uint64_t offset = c.at("data_offset");
    if (c.at("recoverability") == "carved") {
      EXPECT_EQ(c.at("id"), "carved:1:" + std::to_string(offset));
    } else {
      ++listed;
      EXPECT_EQ(c.at("validation_notes").back(), std::string(kLostDirectoryNote)) << c.dump();
      EXPECT_FALSE(c.at("id").get<std::string>().starts_with("carved:")) << c.dump();
    }
    EXPECT_EQ(c.at("file_system"), area_kind);
    EXPECT_TRUE(by_offset.emplace(offset, c).second) << "reported twice at " << offset;
  }
  // A quick format leaves the folders' clusters behind; a zeroed boot sector leaves no volume to
  // find them in.
  EXPECT_EQ(listed > 0, area_kind != "unknown");
  // One progress line per area, ending with all of it searched.
  const std::size_t last = scan.err.rfind("PROGRESS=");
  ASSERT_NE(last, std::string::npos) << scan.err;
  const std::string line = scan.err.substr(last + 9, scan.err.find('\n', last) - last - 9);
  EXPECT_EQ(line.substr(0, line.find('/')), line.substr(line.find('/') + 1));

  const CliRun batch_run = run_cli(
      {"recover-all", "--image", "card.img", "--carve", "--output-directory", "out"}, in_dir);
  ASSERT_EQ(batch_run.exit_code, 0) << batch_run.err;
  const JsonValue batch = JsonValue::parse(batch_run.out);
  std::map<std::string, std::string> written;
  for (const JsonValue& item : batch.at("items"))
    written[item.at("candidate_id")] = item.at("output");

  // A file later written over the start of an overwritten one is judged by its own truth.
  std::set<std::uint64_t> taken_over;
  for (const JsonValue& file : truth.at("files")) {
    if (file.at("expect") != "not-exact") taken_over.insert(file.at("offset").get<std::uint64_t>());
  }
  bool recovered_one = false;
  for (const JsonValue& file : truth.at("files")) {
    const CarvedTruth t{file.at("path"), file.at("offset"), file.at("size"), file.at("sha256"),
                        file.at("expect")};
    SCOPED_TRACE(t.path + " (" + t.expect + ")");
    const auto found = by_offset.find(t.offset);
    const bool carved = found != by_offset.end() && found->second.at("recoverability") == "carved";
    if (t.expect == "not-exact") {
      if (carved && !taken_over.contains(t.offset)) {
        // Put back together from pieces the truth does not judge: only ever rightly.
        if (!found->second.at("pieces").is_null()) {
          EXPECT_EQ(sha256_hex(read_file(path_from_text(written.at(found->second.at("id"))))),
                    t.sha256);
        } else {
          EXPECT_EQ(found->second.at("confidence"), "low");
        }
      }
      continue;
    }
    const bool joined = found != by_offset.end() && found->second.contains("pieces") &&
                        !found->second.at("pieces").is_null();
    if (t.expect == "several-pieces" && file.contains("restart_markers") &&
        !file.at("restart_markers").get<bool>()) {
      // Without restart markers a JPEG is joined from two pieces at most: in more it is left as
      // it broke off, graded low, never joined wrongly.
      if (joined) {
        EXPECT_EQ(sha256_hex(read_file(path_from_text(written.at(found->second.at("id"))))),
                  t.sha256);
      } else if (carved) {
        EXPECT_EQ(found->second.at("confidence"), "low");
      }
      continue;
    }
    if (t.expect == "two-pieces" || t.expect == "several-pieces") {
      // Past whole files, and past a text file (a JPEG's data never reads as text).
      ASSERT_TRUE(joined) << "not completed";
      const JsonValue& pieces = found->second.at("pieces");
      ASSERT_EQ(pieces.size(), file.at("pieces").size());
      for (std::size_t p = 0; p < pieces.size(); ++p) {
        EXPECT_EQ(pieces.at(p).at("offset"), file.at("pieces").at(p).at(0));
        EXPECT_EQ(pieces.at(p).at("length"), file.at("pieces").at(p).at(1));
      }
      EXPECT_EQ(found->second.at("size"), t.size);
      EXPECT_EQ(sha256_hex(read_file(path_from_text(written.at(found->second.at("id"))))),
                t.sha256);
      if (carved && GetParam().joins_high) {
        EXPECT_EQ(found->second.at("confidence"), "high");
      }
      continue;
    }
    ASSERT_EQ(t.expect, "carved-exact");
    ASSERT_NE(found, by_offset.end());
    const std::string id = found->second.at("id");
    if (carved) {
      EXPECT_EQ(found->second.at("confidence"), "high");
    } else {
      // Short names only (mtools writes none longer): compared as FAT compares them, without case.
      const auto folded = [](std::string text) {
        for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return text;
      };
      EXPECT_EQ(folded(found->second.at("name")),
                folded(std::filesystem::path(t.path).filename().string()));
      EXPECT_EQ(found->second.at("deleted"), false);
    }
    EXPECT_EQ(found->second.at("size"), t.size);
    EXPECT_EQ(sha256_hex(read_file(path_from_text(written.at(id)))), t.sha256);
    if (!recovered_one) {
      recovered_one = true;
      const CliRun one = run_cli(
          {"recover", "--carve", "--image", "card.img", "--id", id, "--output", "one.bin"}, in_dir);
      ASSERT_EQ(one.exit_code, 0) << one.err;
      EXPECT_EQ(sha256_hex(read_file(dir / "one.bin")), t.sha256);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    RealToolImages, FixtureCarving,
    ::testing::Values(CarvingCard{"carve-fat32-formatted"}, CarvingCard{"carve-fat32-zeroed"},
                      CarvingCard{"carve-exfat-formatted"}, CarvingCard{"carve-fat32-fragmented"},
                      CarvingCard{"carve-exfat-fragmented"}, CarvingCard{"carve-fat32-any-gap"},
                      CarvingCard{"carve-fat32-video-gap"},
                      CarvingCard{"carve-fat32-fragmented", 512u << 10},
                      CarvingCard{"carve-fat32-any-gap", 512u << 10},
                      CarvingCard{"carve-fat32-several-pieces"},
                      CarvingCard{"carve-fat32-several-pieces", 512u << 10},
                      CarvingCard{"carve-fat32-document-pieces", 0, true},
                      CarvingCard{"carve-fat32-document-pieces", 512u << 10, true},
                      CarvingCard{"carve-fat32-video-pieces", 0, true},
                      CarvingCard{"carve-fat32-streamed-pieces", 0, true},
                      CarvingCard{"carve-fat32-streamed-pieces", 512u << 10, true}),
    [](const ::testing::TestParamInfo<CarvingCard>& param_info) {
      std::string name = param_info.param.fixture + (param_info.param.zeroed > 0 ? "-zeroed" : "");
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

// On cards with deleted files, carving adds to the directory scan's candidates
// and never repeats one: a carved file never starts where a listed one does.
// With --all-directories as well, the walk's candidates stay as they were and
// the carved ones carry a null "directory".
TEST(FixtureCarving, DirectoryCandidatesStayAndAreNotCarvedAgain) {
  struct Case {
    const char* relative;
    bool all_directories;
  };
  for (const Case& c :
       {Case{"../../samples/sample-card.img", false}, Case{"filesystems/fat32-mixed.img", false},
        Case{"filesystems/exfat-root.img", false}, Case{"filesystems/exfat-camera-card.img", true},
        Case{"filesystems/fat32-deleted-folders.img", true}}) {
    SCOPED_TRACE(c.relative);
    TempDir dir;
    unpack_fixture(c.relative, dir / "card.img");
    CliOptions in_dir;
    in_dir.working_directory = dir.path();
    std::vector<std::string> arguments{"scan", "--image", "card.img"};
    if (c.all_directories) arguments.emplace_back("--all-directories");
    const CliRun plain = run_cli(arguments, in_dir);
    arguments.emplace_back("--carve");
    const CliRun carved = run_cli(arguments, in_dir);
    ASSERT_EQ(carved.exit_code, 0) << carved.err;
    const JsonValue plain_document = JsonValue::parse(plain.out);
    const JsonValue carved_document = JsonValue::parse(carved.out);
    std::set<std::uint64_t> listed;
    for (std::size_t r = 0; r < plain_document.at("filesystems").size(); ++r) {
      const JsonValue& before = plain_document.at("filesystems").at(r).at("candidates");
      const JsonValue& after = carved_document.at("filesystems").at(r).at("candidates");
      ASSERT_GE(after.size(), before.size());
      for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after.at(i), before.at(i));
        listed.insert(before.at(i).at("data_offset").get<std::uint64_t>());
      }
      for (std::size_t i = before.size(); i < after.size(); ++i) {
        const JsonValue& added = after.at(i);
        if (added.at("recoverability") != "carved") {
          EXPECT_EQ(added.at("validation_notes").back(), std::string(kLostDirectoryNote))
              << added.dump();
        }
        EXPECT_FALSE(listed.contains(added.at("data_offset").get<std::uint64_t>())) << added.dump();
        EXPECT_EQ(added.contains("directory"), c.all_directories) << added.dump();
        if (c.all_directories) {
          EXPECT_TRUE(added.at("directory").is_null()) << added.dump();
        }
      }
    }
  }
}

}  // namespace
}  // namespace kestrel::testing

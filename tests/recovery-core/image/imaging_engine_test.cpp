#include "recovery-core/image/imaging_engine.hpp"

#include <gtest/gtest.h>

#include "os/os_error.hpp"
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "os/file_handle.hpp"
#include "os/sha256.hpp"
#include "recovery-core/image/checkpoint_parser.hpp"
#include "recovery-core/image/chunk_read_ahead.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "tests/support/os_error_codes.hpp"
#include "tests/support/simulated-platform/simulated_card.hpp"
#include "tests/support/temp_dir.hpp"

namespace kestrel::testing {
namespace {

constexpr std::uint64_t kMiB = 1048576;

// What a bad sector of the card reads as.
const std::string kBadSector = SimulatedPlatform::device_error(win32::kCrc).message();

std::string as_text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string sha256_of(std::string_view bytes) {
  return sha256_hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
      .value();
}

std::string progress(std::uint64_t done, std::uint64_t capacity) {
  return "PROGRESS=" + std::to_string(done) + "/" + std::to_string(capacity);
}

// The device contents with the given ranges zero-filled: what the image must hold.
std::string with_zeros(std::vector<std::uint8_t> contents,
                       const std::vector<ReadErrorRange>& ranges) {
  for (const ReadErrorRange& r : ranges) {
    std::fill_n(contents.begin() + static_cast<std::ptrdiff_t>(r.offset), r.length,
                std::uint8_t{0});
  }
  return as_text(contents);
}

// The real checkpoint file, with each text it is given read back into the
// record, and a save that fails on request.
class RecordedCheckpoint final : public CheckpointOutput {
 public:
  RecordedCheckpoint(std::unique_ptr<CheckpointOutput> real, std::vector<ImageCheckpoint>& saves,
                     const std::optional<std::size_t>& fail_save_number)
      : real_(std::move(real)), saves_(saves), fail_save_number_(fail_save_number) {}

  std::expected<void, SourceError> replace(std::span<const std::uint8_t> text) override {
    if (fail_save_number_ && saves_.size() + 1 == *fail_save_number_) {
      return std::unexpected(io_error_from_os_code(kDiskFullCode));
    }
    auto parsed =
        parse_checkpoint(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    EXPECT_TRUE(parsed);
    if (parsed) saves_.push_back(*parsed);
    return real_->replace(text);
  }
  std::expected<void, SourceError> flush() override { return real_->flush(); }
  std::expected<void, SourceError> close() override { return real_->close(); }

 private:
  std::unique_ptr<CheckpointOutput> real_;
  std::vector<ImageCheckpoint>& saves_;
  const std::optional<std::size_t>& fail_save_number_;
};

// One output directory, with what a run printed and which checkpoints it saved.
struct Bench {
  TempDir dir;
  std::filesystem::path image = dir / "card.img";
  std::filesystem::path checkpoint = dir / "card.img.partial.json";
  std::vector<std::string> lines;
  std::vector<ImageCheckpoint> saves;
  std::function<bool()> interrupted;
  ImageFileOpener open_image = open_image_file;
  std::function<void(std::string_view)> on_line;
  std::optional<std::size_t> fail_save_number;  // 1-based

  ImagingEnvironment environment() {
    ImagingEnvironment env;
    env.progress = [this](std::string_view line) {
      lines.emplace_back(line);
      if (on_line) on_line(line);
    };
    env.interrupted = [this] { return interrupted && interrupted(); };
    env.open_image = open_image;
    env.open_checkpoint = [this](const std::filesystem::path& path)
        -> std::expected<std::unique_ptr<CheckpointOutput>, RecoveryError> {
      auto real = open_checkpoint_output(path);
      if (!real) return std::unexpected(real.error());
      return std::make_unique<RecordedCheckpoint>(std::move(*real), saves, fail_save_number);
    };
    return env;
  }

  std::expected<ImagingResult, RecoveryError> run(DeviceReader& device, ImagingOptions options = {},
                                                  std::optional<ImageCheckpoint> resume_from = {}) {
    return create_image(device, image, options, resume_from, checkpoint, environment());
  }

  // What the image command does before resuming: the checkpoint on disk.
  std::optional<ImageCheckpoint> saved_checkpoint() {
    auto loaded = load_checkpoint(checkpoint, true);
    EXPECT_TRUE(loaded) << loaded.error().message();
    return loaded ? *loaded : std::nullopt;
  }

  std::uint64_t image_length() const { return std::filesystem::file_size(image); }
};

TEST(ImagingEngine, CopiesAThreeMiBDeviceWithProgressAndCheckpoints) {
  const auto contents = device_pattern(3 * kMiB);
  SimulatedCard device(contents);
  Bench bench;
  auto result = bench.run(device);
  ASSERT_TRUE(result) << result.error().message();

  const std::uint64_t c = 3 * kMiB;
  EXPECT_EQ(bench.lines, (std::vector<std::string>{
                             progress(0, c), progress(0, c), progress(kMiB, c), progress(kMiB, c),
                             progress(2 * kMiB, c), progress(2 * kMiB, c), progress(3 * kMiB, c)}));
  // The first checkpoint, then one per chunk, each with the hash of exactly
  // the prefix it describes.
  ASSERT_EQ(bench.saves.size(), 4u);
  for (std::size_t i = 0; i < bench.saves.size(); ++i) {
    EXPECT_EQ(bench.saves[i].bytes_written, i * kMiB);
    EXPECT_EQ(bench.saves[i].image_prefix_sha256, sha256_of(as_text(contents).substr(0, i * kMiB)));
  }
  EXPECT_EQ(read_file(bench.image), as_text(contents));
  EXPECT_EQ(result->sha256, sha256_of(as_text(contents)));
  EXPECT_EQ(*result, (ImagingResult{c, c, 0, sha256_of(as_text(contents)), true, {}}));
  ASSERT_EQ(device.read_count(), 3u);
  EXPECT_EQ(device.requests()[2].offset, 2 * kMiB);
  EXPECT_EQ(device.requests()[2].length, kMiB);

  // The last checkpoint stays for the caller and describes the whole image.
  auto left = bench.saved_checkpoint();
  ASSERT_TRUE(left);
  EXPECT_TRUE(validate_checkpoint(*left, device.expected_identity(), c));
  EXPECT_EQ(left->image_prefix_sha256, result->sha256);

  EXPECT_EQ(
      render_json(to_json(*result)).value(),
      "{\n  \"source_capacity\": 3145728,\n  \"bytes_written\": 3145728,\n  \"resumed_from\": 0,\n"
      "  \"sha256\": \"" +
          result->sha256 + "\",\n  \"complete\": true,\n  \"read_errors\": []\n}");
}

TEST(ImagingEngine, ShortLastChunkAndLargeSectors) {
  struct Case {
    std::uint64_t capacity;
    std::uint32_t sector;
    std::vector<std::uint64_t> lengths;
  };
  const Case cases[] = {
      {2 * kMiB + 1536, 512, {kMiB, kMiB, 1536}},
      {kMiB + 8192, 4096, {kMiB, 8192}},
      {4096, 4096, {4096}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.capacity);
    const auto contents = device_pattern(c.capacity);
    SimulatedCard device(contents, c.sector);
    Bench bench;
    auto result = bench.run(device);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(read_file(bench.image), as_text(contents));
    EXPECT_EQ(bench.lines.back(), progress(c.capacity, c.capacity));
    ASSERT_EQ(device.read_count(), c.lengths.size());
    for (std::size_t i = 0; i < c.lengths.size(); ++i)
      EXPECT_EQ(device.requests()[i].length, c.lengths[i]);
  }
}

TEST(ImagingEngine, BadSectorBecomesAZeroRangeAndTheRunCompletes) {
  struct Case {
    std::uint32_t sector;
    std::uint64_t bad;
    std::size_t reads;  // chunks + 2 chunk retries + sectors of the chunk + 2 sector retries
  };
  const Case cases[] = {{512, 5000192, 6 + 2 + 2048 + 2}, {4096, 5001216, 6 + 2 + 256 + 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sector);
    const auto contents = device_pattern(6 * kMiB);
    SimulatedCard device(contents, c.sector);
    device.fail_sector_always(c.bad);
    Bench bench;
    auto result = bench.run(device);
    ASSERT_TRUE(result) << result.error().message();

    const std::vector<ReadErrorRange> expected = {{c.bad, c.sector, kBadSector}};
    EXPECT_EQ(result->read_errors, expected);
    EXPECT_TRUE(result->complete);
    EXPECT_EQ(device.reads_covering(c.bad), 6u);  // three chunk attempts, three sector attempts
    EXPECT_EQ(device.read_count(), c.reads);
    const std::string image = read_file(bench.image);
    EXPECT_EQ(image, with_zeros(contents, expected));
    EXPECT_EQ(result->sha256, sha256_of(image));
    EXPECT_EQ(bench.saved_checkpoint()->read_errors, expected);
  }
}

TEST(ImagingEngine, RetriesFollowTheRetryCount) {
  const std::uint64_t bad = kMiB + 10 * 512;
  struct Case {
    const char* name;
    std::optional<unsigned> failures;  // absent: for good
    std::uint8_t retries;
    std::size_t reads;
    bool zero_range;
  };
  const Case cases[] = {
      {"two failures, third attempt reads", 2, 2, 2 + 2, false},
      {"three failures, the fallback reads it", 3, 2, 2 + 2 + 2048, false},
      {"one failure without retries", 1, 0, 2 + 2048, false},
      {"two failures without retries", 2, 0, 2 + 2048, true},
      {"for good without retries", std::nullopt, 0, 2 + 2048, true},
      {"for good with five retries", std::nullopt, 5, 2 + 5 + 2048 + 5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto contents = device_pattern(2 * kMiB);
    SimulatedCard device(contents);
    if (c.failures)
      device.fail_sector(bad, *c.failures);
    else
      device.fail_sector_always(bad);
    Bench bench;
    auto result = bench.run(device, ImagingOptions{.read_retries = c.retries});
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(device.read_count(), c.reads);
    std::vector<ReadErrorRange> expected;
    if (c.zero_range) expected.push_back({bad, 512, kBadSector});
    EXPECT_EQ(result->read_errors, expected);
    EXPECT_EQ(read_file(bench.image), with_zeros(contents, expected));
  }
}

TEST(ImagingEngine, MergesAdjacentBadSectorsWithTheSameError) {
  const std::uint32_t crc = win32::kCrc;
  const std::uint32_t lost = win32::kSectorNotFound;
  struct Bad {
    std::uint64_t offset;
    std::uint32_t code;
  };
  struct Case {
    const char* name;
    std::vector<Bad> bad;
    std::vector<ReadErrorRange> ranges;
  };
  const std::string e = kBadSector;
  const std::string c = SimulatedPlatform::device_error(lost).message();
  const Case cases[] = {
      {"two adjacent", {{kMiB, crc}, {kMiB + 512, crc}}, {{kMiB, 1024, e}}},
      {"a good sector between",
       {{kMiB, crc}, {kMiB + 1024, crc}},
       {{kMiB, 512, e}, {kMiB + 1024, 512, e}}},
      {"different errors",
       {{kMiB, crc}, {kMiB + 512, lost}},
       {{kMiB, 512, e}, {kMiB + 512, 512, c}}},
      {"across a chunk boundary", {{kMiB - 512, crc}, {kMiB, crc}}, {{kMiB - 512, 1024, e}}},
      {"a run of three, then a change of error",
       {{4096, crc}, {4608, crc}, {5120, crc}, {5632, lost}, {6144, crc}},
       {{4096, 1536, e}, {5632, 512, c}, {6144, 512, e}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const auto contents = device_pattern(2 * kMiB);
    SimulatedCard device(contents);
    for (const Bad& b : k.bad) device.fail_sector_always(b.offset, b.code);
    Bench bench;
    auto result = bench.run(device);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->read_errors, k.ranges);
    EXPECT_EQ(read_file(bench.image), with_zeros(contents, k.ranges));
    EXPECT_TRUE(
        validate_checkpoint(*bench.saved_checkpoint(), device.expected_identity(), 2 * kMiB));
  }
}

TEST(ImagingEngine, ErrorsThatEndTheRunLeaveAResumablePrefix) {
  struct Case {
    const char* name;
    std::function<void(SimulatedCard&)> script;
    ImagingOptions options;
    std::string error;
    std::size_t reads;
    std::uint64_t kept;  // image length and checkpoint bytes_written afterwards
  };
  const Case cases[] = {
      {"disconnected on the fourth read",
       [](SimulatedCard& d) { d.disconnect_after_reads(3); },
       {},
       "device disconnected during read",
       4,
       3 * kMiB},
      {"another card from the second read",
       [](SimulatedCard& d) { d.swap_card_after_reads(1); },
       {},
       "device identity mismatch: capacity_bytes",
       2,
       kMiB},
      {"permission lost",
       [](SimulatedCard& d) { d.fail_sector_always(2 * kMiB + 512, win32::kAccessDenied); },
       {},
       "permission denied while reading source",
       3,
       2 * kMiB},
      {"generic error with the fallback off", [](SimulatedCard& d) { d.fail_sector_always(kMiB); },
       ImagingOptions{.sector_fallback = false}, kBadSector, 1 + 3, kMiB},
      {"a specific error met in the fallback",
       [](SimulatedCard& d) {
         d.fail_sector_always(kMiB);
         d.fail_sector_always(kMiB + 4096, win32::kDeviceNotConnected);
       },
       // chunk 0; chunk 1 three times; its first sector three times; seven good
       // sectors; the disconnected one once
       {},
       "device disconnected during read",
       1 + 3 + 3 + 7 + 1,
       kMiB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto contents = device_pattern(6 * kMiB);
    SimulatedCard device(contents);
    c.script(device);
    Bench bench;
    auto result = bench.run(device, c.options);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), c.error);
    EXPECT_EQ(result.error().kind(), RecoveryError::Kind::Source);
    EXPECT_EQ(device.read_count(), c.reads);
    EXPECT_EQ(read_file(bench.image), as_text(contents).substr(0, c.kept));
    auto left = bench.saved_checkpoint();
    ASSERT_TRUE(left);
    EXPECT_EQ(left->bytes_written, c.kept);
    EXPECT_EQ(bench.lines.back(), progress(c.kept, 6 * kMiB));

    // The same command on a healthy device continues where the run stopped.
    SimulatedCard healthy(contents);
    std::vector<std::string>().swap(bench.lines);
    auto resumed = bench.run(healthy, {}, left);
    ASSERT_TRUE(resumed) << resumed.error().message();
    EXPECT_EQ(resumed->resumed_from, c.kept);
    EXPECT_EQ(resumed->sha256, sha256_of(as_text(contents)));
    EXPECT_EQ(healthy.requests().front().offset, c.kept);
  }
}

// The guarded reader describes the card before every read. A generic failure
// of that description is retried like any other, but it says nothing about the
// medium: the run ends with it and nothing is zero-filled.
TEST(ImagingEngine, FailedDescriptionsEndTheRunWithoutZeroFilling) {
  struct Case {
    const char* name;
    RecordedControl control;
    RecordedAnswer answer;
    std::string error;
  };
  const auto fails_with = [](std::uint32_t code) { return RecordedAnswer{code, {}, {}}; };
  const auto answers = [](std::vector<std::uint8_t> bytes) {
    return RecordedAnswer{std::nullopt, std::move(bytes), std::nullopt};
  };
  const std::vector<Case> cases = {
      {"media changed", RecordedControl::Length, fails_with(win32::kMediaChanged),
       "source I/O error (Uncategorized): The media in the drive may have changed. (os error "
       "1110)"},
      {"no media", RecordedControl::Length, fails_with(win32::kNoMediaInDrive),
       "source I/O error (Uncategorized): There is no media in the drive. (os error 1112)"},
      {"short length answer", RecordedControl::Length, answers({1, 2, 3}),
       "source I/O error (UnexpectedEof): short IOCTL output: GET_LENGTH_INFORMATION"},
      {"descriptor size out of bounds", RecordedControl::DescriptorHeader,
       answers({0, 0, 0, 0, 35, 0, 0, 0}),
       "source I/O error (InvalidData): invalid STORAGE_DEVICE_DESCRIPTOR size: 35"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto contents = device_pattern(6 * kMiB);
    SimulatedCard device(contents);
    SimulatedDisk changed = *device.machine().disk(SimulatedCard::kDriveNumber);
    changed.answers[c.control] = c.answer;
    device.machine().events.push_back(replace_after(SimulatedCard::kDriveNumber, 2, changed));
    Bench bench;
    auto result = bench.run(device);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), c.error);
    // Two chunks, then three attempts at the third, none of which reached the medium.
    EXPECT_EQ(device.read_count(), 2u + 3u);
    EXPECT_EQ(device.machine().log_of("read ").size(), 2u);
    EXPECT_EQ(bench.image_length(), 2 * kMiB);
    const auto left = bench.saved_checkpoint();
    ASSERT_TRUE(left);
    EXPECT_EQ(left->bytes_written, 2 * kMiB);
    EXPECT_TRUE(left->read_errors.empty());
  }
}

TEST(ImagingEngine, InterruptedAfterSevenChunksThenResumed) {
  const std::uint64_t capacity = 10 * kMiB;
  const auto contents = device_pattern(capacity);

  Bench whole;
  SimulatedCard whole_device(contents);
  auto uninterrupted = whole.run(whole_device);
  ASSERT_TRUE(uninterrupted) << uninterrupted.error().message();

  Bench bench;
  std::atomic<bool> stop{false};
  std::vector<std::pair<std::uint64_t, std::uint64_t>> asked;  // image length, last saved length
  bench.interrupted = [&] {
    asked.emplace_back(bench.image_length(), bench.saves.back().bytes_written);
    return stop.load();
  };
  bench.on_line = [&](std::string_view line) {
    if (line == progress(7 * kMiB, capacity)) stop = true;
  };
  SimulatedCard device(contents);
  auto interrupted = bench.run(device);
  ASSERT_FALSE(interrupted);
  EXPECT_EQ(interrupted.error().message(), "imaging interrupted");
  EXPECT_EQ(interrupted.error().kind(), RecoveryError::Kind::Interrupted);
  // The reads ahead of the stop are dropped: never written, never claimed.
  EXPECT_GE(device.read_count(), 7u);
  EXPECT_LE(device.read_count(), 7u + ChunkReadAhead::kSlots);
  EXPECT_EQ(bench.image_length(), 7340032u);
  EXPECT_EQ(bench.saved_checkpoint()->bytes_written, 7340032u);
  // Asked only between chunks, when the image is exactly as long as its checkpoint says.
  ASSERT_EQ(asked.size(), 8u);
  for (std::size_t i = 0; i < asked.size(); ++i) {
    EXPECT_EQ(asked[i].first, i * kMiB);
    EXPECT_EQ(asked[i].second, i * kMiB);
  }

  bench.on_line = nullptr;
  stop = false;
  bench.lines.clear();
  SimulatedCard again(contents);
  auto resumed = bench.run(again, {}, bench.saved_checkpoint());
  ASSERT_TRUE(resumed) << resumed.error().message();
  EXPECT_EQ(resumed->resumed_from, 7340032u);
  EXPECT_EQ(resumed->sha256, uninterrupted->sha256);
  EXPECT_EQ(resumed->sha256, sha256_of(as_text(contents)));
  EXPECT_EQ(read_file(bench.image), as_text(contents));
  EXPECT_EQ(again.read_count(), 3u);
  EXPECT_EQ(again.requests().front().offset, 7340032u);
  EXPECT_EQ(bench.lines.front(), progress(7340032, capacity));
  EXPECT_EQ(bench.lines[1], progress(7340032, capacity));
}

TEST(ImagingEngine, CompleteImageResumesWithoutReading) {
  const auto contents = device_pattern(3 * kMiB);
  Bench bench;
  SimulatedCard first(contents);
  auto done = bench.run(first);
  ASSERT_TRUE(done);
  bench.lines.clear();
  SimulatedCard second(contents);
  auto again = bench.run(second, {}, bench.saved_checkpoint());
  ASSERT_TRUE(again) << again.error().message();
  EXPECT_EQ(bench.lines, std::vector<std::string>{progress(3 * kMiB, 3 * kMiB)});
  EXPECT_EQ(second.read_count(), 0u);
  EXPECT_EQ(again->resumed_from, 3 * kMiB);
  EXPECT_EQ(again->sha256, done->sha256);
  EXPECT_TRUE(again->complete);
}

TEST(ImagingEngine, EditedPrefixIsRefusedAndLeftAlone) {
  const auto contents = device_pattern(4 * kMiB);
  Bench bench;
  bench.interrupted = [&] { return bench.saves.back().bytes_written == 2 * kMiB; };
  SimulatedCard device(contents);
  ASSERT_EQ(bench.run(device).error().message(), "imaging interrupted");

  std::string edited = read_file(bench.image);
  edited[100] = static_cast<char>(edited[100] ^ 0x01);
  write_file(bench.image, edited);
  const std::string checkpoint_text = read_file(bench.checkpoint);
  bench.interrupted = nullptr;
  SimulatedCard again(contents);
  auto resumed = bench.run(again, {}, bench.saved_checkpoint());
  ASSERT_FALSE(resumed);
  EXPECT_EQ(resumed.error().message(),
            "checksum mismatch: partial image prefix does not match checkpoint");
  EXPECT_EQ(read_file(bench.image), edited);
  EXPECT_EQ(read_file(bench.checkpoint), checkpoint_text);
  EXPECT_EQ(again.read_count(), 0u);
}

TEST(ImagingEngine, StartUpRefusalsComeInOrderAndWriteNothing) {
  const auto contents = device_pattern(6 * kMiB);
  const SimulatedCard reference(contents);
  const DeviceInfo& card = reference.expected_identity();
  auto checkpoint_for = [&](std::uint64_t length, std::string_view stable_id) {
    DeviceInfo info = card;
    info.stable_id = stable_id;
    const std::string prefix = sha256_of(as_text(contents).substr(0, length));
    return make_checkpoint(info, length, prefix, {}).value();
  };
  ImageCheckpoint wrong_schema = checkpoint_for(0, card.stable_id);
  wrong_schema.schema = "9";

  struct Case {
    const char* name;
    std::optional<std::string> existing;  // image content before the run
    std::optional<ImageCheckpoint> checkpoint;
    ImagingOptions options;
    std::string error;
  };
  const Case cases[] = {
      {"chunk size 0", std::nullopt, std::nullopt, ImagingOptions{.chunk_size = 0},
       "invalid structure: image chunk size must be a non-zero sector multiple"},
      {"chunk size off the sector grid", std::nullopt, std::nullopt,
       ImagingOptions{.chunk_size = 1000},
       "invalid structure: image chunk size must be a non-zero sector multiple"},
      {"chunk size checked before the destination", "", std::nullopt,
       ImagingOptions{.chunk_size = 100, .resume = false},
       "invalid structure: image chunk size must be a non-zero sector multiple"},
      {"no resume, empty output", "", std::nullopt, ImagingOptions{.resume = false},
       "destination already exists"},
      {"no resume, partial output", as_text(contents).substr(0, kMiB),
       checkpoint_for(kMiB, card.stable_id), ImagingOptions{.resume = false},
       "destination already exists"},
      {"image longer than the device",
       as_text(contents) + std::string(512, 'x'),
       std::nullopt,
       {},
       "byte range exceeds source: offset=0 length=6291968 capacity=6291456"},
      {"unaligned image, before the checkpoint is validated",
       std::string(1000, 'x'),
       wrong_schema,
       {},
       "invalid structure: partial image is not sector aligned"},
      {"partial image without checkpoint",
       as_text(contents).substr(0, kMiB),
       std::nullopt,
       {},
       "invalid structure: partial image checkpoint is required for resume"},
      {"checkpoint of another card",
       as_text(contents).substr(0, kMiB),
       checkpoint_for(kMiB, "usb:other:card:2"),
       {},
       "invalid structure: image checkpoint source identity mismatch"},
      {"checkpoint for another length",
       as_text(contents).substr(0, kMiB),
       checkpoint_for(2 * kMiB, card.stable_id),
       {},
       "invalid structure: image checkpoint length does not match partial image"},
      {"checkpoint for a missing image",
       std::nullopt,
       checkpoint_for(kMiB, card.stable_id),
       {},
       "invalid structure: image checkpoint length does not match partial image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    if (c.existing) write_file(bench.image, *c.existing);
    SimulatedCard device(contents);
    auto result = bench.run(device, c.options, c.checkpoint);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), c.error);
    EXPECT_EQ(device.read_count(), 0u);
    EXPECT_TRUE(bench.saves.empty());
    EXPECT_FALSE(std::filesystem::exists(bench.checkpoint));
    if (c.existing) {
      EXPECT_EQ(read_file(bench.image), *c.existing);
    }
  }
}

TEST(ImagingEngine, FreshRunsOverNothingOrAnEmptyFile) {
  const auto contents = device_pattern(2 * kMiB);
  for (const bool empty_file_first : {false, true}) {
    SCOPED_TRACE(empty_file_first);
    Bench bench;
    if (empty_file_first) write_file(bench.image, "");
    write_file(bench.checkpoint, "left by an older run");
    SimulatedCard device(contents);
    ImagingOptions options;
    options.resume = empty_file_first;  // --no-resume is fine while there is no output
    auto result = bench.run(device, options);
    ASSERT_TRUE(result) << result.error().message();
    EXPECT_EQ(result->resumed_from, 0u);
    EXPECT_EQ(read_file(bench.image), as_text(contents));
    EXPECT_EQ(bench.saved_checkpoint()->bytes_written, 2 * kMiB);
  }
}

TEST(ImagingEngine, DestinationsThatAreNotRegularFilesAreRefused) {
  TempDir elsewhere;
  struct Case {
    const char* name;
    const char* file_name;
    std::function<void(const std::filesystem::path&)> make;
  };
  const auto nothing = [](const std::filesystem::path&) {};
  const Case cases[] = {
      {"directory", "card.img",
       [](const std::filesystem::path& p) { std::filesystem::create_directory(p); }},
#if defined(_WIN32)
      // A reserved device name in any directory opens the device, not a file.
      {"reserved device name", "NUL", nothing},
#else
      // Named pipes and links are made where tests may make them.
      {"named pipe", "card.img",
       [](const std::filesystem::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"link to a directory", "card.img",
       [&](const std::filesystem::path& p) {
         std::filesystem::create_directory_symlink(elsewhere.path(), p);
       }},
      {"link to a character device", "card.img",
       [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/null", p); }},
#endif
  };
  (void)nothing;
  const auto contents = device_pattern(kMiB);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.image = bench.dir / c.file_name;
    bench.checkpoint = bench.dir / (std::string(c.file_name) + ".partial.json");
    c.make(bench.image);
    SimulatedCard device(contents);
    auto result = bench.run(device);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "destination already exists");
    EXPECT_EQ(device.read_count(), 0u);
    EXPECT_FALSE(std::filesystem::exists(bench.checkpoint));
  }
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
#if defined(_WIN32)
  // A volume opens like a file on Windows; its name alone refuses it, before it is opened.
  for (const wchar_t* volume : {L"\\\\.\\C:", L"\\\\?\\C:", L"\\\\?\\C:\\"}) {
    Bench bench;
    SimulatedCard device(contents);
    auto result = create_image(device, std::filesystem::path(volume), ImagingOptions{},
                               std::nullopt, bench.checkpoint, bench.environment());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "destination already exists");
    EXPECT_EQ(device.read_count(), 0u);
  }
#endif
}

// The real image file with operations watched, and failed on request.
struct FileScript {
  std::vector<std::string> calls{};
  bool not_regular = false;
  std::size_t short_read_by = 0;
  std::size_t fail_write_number = 0;  // 1-based; 0: never
  bool fail_flush = false;
  bool fail_close = false;
};

class WatchedImageFile final : public ImageFile {
 public:
  WatchedImageFile(std::unique_ptr<ImageFile> real, FileScript& script)
      : real_(std::move(real)), script_(script) {}

  std::expected<bool, SourceError> is_regular_file() const override {
    if (script_.not_regular) return false;
    return real_->is_regular_file();
  }
  std::expected<void, SourceError> lock_exclusive() override {
    return note("lock", real_->lock_exclusive());
  }
  std::expected<std::uint64_t, SourceError> length() const override { return real_->length(); }
  std::expected<std::size_t, SourceError> read_fully(std::span<std::uint8_t> buffer) override {
    script_.calls.push_back("read");
    auto got = real_->read_fully(buffer);
    if (got && script_.short_read_by > 0) return *got - std::min(*got, script_.short_read_by);
    return got;
  }
  std::expected<void, SourceError> seek(std::uint64_t offset) override {
    script_.calls.push_back("seek " + std::to_string(offset));
    return real_->seek(offset);
  }
  std::expected<void, SourceError> write_all(std::span<const std::uint8_t> buffer) override {
    script_.calls.push_back("write");
    if (++writes_ == script_.fail_write_number)
      return std::unexpected(io_error_from_os_code(kDiskFullCode));
    return real_->write_all(buffer);
  }
  std::expected<void, SourceError> flush() override {
    script_.calls.push_back("flush");
    if (script_.fail_flush) return std::unexpected(io_error_from_os_code(kDeviceFailureCode));
    return real_->flush();
  }
  std::expected<void, SourceError> close() override {
    script_.calls.push_back("close");
    auto closed = real_->close();
    if (script_.fail_close) return std::unexpected(io_error_from_os_code(kDeviceFailureCode));
    return closed;
  }

 private:
  std::expected<void, SourceError> note(const char* what,
                                        std::expected<void, SourceError> outcome) {
    script_.calls.push_back(what);
    return outcome;
  }

  std::unique_ptr<ImageFile> real_;
  FileScript& script_;
  std::size_t writes_ = 0;
};

ImageFileOpener watched(FileScript& script) {
  return [&script](const std::filesystem::path& path)
             -> std::expected<std::unique_ptr<ImageFile>, SourceError> {
    auto real = open_image_file(path);
    if (!real) return std::unexpected(real.error());
    return std::make_unique<WatchedImageFile>(std::move(*real), script);
  };
}

TEST(ImagingEngine, FinishedImageIsFlushedBeforeTheResult) {
  const auto contents = device_pattern(2 * kMiB);
  {
    FileScript script;
    Bench bench;
    bench.open_image = watched(script);
    SimulatedCard device(contents);
    ASSERT_TRUE(bench.run(device));
    // Flushed once the first checkpoint is saved and at the end; 2 MiB is
    // short of the interval that would flush it in between.
    EXPECT_EQ(script.calls, (std::vector<std::string>{"lock", "seek 0", "flush", "write", "write",
                                                      "flush", "close"}));
  }
  struct Case {
    const char* name;
    bool flush;
    bool close;
  };
  for (const Case& c : {Case{"flush fails", true, false}, Case{"close fails", false, true}}) {
    SCOPED_TRACE(c.name);
    FileScript script{.fail_flush = c.flush, .fail_close = c.close};
    Bench bench;
    bench.open_image = watched(script);
    SimulatedCard device(contents);
    auto result = bench.run(device);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "I/O error: " + os_error_text(kDeviceFailureCode));
  }
}

TEST(ImagingEngine, FileAndCheckpointFailuresEndTheRun) {
  const auto contents = device_pattern(4 * kMiB);
  {
    SCOPED_TRACE("second write fails");
    FileScript script{.fail_write_number = 2};
    Bench bench;
    bench.open_image = watched(script);
    SimulatedCard device(contents);
    auto result = bench.run(device);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "I/O error: " + os_error_text(kDiskFullCode));
    EXPECT_EQ(bench.saved_checkpoint()->bytes_written, kMiB);
    EXPECT_GE(device.read_count(), 2u);  // and perhaps some read ahead
  }
  {
    SCOPED_TRACE("third checkpoint save fails");
    Bench bench;
    bench.fail_save_number = 3;
    SimulatedCard device(contents);
    auto result = bench.run(device);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "I/O error: " + os_error_text(kDiskFullCode));
    EXPECT_EQ(bench.saved_checkpoint()->bytes_written, kMiB);
    EXPECT_GE(device.read_count(), 2u);
  }
  {
    SCOPED_TRACE("checkpoint directory missing: the first save fails before any read");
    Bench bench;
    SimulatedCard device(contents);
    auto result = create_image(device, bench.image, {}, std::nullopt, bench.dir / "gone" / "c.json",
                               bench.environment());
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), "I/O error: " + os_error_text(kNoSuchDirectoryCode));
    EXPECT_EQ(device.read_count(), 0u);
  }
  {
    SCOPED_TRACE("image swapped for something else once opened");
    FileScript script{.not_regular = true};
    Bench bench;
    bench.open_image = watched(script);
    SimulatedCard device(contents);
    EXPECT_EQ(bench.run(device).error().message(), "destination already exists");
    EXPECT_TRUE(script.calls.empty());
  }
  {
    SCOPED_TRACE("image ends early while it is re-hashed");
    Bench bench;
    bench.interrupted = [&] { return bench.saves.back().bytes_written == 2 * kMiB; };
    SimulatedCard device(contents);
    ASSERT_EQ(bench.run(device).error().message(), "imaging interrupted");
    FileScript script{.short_read_by = 1};
    bench.open_image = watched(script);
    bench.interrupted = nullptr;
    SimulatedCard again(contents);
    auto resumed = bench.run(again, {}, bench.saved_checkpoint());
    ASSERT_FALSE(resumed);
    EXPECT_EQ(resumed.error().message(), "I/O error: failed to fill whole buffer");
    EXPECT_EQ(again.read_count(), 0u);
  }
}

TEST(ImagingEngine, SecondRunOnTheSameOutputIsRefused) {
  const auto contents = device_pattern(3 * kMiB);
  Bench bench;
  std::optional<std::expected<ImagingResult, RecoveryError>> second;
  std::string image_during_second;
  bench.on_line = [&](std::string_view line) {
    if (second || line != progress(kMiB, 3 * kMiB)) return;
    SimulatedCard other(contents);
    ImagingEnvironment quiet;
    image_during_second = read_file(bench.image);
    second =
        create_image(other, bench.image, {}, bench.saved_checkpoint(), bench.checkpoint, quiet);
    EXPECT_EQ(other.read_count(), 0u);
  };
  SimulatedCard device(contents);
  auto first = bench.run(device);
  ASSERT_TRUE(first) << first.error().message();
  ASSERT_TRUE(second);
  ASSERT_FALSE(*second);
  EXPECT_EQ(second->error().message(),
            "I/O error: image output is in use by another run: " + os_error_text(kLockHeldCode));
  EXPECT_EQ(image_during_second.size(), kMiB);
  EXPECT_EQ(read_file(bench.image), as_text(contents));
  EXPECT_EQ(first->sha256, sha256_of(as_text(contents)));
}

}  // namespace
}  // namespace kestrel::testing

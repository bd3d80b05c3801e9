#include "recovery-core/ntfs/ntfs_deleted_file.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/extraction/recorded_runs_copy.hpp"
#include "recovery-core/ntfs/ntfs_file_name.hpp"
#include "recovery-core/ntfs/ntfs_messages.hpp"
#include "recovery-core/ntfs/ntfs_record_limits.hpp"
#include "recovery-core/ntfs/ntfs_times.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel {

namespace {

// Taken off the score of a file whose clusters another file may hold now.
constexpr int kReusedClustersPenalty = 30;
// The largest compression unit a volume can have: 16 clusters of 64 KiB.
constexpr std::uint64_t kLargestCompressionUnit = std::uint64_t{1024} * 1024;

// Keeps the first bytes of a copy, for the content check.
class FirstBytes final : public ExtractionOutput {
 public:
  std::expected<void, RecoveryError> write(std::span<const std::uint8_t> bytes) override {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return {};
  }
  std::expected<void, RecoveryError> finish() override { return {}; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// What every stream of one record shares.
struct RecordFacts {
  std::uint64_t number = 0;
  std::optional<std::uint64_t> offset;
  std::string name;
  std::optional<FolderPath> directory;
  std::vector<std::string_view> place_notes;
  FileDates dates;
};

RecoveryCandidate stream_candidate(const NtfsCandidateContext& context, const RecordFacts& facts,
                                   const NtfsAttribute& stream) {
  RecoveryCandidate candidate;
  candidate.id = "ntfs:" + std::to_string(context.partition_index) + ":" +
                 std::to_string(facts.number);
  candidate.name = facts.name;
  if (!stream.name.empty()) {
    const std::string stream_name = decode_utf16_lossy(stream.name);
    candidate.id += ":" + stream_name;
    candidate.name += ":" + stream_name;
  }
  candidate.partition_index = context.partition_index;
  candidate.file_system = FilesystemKind::Ntfs;
  candidate.cluster_size = context.geometry.cluster_size;
  candidate.directory = facts.directory;
  candidate.dates = facts.dates;
  candidate.size = stream.resident ? stream.value.size() : stream.data_size;
  return candidate;
}

// A candidate whose data cannot be read: listed for what its record says.
void metadata_only(RecoveryCandidate& candidate, std::string_view why) {
  candidate.recoverability = Recoverability::MetadataOnly;
  candidate.layout = AreaWithoutClusters{};
  candidate.confidence = Confidence::Low;
  candidate.confidence_score = 0;
  candidate.validation_notes = {std::string(why)};
}

void take_check(RecoveryCandidate& candidate, ContentCheck check) {
  candidate.detected_kind = check.detected_kind;
  candidate.confidence = check.confidence;
  candidate.confidence_score = check.confidence_score;
  candidate.validation_notes = std::move(check.validation_notes);
}

void resident_candidate(RecoveryCandidate& candidate, const RecordFacts& facts,
                        const NtfsAttribute& stream) {
  candidate.recoverability = Recoverability::Resident;
  candidate.data_offset = facts.offset ? *facts.offset + stream.value_offset : 0;
  candidate.layout = HeldBytes{{stream.value.begin(), stream.value.end()}};
  const auto probe = stream.value.first(static_cast<std::size_t>(
      std::min<std::uint64_t>(stream.value.size(), kContentProbeBytes)));
  take_check(candidate, check_first_bytes(probe, candidate.name, true));
  candidate.validation_notes.emplace_back(kNtfsResidentNote);
}

// The stream's runs as pieces of the source; nothing when they cannot be
// trusted (the reason goes into `why`).
std::optional<RecordedRuns> recorded_runs(const NtfsCandidateContext& context,
                                          const NtfsAttribute& stream, std::string_view& why) {
  const NtfsGeometry& geometry = context.geometry;
  const auto runs = decode_ntfs_runs(stream.runs, geometry.cluster_count, kMostRunsPerStream);
  if (!runs) {
    why = kNtfsRunsUnreadableNote;
    return std::nullopt;
  }
  const std::uint64_t volume_bytes = geometry.cluster_count * geometry.cluster_size;
  if (stream.data_size > volume_bytes) {
    why = kNtfsTooLargeNote;
    return std::nullopt;
  }
  RecordedRuns layout;
  layout.cluster_size = geometry.cluster_size;
  layout.area_end = geometry.end();
  layout.initialized_length = std::min(stream.initialized_size, stream.data_size);
  if (stream.compressed()) {
    const std::uint64_t unit = std::uint64_t{geometry.cluster_size}
                               << std::min<unsigned>(stream.compression_unit_power, 31);
    if (stream.compression_unit_power == 0 || unit > kLargestCompressionUnit) {
      why = kNtfsRunsUnreadableNote;
      return std::nullopt;
    }
    layout.compression_unit = unit;
  }
  for (const NtfsRun& run : *runs) {
    layout.runs.push_back({run.hole ? 0 : geometry.cluster_offset(run.first),
                           run.length * geometry.cluster_size, run.hole});
  }
  if (run_clusters(*runs) * geometry.cluster_size < stream.data_size) {
    why = kNtfsRunsElsewhereNote;
    return std::nullopt;
  }
  return layout;
}

// When a record was last written, as far as it says, and which it is.
struct WriteOrder {
  std::uint64_t record = 0;
  std::uint64_t key = 0;
};

// The log sequence number of the record's last change, else the time its
// $STANDARD_INFORMATION says the record last changed.
WriteOrder write_order(std::uint64_t number, const NtfsRecord& record) {
  if (record.log_sequence != 0) return {number, record.log_sequence};
  const NtfsAttribute* information = record.first(NtfsAttributeType::StandardInformation);
  if (information == nullptr || information->value.size() < 24) return {number, 0};
  return {number, read_u64_le(information->value, 16).value_or(0)};
}

// Whether another deleted record claims a cluster of the stream and was not
// written before this one.
bool contested(const NtfsCandidateContext& context, const WriteOrder& order,
               const RecordedRuns& layout) {
  if (context.claims == nullptr) return false;
  const NtfsGeometry& geometry = context.geometry;
  return std::ranges::any_of(layout.runs, [&](const RecordedRun& run) {
    return !run.hole &&
           context.claims->contested(order.record, order.key,
                                     (run.offset - geometry.volume_offset) / geometry.cluster_size,
                                     run.length / geometry.cluster_size);
  });
}

// Whether `$Bitmap` marks any cluster of the stream in use now.
std::expected<bool, RecoveryError> clusters_reused(const NtfsCandidateContext& context,
                                                   const RecordedRuns& layout) {
  if (context.bitmap == nullptr) return false;
  const NtfsGeometry& geometry = context.geometry;
  for (const RecordedRun& run : layout.runs) {
    if (run.hole) continue;
    const std::uint64_t first = (run.offset - geometry.volume_offset) / geometry.cluster_size;
    KESTREL_TRY_ASSIGN(used, context.bitmap->any_in_use(first, run.length / geometry.cluster_size));
    if (*used) return true;
  }
  return false;
}

std::expected<void, RecoveryError> runs_candidate(NtfsCandidateContext& context,
                                                  RecoveryCandidate& candidate,
                                                  const NtfsAttribute& stream,
                                                  const WriteOrder& order) {
  if (stream.encrypted()) {
    metadata_only(candidate, kNtfsEncryptedNote);
    return {};
  }
  std::string_view why;
  auto layout = recorded_runs(context, stream, why);
  if (!layout) {
    metadata_only(candidate, why);
    return {};
  }
  bool has_hole = false;
  for (const RecordedRun& run : layout->runs) {
    has_hole = has_hole || run.hole;
    if (!run.hole && candidate.data_offset == 0) {
      candidate.data_offset = run.offset;
      candidate.first_cluster = (run.offset - context.geometry.volume_offset) /
                                context.geometry.cluster_size;
    }
  }
  FirstBytes first;
  const bool readable =
      copy_recorded_runs(context.source, *layout,
                         std::min<std::uint64_t>(candidate.size, kContentProbeBytes), first)
          .has_value();
  take_check(candidate, check_first_bytes(readable ? std::optional<std::span<const std::uint8_t>>(
                                                         first.bytes())
                                                   : std::nullopt,
                                          candidate.name, true));
  candidate.validation_notes.emplace_back(kNtfsDataRunsNote);
  if (layout->compression_unit > 0) candidate.validation_notes.emplace_back(kNtfsCompressedNote);
  if (has_hole && layout->compression_unit == 0) {
    candidate.validation_notes.emplace_back(kNtfsSparseNote);
  }
  if (layout->initialized_length < candidate.size) {
    candidate.validation_notes.emplace_back(kNtfsUninitializedNote);
  }
  KESTREL_TRY_ASSIGN(reused, clusters_reused(context, *layout));
  const std::string_view doubt = *reused                                ? kNtfsReusedClustersNote
                                 : contested(context, order, *layout) ? kNtfsSharedClustersNote
                                                                      : std::string_view{};
  if (!doubt.empty()) {
    candidate.validation_notes.emplace_back(doubt);
    ContentCheck regraded{{}, candidate.detected_kind, candidate.confidence,
                          candidate.confidence_score};
    lower_score(regraded, kReusedClustersPenalty);
    candidate.confidence = regraded.confidence;
    candidate.confidence_score = regraded.confidence_score;
  }
  candidate.recoverability = Recoverability::DataRuns;
  candidate.layout = std::move(*layout);
  return {};
}

// The name of a record that gives candidates: a deleted file's base record
// outside the reserved records and $Extend.
std::optional<NtfsFileName> deleted_file_name(std::uint64_t number, const NtfsRecord& record) {
  if (number < kFirstUserRecord || record.in_use || record.directory || record.base.record != 0) {
    return std::nullopt;
  }
  auto name = user_file_name(record);
  if (!name || name->parent.record == kExtendRecord) return std::nullopt;
  return name;
}

// The streams of the record that give candidates, in the record's order.
template <typename Visit>
void for_each_stream(const NtfsRecord& record, Visit&& visit) {
  for (const NtfsAttribute& stream : record.attributes) {
    if (stream.type == static_cast<std::uint32_t>(NtfsAttributeType::Data) &&
        (stream.resident || stream.first_vcn == 0)) {
      visit(stream);
    }
  }
}

// The record's facts shared by its streams; nothing for records that give no
// candidate.
std::expected<std::optional<RecordFacts>, RecoveryError> record_facts(
    NtfsCandidateContext& context, std::uint64_t number, std::optional<std::uint64_t> offset,
    const NtfsRecord& record) {
  auto name = deleted_file_name(number, record);
  if (!name) return std::nullopt;
  RecordFacts facts;
  facts.number = number;
  facts.offset = offset;
  facts.name = std::move(name->name);
  if (context.timestamps) facts.dates = ntfs_record_dates(record);
  if (context.paths != nullptr) {
    KESTREL_TRY_ASSIGN(place, context.paths->place_of(name->parent));
    if (place->lost) {
      facts.place_notes.push_back(kNtfsLostFolderNote);
    } else {
      facts.directory = std::move(place->path);
      if (place->in_deleted_folder) facts.place_notes.push_back(kNtfsDeletedFolderNote);
    }
  }
  return facts;
}

}  // namespace

std::expected<SinkReply, RecoveryError> list_deleted_ntfs_record(
    NtfsCandidateContext& context, std::uint64_t number, std::optional<std::uint64_t> record_offset,
    const NtfsRecord& record, CandidateSink& sink) {
  KESTREL_TRY_ASSIGN(facts, record_facts(context, number, record_offset, record));
  if (!*facts) return SinkReply::Continue;
  std::optional<RecoveryError> failure;
  SinkReply reply = SinkReply::Continue;
  for_each_stream(record, [&](const NtfsAttribute& stream) {
    if (failure || reply == SinkReply::Stop) return;
    RecoveryCandidate candidate = stream_candidate(context, **facts, stream);
    if (stream.resident) {
      resident_candidate(candidate, **facts, stream);
    } else if (auto built =
                   runs_candidate(context, candidate, stream, write_order(number, record));
               !built) {
      failure = std::move(built.error());
      return;
    }
    for (const std::string_view note : (*facts)->place_notes) {
      candidate.validation_notes.emplace_back(note);
    }
    reply = sink.accept(std::move(candidate));
  });
  if (failure) return std::unexpected(std::move(*failure));
  return reply;
}

void claim_deleted_ntfs_record(const NtfsCandidateContext& context, std::uint64_t number,
                               const NtfsRecord& record, NtfsClusterClaims& claims) {
  if (!deleted_file_name(number, record)) return;
  const WriteOrder order = write_order(number, record);
  for_each_stream(record, [&](const NtfsAttribute& stream) {
    if (stream.resident) return;
    const auto runs =
        decode_ntfs_runs(stream.runs, context.geometry.cluster_count, kMostRunsPerStream);
    if (!runs) return;
    for (const NtfsRun& run : *runs) {
      if (!run.hole) claims.add(number, order.key, run.first, run.length);
    }
  });
}

}  // namespace kestrel

#include "recovery-core/ntfs/ntfs_deleted_file.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "recovery-core/bytes/little_endian.hpp"
#include "recovery-core/content/content_check.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/extraction/recorded_runs_copy.hpp"
#include "recovery-core/ntfs/ntfs_attribute_list.hpp"
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
  std::optional<FileDates> name_dates;  // when they differ from `dates`
};

RecoveryCandidate stream_candidate(const NtfsCandidateContext& context, const RecordFacts& facts,
                                   const NtfsAttribute& stream) {
  RecoveryCandidate candidate;
  candidate.id = std::string("ntfs:")
                     .append(std::to_string(context.partition_index))
                     .append(":")
                     .append(std::to_string(facts.number));
  candidate.name = facts.name;
  if (!stream.name.empty()) {
    const std::string stream_name = decode_utf16_lossy(stream.name);
    candidate.id.append(":").append(stream_name);
    candidate.name.append(":").append(stream_name);
  }
  candidate.partition_index = context.partition_index;
  candidate.file_system = FilesystemKind::Ntfs;
  candidate.cluster_size = context.geometry.cluster_size;
  candidate.directory = facts.directory;
  candidate.dates = facts.dates;
  candidate.name_dates = facts.name_dates;
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
  const auto probe = stream.value.first(
      static_cast<std::size_t>(std::min<std::uint64_t>(stream.value.size(), kContentProbeBytes)));
  take_check(candidate, check_first_bytes(probe, candidate.name, true));
  candidate.validation_notes.emplace_back(kNtfsResidentNote);
}

// A data stream of a record: the attribute that holds its value or its first
// clusters, and the pieces that continue it (in extension records), in the
// order of their first cluster.
struct StreamPieces {
  const NtfsAttribute* lead = nullptr;
  std::vector<const NtfsAttribute*> later;
};

// The record's data streams, in the order their leads appear; a stream whose
// lead is nowhere is left out (its size is not known).
std::vector<StreamPieces> data_streams(const NtfsRecord& base,
                                       const std::vector<NtfsRecord>& extensions) {
  std::vector<StreamPieces> streams;
  std::vector<const NtfsAttribute*> continuations;
  auto take = [&](const NtfsRecord& record) {
    for (const NtfsAttribute& attribute : record.attributes) {
      if (attribute.type != static_cast<std::uint32_t>(NtfsAttributeType::Data)) continue;
      const bool lead = attribute.resident || attribute.first_vcn == 0;
      const bool known = std::ranges::any_of(
          streams, [&](const StreamPieces& stream) { return stream.lead->name == attribute.name; });
      if (lead && !known) streams.push_back({&attribute, {}});
      if (!lead) continuations.push_back(&attribute);
    }
  };
  take(base);
  for (const NtfsRecord& extension : extensions) take(extension);
  for (StreamPieces& stream : streams) {
    if (stream.lead->resident) continue;
    for (const NtfsAttribute* piece : continuations) {
      if (piece->name == stream.lead->name) stream.later.push_back(piece);
    }
    std::ranges::sort(stream.later, {}, &NtfsAttribute::first_vcn);
  }
  return streams;
}

// The runs of every piece, joined: each piece must start where the ones
// before it end. Nothing when a piece's runs cannot be read or a piece is
// missing (the reason goes into `why`).
std::optional<std::vector<NtfsRun>> joined_runs(const NtfsGeometry& geometry,
                                                const StreamPieces& stream, std::string_view& why) {
  auto runs = decode_ntfs_runs(stream.lead->runs, geometry.cluster_count, kMostRunsPerStream);
  for (const NtfsAttribute* piece : stream.later) {
    if (!runs) break;
    if (piece->first_vcn != run_clusters(*runs)) {
      why = kNtfsRunsElsewhereNote;
      return std::nullopt;
    }
    auto more = decode_ntfs_runs(piece->runs, geometry.cluster_count,
                                 kMostRunsPerStream - std::min(runs->size(), kMostRunsPerStream));
    if (!more) {
      runs.reset();
      break;
    }
    runs->insert(runs->end(), more->begin(), more->end());
  }
  if (!runs) why = kNtfsRunsUnreadableNote;
  return runs;
}

// The stream's runs as pieces of the source; nothing when they cannot be
// trusted (the reason goes into `why`).
std::optional<RecordedRuns> recorded_runs(const NtfsCandidateContext& context,
                                          const StreamPieces& pieces, std::string_view& why) {
  const NtfsGeometry& geometry = context.geometry;
  const NtfsAttribute& stream = *pieces.lead;
  const auto runs = joined_runs(geometry, pieces, why);
  if (!runs) return std::nullopt;
  const std::uint64_t volume_bytes = geometry.cluster_count * geometry.cluster_size;
  if (stream.data_size > volume_bytes) {
    why = kNtfsTooLargeNote;
    return std::nullopt;
  }
  RecordedRuns layout;
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
  if (run_clusters(*runs) <
      (stream.data_size + geometry.cluster_size - 1) / geometry.cluster_size) {
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
                                                  const StreamPieces& pieces,
                                                  const WriteOrder& order) {
  if (pieces.lead->encrypted()) {
    metadata_only(candidate, kNtfsEncryptedNote);
    return {};
  }
  std::string_view why;
  auto layout = recorded_runs(context, pieces, why);
  if (!layout) {
    metadata_only(candidate, why);
    return {};
  }
  bool has_hole = false;
  for (const RecordedRun& run : layout->runs) {
    has_hole = has_hole || run.hole;
    if (!run.hole && candidate.data_offset == 0) {
      candidate.data_offset = run.offset;
      candidate.first_cluster =
          (run.offset - context.geometry.volume_offset) / context.geometry.cluster_size;
    }
  }
  FirstBytes first;
  const bool readable =
      copy_recorded_runs(context.source, *layout,
                         std::min<std::uint64_t>(candidate.size, kContentProbeBytes), first)
          .has_value();
  take_check(candidate, check_first_bytes(
                            readable ? std::optional<std::span<const std::uint8_t>>(first.bytes())
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
  const std::string_view doubt = *reused                              ? kNtfsReusedClustersNote
                                 : contested(context, order, *layout) ? kNtfsSharedClustersNote
                                                                      : std::string_view{};
  if (!doubt.empty()) {
    candidate.validation_notes.emplace_back(doubt);
    ContentCheck regraded{
        {}, candidate.detected_kind, candidate.confidence, candidate.confidence_score};
    lower_score(regraded, kReusedClustersPenalty);
    candidate.confidence = regraded.confidence;
    candidate.confidence_score = regraded.confidence_score;
  }
  candidate.recoverability = Recoverability::DataRuns;
  candidate.layout = std::move(*layout);
  return {};
}

// Whether the record can give candidates: a deleted file's base record outside
// the reserved records; and its name, which must not be in $Extend.
bool may_be_deleted_file(std::uint64_t number, const NtfsRecord& record) {
  return number >= kFirstUserRecord && !record.in_use && !record.directory &&
         record.base.record == 0;
}

std::optional<NtfsFileName> deleted_file_name(const NtfsRecord& record,
                                              const std::vector<NtfsRecord>& extensions) {
  auto name = user_file_name(record, extensions);
  if (!name || name->parent.record == kExtendRecord) return std::nullopt;
  return name;
}

// The record's facts shared by its streams; nothing for records that give no
// candidate.
std::expected<std::optional<RecordFacts>, RecoveryError> record_facts(
    NtfsCandidateContext& context, std::uint64_t number, std::optional<std::uint64_t> offset,
    const NtfsRecord& record, const std::vector<NtfsRecord>& extensions) {
  auto name = deleted_file_name(record, extensions);
  if (!name) return std::nullopt;
  RecordFacts facts;
  facts.number = number;
  facts.offset = offset;
  facts.name = std::move(name->name);
  if (context.timestamps) {
    facts.dates = ntfs_record_dates(record);
    FileDates beside_name{ntfs_time_text(name->modified), ntfs_time_text(name->created),
                          ntfs_time_text(name->accessed)};
    if (beside_name != facts.dates) facts.name_dates = std::move(beside_name);
  }
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
  if (!may_be_deleted_file(number, record)) return SinkReply::Continue;
  KESTREL_TRY_ASSIGN(extensions, ntfs_extension_records(context.mft, number, record));
  KESTREL_TRY_ASSIGN(facts, record_facts(context, number, record_offset, record, *extensions));
  if (!*facts) return SinkReply::Continue;
  const WriteOrder order = write_order(number, record);
  for (const StreamPieces& stream : data_streams(record, *extensions)) {
    RecoveryCandidate candidate = stream_candidate(context, **facts, *stream.lead);
    if (stream.lead->resident) {
      resident_candidate(candidate, **facts, *stream.lead);
    } else {
      KESTREL_TRY(runs_candidate(context, candidate, stream, order));
    }
    for (const std::string_view note : (*facts)->place_notes) {
      candidate.validation_notes.emplace_back(note);
    }
    if (sink.accept(std::move(candidate)) == SinkReply::Stop) return SinkReply::Stop;
  }
  return SinkReply::Continue;
}

std::expected<void, RecoveryError> claim_deleted_ntfs_record(NtfsCandidateContext& context,
                                                             std::uint64_t number,
                                                             const NtfsRecord& record,
                                                             NtfsClusterClaims& claims) {
  if (!may_be_deleted_file(number, record)) return {};
  KESTREL_TRY_ASSIGN(extensions, ntfs_extension_records(context.mft, number, record));
  if (!deleted_file_name(record, *extensions)) return {};
  const WriteOrder order = write_order(number, record);
  for (const StreamPieces& stream : data_streams(record, *extensions)) {
    if (stream.lead->resident) continue;
    std::string_view why;
    const auto runs = joined_runs(context.geometry, stream, why);
    if (!runs) continue;
    for (const NtfsRun& run : *runs) {
      if (!run.hole) claims.add(number, order.key, run.first, run.length);
    }
  }
  return {};
}

}  // namespace kestrel

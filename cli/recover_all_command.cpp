#include "cli/recover_all_command.hpp"

#include <map>

#include "cli/batch_recovery_report.hpp"
#include "cli/candidate_selection.hpp"
#include "cli/cli_messages.hpp"
#include "cli/copy_progress.hpp"
#include "cli/image_inspection.hpp"
#include "cli/output_folders.hpp"
#include "cli/output_paths.hpp"
#include "cli/progress_lines.hpp"
#include "cli/recovered_file.hpp"
#include "cli/recovered_file_times.hpp"
#include "cli/render_error.hpp"
#include "cli/text_spool.hpp"
#include "os/file_system.hpp"
#include "os/file_system_sync.hpp"
#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/errors/recovery_error.hpp"
#include "recovery-core/extraction/extraction.hpp"
#include "recovery-core/extraction/file_output.hpp"

namespace kestrel {

namespace {

// Where the files of one batch go: the output directory itself or, when every
// folder was walked, each candidate's folder recreated below it.
class BatchDestinations {
 public:
  BatchDestinations(std::filesystem::path directory, bool recreate_folders)
      : directory_(directory),
        recreate_folders_(recreate_folders),
        folders_(std::move(directory)) {}

  // The folder a candidate's file goes into; a failure is the item's error.
  std::expected<std::filesystem::path, CommandError> folder_for(
      const RecoveryCandidate& candidate) {
    if (!recreate_folders_ || !candidate.directory) return directory_;
    return folders_.folder_for(*candidate.directory);
  }

  // A new file name in `folder`; a failure ends the batch.
  std::expected<std::filesystem::path, CommandError> choose(const std::filesystem::path& folder,
                                                            const std::string& name) {
    return choosers_.try_emplace(folder, folder).first->second.choose(name);
  }

 private:
  std::filesystem::path directory_;
  bool recreate_folders_;
  OutputFolders folders_;
  std::map<std::filesystem::path, OutputPathChooser> choosers_;
};

// Counts the candidates a filter selects; the first pass of a batch. Given a
// source, it also adds up the bytes their copies will write (the extraction's
// plan; a candidate that cannot be planned adds nothing).
class SelectionCount final : public ReportSink {
 public:
  SelectionCount(const NamePrefixFilter& filter, ByteSource* planning_source)
      : filter_(filter), planning_source_(planning_source) {}

  void begin_report(const FilesystemReport&) override {}
  SinkReply accept(RecoveryCandidate candidate) override {
    if (!filter_.selects(candidate)) return SinkReply::Continue;
    ++count_;
    if (planning_source_ != nullptr) {
      auto length = planned_extraction_length(*planning_source_, candidate);
      if (length) planned_bytes_ += *length;
    }
    return SinkReply::Continue;
  }
  void end_report(const FilesystemReport&) override {}
  std::uint64_t count() const { return count_; }
  std::uint64_t planned_bytes() const { return planned_bytes_; }

 private:
  const NamePrefixFilter& filter_;
  ByteSource* planning_source_;
  std::uint64_t count_ = 0;
  std::uint64_t planned_bytes_ = 0;
};

// Recovers each selected candidate as the scan hands it over and sets its
// item aside; a failure that ends the whole batch stops the scan.
class BatchRecovery final : public ReportSink {
 public:
  BatchRecovery(DevicePlatform& platform, ImageInspection& inspection,
                const NamePrefixFilter& filter, std::filesystem::path image,
                BatchDestinations& destinations, CopyProgress* progress)
      : platform_(platform),
        inspection_(inspection),
        filter_(filter),
        distinct_(std::move(image)),
        destinations_(destinations) {
    if (progress != nullptr) written_ = [progress](std::uint64_t n) { progress->wrote(n); };
  }

  void begin_report(const FilesystemReport&) override {}
  SinkReply accept(RecoveryCandidate candidate) override;
  void end_report(const FilesystemReport&) override {}

  std::uint64_t selected() const { return selected_; }
  std::uint64_t recovered() const { return recovered_; }
  std::uint64_t awaiting_sync() const { return awaiting_sync_; }
  const std::optional<CommandError>& fatal_error() const { return fatal_error_; }
  TextSpool& items() { return items_; }
  FileSystemSync& sync() { return sync_; }

 private:
  std::expected<BatchRecoveryItem, CommandError> recover_one(const RecoveryCandidate& candidate);

  DevicePlatform& platform_;
  ImageInspection& inspection_;
  const NamePrefixFilter& filter_;
  DistinctPathCheck distinct_;
  BatchDestinations& destinations_;
  WrittenBytes written_;  // empty without --progress
  FileSystemSync sync_;
  TextSpool items_;
  std::uint64_t selected_ = 0;
  std::uint64_t recovered_ = 0;
  std::uint64_t awaiting_sync_ = 0;
  std::optional<CommandError> fatal_error_;
};

SinkReply BatchRecovery::accept(RecoveryCandidate candidate) {
  if (!filter_.selects(candidate)) return SinkReply::Continue;
  auto item = recover_one(candidate);
  if (!item) {
    fatal_error_ = item.error();
    return SinkReply::Stop;
  }
  ++selected_;
  if (!item->error) ++recovered_;
  if (item->awaits_batch_sync) ++awaiting_sync_;
  items_.write(item_record(*item));
  if (items_.error()) {
    fatal_error_ = CommandError::ResultNotHeld{items_.error()->io_failure()};
    return SinkReply::Stop;
  }
  return SinkReply::Continue;
}

// Recovers one candidate into its item; the error ends the whole batch.
std::expected<BatchRecoveryItem, CommandError> BatchRecovery::recover_one(
    const RecoveryCandidate& candidate) {
  BatchRecoveryItem item;
  item.candidate_id = candidate.id;
  item.candidate_name = candidate.name;
  auto folder = destinations_.folder_for(candidate);
  if (!folder) {
    item.error = render_error(folder.error());
    return item;
  }
  KESTREL_TRY_ASSIGN(destination, destinations_.choose(*folder, candidate.name));
  KESTREL_TRY(distinct_.check(*destination));
  const bool synced_with_batch = sync_.cover(*folder);
  const FileDurability durability =
      synced_with_batch ? FileDurability::LeftToCaller : FileDurability::FlushedHere;
  item.dates_asked = inspection_.options.timestamps;
  const FileTimes times = item.dates_asked ? recovered_file_times(candidate.dates) : FileTimes{};
  auto written = recover_to_file(platform_, inspection_.source, candidate, *destination, durability,
                                 written_, times);
  if (written) {
    item.output = path_display(*destination);
    item.bytes_written = written->bytes_written;
    item.awaits_batch_sync = synced_with_batch;
    if (written->times_not_set)
      item.timestamp_note = cli_messages::times_not_set_note(render_error(*written->times_not_set));
  } else {
    item.error = render_error(written.error());
  }
  return item;
}

// Prints the document from the items set aside. When the batch's sync failed,
// the items that awaited it count as failed, with the sync's error.
std::expected<void, CommandError> print_batch_document(BatchRecovery& batch,
                                                       BatchRecoveryHeading heading,
                                                       const std::optional<std::string>& sync_error,
                                                       Output& output) {
  heading.selected_count = batch.selected();
  heading.recovered_count = batch.recovered() - (sync_error ? batch.awaiting_sync() : 0);
  StandardOutputText text(output);
  JsonStreamWriter writer(text);
  open_batch_document(writer, heading);
  std::string line;
  auto replayed = batch.items().replay([&](std::string_view piece) {
    for (const char c : piece) {
      if (c != '\n') {
        line.push_back(c);
        continue;
      }
      if (!output.result_failed()) writer.value(item_value_from_record(line, sync_error));
      line.clear();
    }
  });
  if (!replayed) return std::unexpected(CommandError::ResultNotHeld{replayed.error().io_failure()});
  close_batch_document(writer);
  if (heading.failed_count() != 0)
    return std::unexpected(CommandError::BatchFailures{heading.failed_count()});
  return {};
}

}  // namespace

// Two passes over the image: the first only scans and counts, so that a scan
// that fails, or selects nothing, ends the run before any file is written, as
// it always did; the second recovers each candidate as the scan finds it. Only
// the first prints progress lines, so a search reports one series, as in scan. The
// items are set aside until every file is durable (one sync for the batch),
// since the document's counts come before its items.
std::expected<void, CommandError> run_recover_all_command(DevicePlatform& platform,
                                                          const RecoverAllCommand& command,
                                                          Output& output) {
  const std::filesystem::path directory = path_from_text(command.output_directory);
  if (auto created = kestrel::create_directories(directory); !created) {
    return std::unexpected(CommandError::OutputDirectoryNotCreated{path_display(directory),
                                                                   created.error().io_failure()});
  }
  auto resolved_directory = canonical_path(directory);
  if (!resolved_directory) return std::unexpected(resolved_directory.error().io_failure());

  KESTREL_TRY_ASSIGN(inspection,
                     inspect_image(command.image, command.sector_size, command.options));
  const NamePrefixFilter filter(command.name_prefix);
  SelectionCount count(filter, command.progress ? &inspection->source : nullptr);
  KESTREL_TRY(scan_image(*inspection, count, progress_to(output)));
  if (count.count() == 0) return std::unexpected(CommandError::NoCandidateMatched{});

  std::optional<CopyProgress> copying;
  if (command.progress) copying.emplace(progress_to(output), count.planned_bytes());
  BatchDestinations destinations(*resolved_directory, command.options.all_directories);
  BatchRecovery batch(platform, *inspection, filter, path_from_text(command.image), destinations,
                      copying ? &*copying : nullptr);
  if (copying) copying->start();
  auto scanned = scan_image(*inspection, batch);
  if (copying) copying->finish();
  KESTREL_TRY(std::move(scanned));
  if (batch.fatal_error()) return std::unexpected(*batch.fatal_error());
  if (batch.selected() == 0) return std::unexpected(CommandError::NoCandidateMatched{});

  std::optional<std::string> sync_error;
  if (auto synced = batch.sync().sync(); !synced)
    sync_error = render_error(RecoveryError::io(synced.error()));
  BatchRecoveryHeading heading{inspection->image, path_display(*resolved_directory),
                               command.name_prefix, 0, 0};
  return print_batch_document(batch, std::move(heading), sync_error, output);
}

}  // namespace kestrel

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/json/json_stream_writer.hpp"

namespace kestrel {

// The outcome of one candidate of recover-all.
struct BatchRecoveryItem {
  std::string candidate_id;
  std::string candidate_name;
  std::optional<std::string> output;  // the file written; absent on failure
  std::uint64_t bytes_written = 0;
  std::optional<std::string> error;  // the extraction's error; absent on success
  // --timestamps: the item ends with "timestamp_note", why the file kept the
  // time of its recovery instead of the candidate's dates (null when it took
  // them, or had none). Without the flag the member is not written.
  bool dates_asked = false;
  std::optional<std::string> timestamp_note;
  // Not written: the file is durable only once the batch is synced.
  bool awaits_batch_sync = false;
};

JsonValue to_json(const BatchRecoveryItem& item);

// An item as one line of text (its JSON, compact, behind a flag for
// awaits_batch_sync), so that a batch can set its items aside as it goes.
std::string item_record(const BatchRecoveryItem& item);
// The item's document value back from its line. When the batch's sync failed,
// an item that awaited it becomes a failure with `sync_error` as its error.
JsonValue item_value_from_record(std::string_view record,
                                 const std::optional<std::string>& sync_error);

// The document recover-all prints, but for its items: the counts are known
// before the items are written out.
struct BatchRecoveryHeading {
  std::string image;
  std::string output_directory;  // after resolution
  std::optional<std::string> name_prefix;
  std::uint64_t selected_count = 0;
  std::uint64_t recovered_count = 0;
  std::uint64_t failed_count() const { return selected_count - recovered_count; }
};

// Opens the document and writes the heading's members and "items", opened;
// the items follow as values, then close_batch_document ends it.
void open_batch_document(JsonStreamWriter& writer, const BatchRecoveryHeading& heading);
void close_batch_document(JsonStreamWriter& writer);

}  // namespace kestrel

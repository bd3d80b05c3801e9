#include "cli/batch_recovery_report.hpp"

namespace kestrel {

JsonValue to_json(const BatchRecoveryItem& item) {
  JsonValue value = JsonValue::object();
  value["candidate_id"] = item.candidate_id;
  value["candidate_name"] = item.candidate_name;
  value["output"] = json_or_null(item.output);
  value["bytes_written"] = item.bytes_written;
  value["error"] = json_or_null(item.error);
  if (item.dates_asked) value["timestamp_note"] = json_or_null(item.timestamp_note);
  return value;
}

std::string item_record(const BatchRecoveryItem& item) {
  std::string record = item.awaits_batch_sync ? "1" : "0";
  record += to_json(item).dump(-1, ' ', false, JsonValue::error_handler_t::replace);
  record += '\n';
  return record;
}

// The record is our own compact JSON, so parsing it cannot fail; parsing does
// not throw either way.
JsonValue item_value_from_record(std::string_view record,
                                 const std::optional<std::string>& sync_error) {
  const bool awaits_sync = !record.empty() && record.front() == '1';
  if (!record.empty()) record.remove_prefix(1);
  JsonValue value = JsonValue::parse(record, nullptr, false);
  if (awaits_sync && sync_error && value.is_object() && value["error"].is_null()) {
    value["output"] = nullptr;
    value["bytes_written"] = 0;
    value["error"] = *sync_error;
  }
  return value;
}

void open_batch_document(JsonStreamWriter& writer, const BatchRecoveryHeading& heading) {
  writer.begin_object();
  writer.member("image", heading.image);
  writer.member("output_directory", heading.output_directory);
  writer.member("name_prefix", json_or_null(heading.name_prefix));
  writer.member("selected_count", heading.selected_count);
  writer.member("recovered_count", heading.recovered_count);
  writer.member("failed_count", heading.failed_count());
  writer.member("items");
  writer.begin_array();
}

void close_batch_document(JsonStreamWriter& writer) {
  writer.end_array();
  writer.end_object();
  writer.finish();
}

}  // namespace kestrel

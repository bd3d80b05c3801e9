#include "cli/batch_recovery_report.hpp"

#include <algorithm>

namespace kestrel {

std::uint64_t BatchRecoveryReport::recovered_count() const {
  return static_cast<std::uint64_t>(
      std::ranges::count_if(items, [](const BatchRecoveryItem& item) { return !item.error; }));
}

JsonValue to_json(const BatchRecoveryItem& item) {
  JsonValue value = JsonValue::object();
  value["candidate_id"] = item.candidate_id;
  value["candidate_name"] = item.candidate_name;
  value["output"] = json_or_null(item.output);
  value["bytes_written"] = item.bytes_written;
  value["error"] = json_or_null(item.error);
  return value;
}

JsonValue to_json(const BatchRecoveryReport& report) {
  JsonValue value = JsonValue::object();
  value["image"] = report.image;
  value["output_directory"] = report.output_directory;
  value["name_prefix"] = json_or_null(report.name_prefix);
  value["selected_count"] = static_cast<std::uint64_t>(report.items.size());
  value["recovered_count"] = report.recovered_count();
  value["failed_count"] = report.failed_count();
  JsonValue items = JsonValue::array();
  for (const BatchRecoveryItem& item : report.items) items.push_back(to_json(item));
  value["items"] = std::move(items);
  return value;
}

}  // namespace kestrel

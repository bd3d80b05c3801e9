#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

// The outcome of one candidate of recover-all.
struct BatchRecoveryItem {
  std::string candidate_id;
  std::string candidate_name;
  std::optional<std::string> output;  // the file written; absent on failure
  std::uint64_t bytes_written = 0;
  std::optional<std::string> error;  // the extraction's error; absent on success
};

// The document recover-all prints.
struct BatchRecoveryReport {
  std::string image;
  std::string output_directory;  // after resolution
  std::optional<std::string> name_prefix;
  std::vector<BatchRecoveryItem> items;  // in selection order

  std::uint64_t recovered_count() const;
  std::uint64_t failed_count() const { return items.size() - recovered_count(); }
};

JsonValue to_json(const BatchRecoveryItem& item);
JsonValue to_json(const BatchRecoveryReport& report);

}  // namespace kestrel

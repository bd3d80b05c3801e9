// Items set aside during a batch come back as their document values; a failed sync of the
// batch turns every file that awaited it into a failure.
#include "cli/batch_recovery_report.hpp"

#include <gtest/gtest.h>

namespace kestrel::testing {
namespace {

BatchRecoveryItem item(bool awaits_sync, std::optional<std::string> error) {
  BatchRecoveryItem result;
  result.candidate_id = "fat32:1:4096";
  result.candidate_name = "tab\tquote\".jpg";
  if (error) {
    result.error = std::move(error);
  } else {
    result.output = "/out/tab\tquote\".jpg";
    result.bytes_written = 1234;
    result.awaits_batch_sync = awaits_sync;
  }
  return result;
}

TEST(BatchRecoveryItems, ComeBackAfterTheSync) {
  const std::string sync_error = "I/O error: Input/output error (os error 5)";
  struct Case {
    const char* label;
    BatchRecoveryItem item;
    std::optional<std::string> sync_error;
    bool becomes_failure;
  };
  const std::vector<Case> cases = {
      {"synced", item(true, std::nullopt), std::nullopt, false},
      {"sync failed", item(true, std::nullopt), sync_error, true},
      {"flushed on its own", item(false, std::nullopt), sync_error, false},
      {"failed already", item(false, "short read: expected=512 actual=0"), sync_error, false},
  };
  for (const Case& c : cases) {
    const JsonValue value = item_value_from_record(item_record(c.item), c.sync_error);
    JsonValue expected = to_json(c.item);
    if (c.becomes_failure) {
      expected["output"] = nullptr;
      expected["bytes_written"] = 0;
      expected["error"] = sync_error;
    }
    EXPECT_EQ(*render_json(value), *render_json(expected)) << c.label;
  }
}

}  // namespace
}  // namespace kestrel::testing

#include "recovery-core/image/read_error_range.hpp"

#include <utility>

#include "recovery-core/errors/error_propagation.hpp"
#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/source/byte_range.hpp"

namespace kestrel {

JsonValue to_json(const ReadErrorRange& range) {
  JsonValue json = JsonValue::object();
  json["offset"] = range.offset;
  json["length"] = range.length;
  json["error"] = range.error;
  return json;
}

std::expected<void, RecoveryError> record_read_error(std::vector<ReadErrorRange>& ranges,
                                                     ReadErrorRange range) {
  if (!ranges.empty()) {
    ReadErrorRange& last = ranges.back();
    KESTREL_TRY_ASSIGN(last_end, checked_add(last.offset, last.length));
    if (*last_end == range.offset && last.error == range.error) {
      KESTREL_TRY_ASSIGN(grown, checked_add(last.length, range.length));
      last.length = *grown;
      return {};
    }
  }
  ranges.push_back(std::move(range));
  return {};
}

}  // namespace kestrel

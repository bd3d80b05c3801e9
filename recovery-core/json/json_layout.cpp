#include "recovery-core/json/json_layout.hpp"

namespace kestrel {

std::expected<std::string, RecoveryError> render_json(const JsonValue& document) {
  try {
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  } catch (const nlohmann::ordered_json::exception& e) {
    return std::unexpected(RecoveryError::render_failed(e.what()));
  }
}

}  // namespace kestrel

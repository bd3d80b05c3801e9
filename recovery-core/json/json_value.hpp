#pragma once

#include <nlohmann/json_fwd.hpp>

namespace kestrel {

// The value every record serialises to: an ordered JSON object keeps its
// members in the order the record adds them. Record headers include only this
// declaration; the code that builds or renders values includes json_layout.hpp.
using JsonValue = nlohmann::ordered_json;

}  // namespace kestrel

#include "recovery-core/errors/io_error.hpp"

#include <utility>

namespace kestrel {

IoError io_error_custom(IoErrorKind kind, std::string text) {
  return IoError{kind, std::move(text), std::nullopt};
}

}  // namespace kestrel

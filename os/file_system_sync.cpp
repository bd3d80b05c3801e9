#include "os/file_system_sync.hpp"

namespace kestrel {

std::expected<void, SourceError> FileSystemSync::sync() {
  std::expected<void, SourceError> outcome;
  for (auto& [name, handle] : file_systems_) {
    if (auto synced = handle.sync_file_system(); !synced && outcome)
      outcome = std::unexpected(synced.error());
  }
  return outcome;
}

}  // namespace kestrel

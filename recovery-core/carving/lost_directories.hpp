#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>

#include "recovery-core/candidates/candidate_sink.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// Recognises, at the start of a free cluster, directory entries that no
// directory reaches any more (a quick format, a folder entry overwritten, an
// allocation table damaged) and lists the files they describe.
class LostDirectories {
 public:
  virtual ~LostDirectories() = default;

  // How many bytes of a cluster's start list() wants to see.
  virtual std::size_t probe_bytes() const = 0;

  // Nothing when `start`, the first probe_bytes() of the free cluster
  // `cluster`, holds no directory entries of the volume's kind. Otherwise
  // their files went to `sink`, and the reply is the sink's last.
  virtual std::expected<std::optional<SinkReply>, RecoveryError> list(
      std::uint32_t cluster, std::span<const std::uint8_t> start, CandidateSink& sink) = 0;
};

}  // namespace kestrel

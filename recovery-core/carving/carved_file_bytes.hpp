#pragma once

#include "recovery-core/candidates/scan_report.hpp"
#include "recovery-core/content/content_dates/content_bytes.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The bytes of a carved candidate as recovery copies them: `size` bytes from
// its data offset, or its pieces one after another; none past the source's
// end.
class CarvedFileBytes final : public ContentBytes {
 public:
  CarvedFileBytes(ByteSource& source, const RecoveryCandidate& candidate);

  std::uint64_t size() const override { return size_; }
  std::expected<std::vector<std::uint8_t>, RecoveryError> read(std::uint64_t position,
                                                               std::size_t length) override;

 private:
  // The bytes [position, position + length) of one piece starting at the
  // absolute offset `start`, appended to `out`.
  std::expected<void, RecoveryError> append(std::uint64_t start, std::uint64_t position,
                                            std::size_t length, std::vector<std::uint8_t>& out);

  ByteSource& source_;
  std::uint64_t size_;
  FilePieces pieces_;  // one piece for a file read as one run
};

}  // namespace kestrel

#pragma once

#include <cstdint>
#include <expected>

#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/errors/recovery_error.hpp"

namespace kestrel {

// What decoding a JPEG's entropy-coded data says about it.
enum class JpegScanCheck {
  Whole,        // exactly the frame's blocks decode, restart markers in order, then EOI
  Broken,       // a code no table has, a block past 64 coefficients, too few or too many blocks
  Undecodable,  // a coding this check does not follow (progressive, arithmetic, lossless, several
                // scans)
};

// Decodes the Huffman codes of a sequential JPEG from its first byte, without
// computing any pixel: a wrong byte in the data almost always shows as a code
// that is not in the tables, a block that runs past 64 coefficients, or a
// count of blocks that does not match the frame. The marker chain is the one
// the end rule follows; the area should hold the file up to its EOI.
std::expected<JpegScanCheck, RecoveryError> check_jpeg_scan(FileArea& area);

// The same, and for Broken data where decoding stopped: a position (from the
// file's first byte) at most a few bytes past the first that does not belong.
struct JpegScanOutcome {
  JpegScanCheck check = JpegScanCheck::Broken;
  std::uint64_t stopped_at = 0;
};
std::expected<JpegScanOutcome, RecoveryError> decode_jpeg_scan(FileArea& area);

}  // namespace kestrel

#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <vector>

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
// `at_eoi`: Broken data whose codes ran on to the EOI before the frame's last
// block (the blocks did not add up, rather than the data giving out).
struct JpegScanOutcome {
  JpegScanCheck check = JpegScanCheck::Broken;
  std::uint64_t stopped_at = 0;
  bool at_eoi = false;
};
std::expected<JpegScanOutcome, RecoveryError> decode_jpeg_scan(FileArea& area);

// Whether `bytes` can lie inside a JPEG's entropy-coded data, up to its EOI
// if they hold it: every 0xFF is followed by a stuffed 0x00 or a restart
// marker, there is no run of 64 zero bytes, and the first 512 bytes are not
// text only (an encoder's codes never come out so). Random bytes, other formats' compressed data,
// zeros and text fail it within a few kilobytes.
bool can_be_jpeg_entropy_data(std::span<const std::uint8_t> bytes);

// Where the bit reader of the entropy-coded data stood: the next byte it
// reads (from the file's first byte) and the bits it held of those before.
struct JpegBitState {
  std::uint64_t position = 0;
  std::uint64_t bits = 0;
  int count = 0;
};

// A JPEG decoded from its first byte as decode_jpeg_scan does, keeping for the
// last unit starts its data passed (kJoinPoints, twice as many for data with
// restart markers, where decoding may run on for a whole interval past a
// break) the decoder's state at the last MCU begun before each. A file whose
// data broke off at one of them (its first piece ended there) can then be
// tried with another continuation by decoding on from that state, without
// decoding the first piece again.
class JpegScanResume {
 public:
  static constexpr std::size_t kJoinPoints = 4;
  static constexpr std::size_t kJoinPointsWithRestarts = 2 * kJoinPoints;

  // `unit`: the size of the units a piece holds whole (0: no join points).
  static std::expected<JpegScanResume, RecoveryError> decode(FileArea& area, std::uint64_t unit);

  JpegScanResume(JpegScanResume&&) noexcept;
  JpegScanResume& operator=(JpegScanResume&&) noexcept;
  ~JpegScanResume();

  const JpegScanOutcome& outcome() const;
  // Whether the data has restart markers (a restart interval is set).
  bool has_restarts() const;
  // For Broken data, the unit starts (from the file's first byte) up to where
  // decoding stopped at which the first piece may end, latest first.
  std::vector<std::uint64_t> join_points() const;
  // Where the bytes the decoder still needs from the first piece begin, for
  // the join point `at`: the bytes [tail_start, at) of the file.
  std::optional<std::uint64_t> tail_start(std::uint64_t at) const;
  // A quick test of a candidate second piece, reading nothing: whether the
  // data decodes on from the join point `at` over the first piece's `tail`
  // (its bytes from tail_start(at) to `at`), then `continuation` (the first
  // bytes of the candidate), without a code the tables lack, a block past 64
  // coefficients or a restart marker out of turn, up to where those bytes end
  // or to the frame's end and EOI.
  bool can_continue(std::uint64_t at, std::span<const std::uint8_t> tail,
                    std::span<const std::uint8_t> continuation) const;
  // Decodes on from the join point `at` over `joined`, which holds the same
  // bytes as the area decoded before `at`; Broken at `at` for any other
  // position. With a `unit`, the result keeps the join points past `at` in
  // turn, so that a file that breaks off again can be resumed there.
  std::expected<JpegScanResume, RecoveryError> resume(FileArea& joined, std::uint64_t at,
                                                      std::uint64_t unit = 0) const;
  // The same, with the first piece's `tail` (its bytes from tail_start(at) to
  // `at`) kept from before: only the bytes from `at` on are read from
  // `joined`, so that trying one candidate after another reads the candidates
  // alone. The decoding is the one the other form gives.
  std::expected<JpegScanResume, RecoveryError> resume(FileArea& joined, std::uint64_t at,
                                                      std::span<const std::uint8_t> tail,
                                                      std::uint64_t unit) const;

 private:
  struct Decoding;
  explicit JpegScanResume(std::unique_ptr<Decoding> decoding);
  template <typename Area>
  std::expected<JpegScanResume, RecoveryError> resume_over(Area& joined, std::uint64_t at,
                                                           std::uint64_t unit) const;
  std::unique_ptr<Decoding> decoding_;
};

}  // namespace kestrel

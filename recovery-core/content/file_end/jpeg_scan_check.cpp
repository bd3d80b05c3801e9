#include "recovery-core/content/file_end/jpeg_scan_check.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/file_end/jpeg_markers.hpp"
#include "recovery-core/content/file_end/text_unit.hpp"
#include "recovery-core/errors/error_propagation.hpp"

// Sequential Huffman JPEG (SOF0, SOF1): the frame names its components and
// their sampling factors, DHT segments give canonical Huffman tables by the
// count of codes of each length, DRI the restart interval, and the one scan
// (SOS) names the tables each component's blocks are coded with. A block is a
// DC difference (a category, then that many bits) and AC coefficients (a run
// of zeros and a category, then that many bits) up to the end-of-block code or
// the 64th coefficient.
namespace kestrel {

namespace {

constexpr int kMaxComponents = 4;
constexpr int kMaxMarkers = 4096;
// A frame of more blocks than this is not checked (no camera writes one).
constexpr std::uint64_t kMaxBlocks = std::uint64_t{1} << 32;

// Codes up to this many bits are looked up in one step.
constexpr int kLookupBits = 10;
// An AC table's codes are looked up this many bits at a time, giving the
// step of the first code and, when its bits leave room, of the one after it.
constexpr int kAcLookupBits = 11;
// The most extra bits a coefficient's code is followed by, and so the most
// bits one code and its extra bits take.
constexpr int kMaxExtraBits = 11;
constexpr int kMaxCodeBits = 16 + kMaxExtraBits;

struct HuffmanTable {
  bool present = false;
  // An AC table: the low four bits of a symbol count its extra bits (a DC
  // symbol is the count itself).
  bool ac = false;
  // For each kLookupBits-bit prefix: the bits its code and the extra bits
  // after it take (high byte; above kMaxCodeBits for a symbol no coefficient
  // has) and the symbol (low byte), or 0 when that code is longer.
  std::array<std::uint16_t, 1u << kLookupBits> lookup{};
  // An AC table's codes up to kAcLookupBits long as the steps a block's
  // decoding takes on them (see AcStep): the first code's step in the low
  // half (0 for a longer code), and in the high half the step of the code
  // after it when both codes and their extra bits lie within the bits looked
  // up and the first neither ends the block nor is invalid (else 0).
  std::array<std::uint32_t, 1u << kAcLookupBits> ac_steps{};
  std::array<std::int32_t, 17> max_code{};  // largest code of each length, -1 for none
  std::array<std::int32_t, 17> first_code{};
  std::array<std::uint16_t, 17> first_index{};
  std::array<std::uint8_t, 256> symbols{};
};

struct Component {
  std::uint8_t id = 0;
  int h = 1;
  int v = 1;
  int dc_table = 0;
  int ac_table = 0;
};

struct Frame {
  int width = 0;
  int height = 0;
  int count = 0;
  std::array<Component, kMaxComponents> components{};
  int max_h = 1;
  int max_v = 1;
};

struct Tables {
  std::array<HuffmanTable, 4> dc;
  std::array<HuffmanTable, 4> ac;
  std::uint32_t restart_interval = 0;
};

int extra_bits(const HuffmanTable& table, int symbol) {
  return table.ac ? (symbol & 0x0F) : symbol;
}

// One AC symbol as the decoding of a block uses it, packed in 16 bits: the
// bits its code and extra bits take, how far it moves the coefficient index
// before the bound is checked and after, and whether it ends the block or
// cannot stand in any block.
struct AcStep {
  static constexpr std::uint16_t kFound = 1u << 15;
  static constexpr std::uint16_t kEndOfBlock = 1u << 14;
  static constexpr std::uint16_t kInvalid = 1u << 13;
  static constexpr std::uint16_t kCoefficient = 1u << 12;

  static std::uint16_t of(int symbol, int taken) {
    const int run = symbol >> 4;
    const int size = symbol & 0x0F;
    if (size > 10) return kFound | kInvalid;
    if (size == 0 && run != 15) return static_cast<std::uint16_t>(kFound | kEndOfBlock | taken);
    // A zero run of 16 (ZRL) moves by 16 before the check; a coefficient by
    // its run, then by one for itself.
    const int before = size == 0 ? 16 : run;
    return static_cast<std::uint16_t>(kFound | (size != 0 ? kCoefficient : 0) | before << 5 |
                                      taken);
  }
  static int taken(std::uint16_t step) { return step & 0x1F; }
  static int before(std::uint16_t step) { return (step >> 5) & 0x1F; }
};

// Fills the one-step lookup of the codes up to kLookupBits long.
void fill_lookup(HuffmanTable& table) {
  for (int length = 1; length <= kLookupBits; ++length) {
    const auto l = static_cast<std::size_t>(length);
    for (std::int32_t code = table.first_code[l]; code <= table.max_code[l]; ++code) {
      const auto symbol = table.symbols[std::size_t{table.first_index[l]} +
                                        static_cast<std::size_t>(code - table.first_code[l])];
      const int extra = extra_bits(table, symbol);
      const int taken = extra > kMaxExtraBits ? 0xFF : length + extra;
      const auto entry = static_cast<std::uint16_t>(taken << 8 | symbol);
      const int shift = kLookupBits - length;
      for (std::int32_t low = 0; low < (1 << shift); ++low) {
        table.lookup[static_cast<std::size_t>((code << shift) | low)] = entry;
      }
    }
  }
}

// The step of the AC code at the top of the `width` bits `prefix`, when the
// code lies within them (its extra bits may run past them: the bits held
// when a step is taken are enough for any); 0 otherwise.
std::uint16_t ac_step_within(const HuffmanTable& table, std::uint32_t prefix, int width) {
  for (int length = 1; length <= width; ++length) {
    const auto l = static_cast<std::size_t>(length);
    const auto code = static_cast<std::int32_t>(prefix >> (width - length));
    if (code > table.max_code[l]) continue;
    const int symbol = table.symbols[std::size_t{table.first_index[l]} +
                                     static_cast<std::size_t>(code - table.first_code[l])];
    const int extra = extra_bits(table, symbol);
    if (extra > kMaxExtraBits) return AcStep::kFound | AcStep::kInvalid;
    return AcStep::of(symbol, length + extra);
  }
  return 0;
}

// Fills an AC table's lookup of one step, or two, per kAcLookupBits bits.
void fill_ac_steps(HuffmanTable& table) {
  constexpr std::uint32_t kAllBits = (1u << kAcLookupBits) - 1;
  for (std::uint32_t prefix = 0; prefix <= kAllBits; ++prefix) {
    const std::uint16_t first = ac_step_within(table, prefix, kAcLookupBits);
    std::uint16_t second = 0;
    const int rest = kAcLookupBits - AcStep::taken(first);
    if (first != 0 && (first & (AcStep::kEndOfBlock | AcStep::kInvalid)) == 0 && rest > 0) {
      // The second code starts where the first's extra bits end, within the
      // bits looked up.
      second = ac_step_within(table, prefix & (kAllBits >> AcStep::taken(first)), rest);
    }
    table.ac_steps[prefix] = std::uint32_t{second} << 16 | first;
  }
}

// Reads a DHT segment's tables (`body` is the segment after its length).
bool read_huffman_tables(std::span<const std::uint8_t> body, Tables& tables) {
  std::size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < 17) return false;
    const std::uint8_t klass = body[at] >> 4;
    const std::uint8_t index = body[at] & 0x0F;
    if (klass > 1 || index > 3) return false;
    HuffmanTable& table = klass == 0 ? tables.dc[index] : tables.ac[index];
    table = HuffmanTable{};
    table.ac = klass == 1;
    std::int32_t code = 0;
    std::uint16_t total = 0;
    for (int length = 1; length <= 16; ++length) {
      const std::uint8_t count = body[at + static_cast<std::size_t>(length)];
      table.first_index[static_cast<std::size_t>(length)] = total;
      table.first_code[static_cast<std::size_t>(length)] = code;
      code += count;
      total = static_cast<std::uint16_t>(total + count);
      table.max_code[static_cast<std::size_t>(length)] = count == 0 ? -1 : code - 1;
      if (code > (1 << length) || total > 256) return false;
      code <<= 1;
    }
    at += 17;
    if (body.size() - at < total) return false;
    for (std::uint16_t i = 0; i < total; ++i) table.symbols[i] = body[at + i];
    at += total;
    table.present = true;
    fill_lookup(table);
    if (table.ac) fill_ac_steps(table);
  }
  return true;
}

// Reads an SOF0/SOF1 segment's frame.
bool read_frame(std::span<const std::uint8_t> body, Frame& frame) {
  if (body.size() < 6 || body[0] != 8) return false;
  frame.height = load_be<std::uint16_t>(body, 1);
  frame.width = load_be<std::uint16_t>(body, 3);
  frame.count = body[5];
  if (frame.height == 0 || frame.width == 0 || frame.count < 1 || frame.count > kMaxComponents)
    return false;
  if (body.size() < 6 + 3 * static_cast<std::size_t>(frame.count)) return false;
  for (int i = 0; i < frame.count; ++i) {
    Component& c = frame.components[static_cast<std::size_t>(i)];
    const std::size_t at = 6 + 3 * static_cast<std::size_t>(i);
    c.id = body[at];
    c.h = body[at + 1] >> 4;
    c.v = body[at + 1] & 0x0F;
    if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4) return false;
    frame.max_h = std::max(frame.max_h, c.h);
    frame.max_v = std::max(frame.max_v, c.v);
  }
  return true;
}

// Reads an SOS segment: only a sequential scan of every component is followed.
bool read_scan(std::span<const std::uint8_t> body, Frame& frame, const Tables& tables) {
  if (body.empty() || body[0] != frame.count || body.size() < 1 + 2 * std::size_t{body[0]} + 3)
    return false;
  for (int i = 0; i < frame.count; ++i) {
    const std::size_t at = 1 + 2 * static_cast<std::size_t>(i);
    Component& c = frame.components[static_cast<std::size_t>(i)];
    if (body[at] != c.id) return false;
    c.dc_table = body[at + 1] >> 4;
    c.ac_table = body[at + 1] & 0x0F;
    if (c.dc_table > 3 || c.ac_table > 3) return false;
    if (!tables.dc[static_cast<std::size_t>(c.dc_table)].present) return false;
    if (!tables.ac[static_cast<std::size_t>(c.ac_table)].present) return false;
  }
  const std::size_t at = 1 + 2 * static_cast<std::size_t>(frame.count);
  return body[at] == 0 && body[at + 1] == 63 && body[at + 2] == 0;
}

// The bits of the entropy-coded data: stuffed bytes dropped, stopped at the
// first marker, after which it gives zero bits it counts as padding. `Area`
// gives the bytes: a FileArea, or the few bytes of a quick probe of a join.
template <typename Area>
class EntropyBits {
 public:
  EntropyBits(Area& area, std::uint64_t from) : area_(area), position_(from) {}
  // Goes on from a state saved at a clean point (no marker met, no padding):
  // the bits held came from bytes before `position`, read again from `area`.
  EntropyBits(Area& area, const JpegBitState& saved)
      : area_(area), position_(saved.position), bits_(saved.bits), count_(saved.count) {}

  // The state, when it can be resumed from: nothing pending but data bits.
  std::optional<JpegBitState> saved() const {
    if (marker_ || ended_ || padding_ != 0) return std::nullopt;
    return JpegBitState{position_, bits_, count_};
  }

  // Holds at least `wanted` bits (at most 57), padding included. A read that
  // fails ends the data there; the error is kept for error().
  void ensure(int wanted) {
    if (count_ < wanted && !fill_word()) fill(wanted);
  }
  [[gnu::noinline]] void fill(int wanted) {
    if (count_ < wanted && fill_word()) return;
    while (count_ < wanted) {
      // Plain data bytes straight from the chunk, as many as the buffer holds.
      while (count_ <= 56 && next_ < chunk_.size() && chunk_[next_] != 0xFF && !ended_) {
        bits_ = (bits_ << 8) | chunk_[next_++];
        ++position_;
        count_ += 8;
      }
      if (count_ >= wanted) break;
      std::optional<std::uint8_t> byte;
      if (auto next = next_data_byte()) {
        byte = *next;
      } else {
        error_ = std::move(next.error());
        ended_ = true;
        marker_ = 0;
      }
      bits_ = (bits_ << 8) | (byte ? *byte : 0u);
      count_ += 8;
      if (!byte) padding_ += 8;
    }
  }
  // Most of the data: the next eight bytes hold no 0xFF, so as many of them as
  // the buffer takes go in at once. False when they cannot (a 0xFF, the
  // chunk's end, the data's end).
  bool fill_word() {
    if (ended_ || chunk_.size() - next_ < 8) return false;
    std::uint64_t word = 0;
    std::memcpy(&word, chunk_.data() + next_, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = std::byteswap(word);
    // A byte of 0xFF is a zero byte of the complement.
    const std::uint64_t inverted = ~word;
    if (((inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u) != 0) return false;
    const int bytes = (63 - count_) / 8;
    if (bytes == 0) return false;
    bits_ = bits_ << (8 * bytes) | word >> (64 - 8 * bytes);
    next_ += static_cast<std::size_t>(bytes);
    position_ += static_cast<std::uint64_t>(bytes);
    count_ += 8 * bytes;
    return true;
  }

  // The bits held, for a loop that keeps them in registers: taken with
  // window(), given back with keep() before any other call.
  struct Window {
    std::uint64_t bits;
    int count;
    std::uint32_t peek(int n) const {
      return static_cast<std::uint32_t>(bits >> (count - n)) & ((1u << n) - 1);
    }
  };
  Window window() const { return {bits_, count_}; }
  void keep(const Window& window) { count_ = window.count; }

  // The read error that ended the data early, if one did.
  const std::optional<RecoveryError>& error() const { return error_; }
  int held() const { return count_; }
  std::uint32_t peek(int n) const {
    return static_cast<std::uint32_t>(bits_ >> (count_ - n)) & ((1u << n) - 1);
  }
  // Drops `n` held bits (at most those held).
  void skip(int n) { count_ -= n; }
  // False once the bits taken reach into the padding: the data ran out.
  bool within_data() const { return padding_ <= count_; }
  // Data bits still held that no code took.
  int unused_data_bits() const { return count_ - padding_; }
  // Reads on to the marker that ends the data; false when a whole byte of
  // data comes first (the blocks ended before the data did).
  bool reach_marker() {
    while (!marker_) {
      fill(count_ + 8);
      if (unused_data_bits() >= 8) return false;
    }
    return unused_data_bits() < 8;
  }
  // Drops what is held, as at a restart marker or the end of the data.
  void align() { count_ = padding_ = 0; }
  std::optional<std::uint8_t> marker() const { return marker_; }
  // Goes on after the marker met (a restart marker).
  void pass_marker() {
    marker_.reset();
    ended_ = false;
  }
  std::uint64_t position() const { return position_; }

 private:
  std::expected<std::optional<std::uint8_t>, RecoveryError> raw() {
    if (next_ == chunk_.size()) {
      KESTREL_TRY_ASSIGN(chunk, area_.bytes(position_, kChunkBytes));
      chunk_ = *chunk;
      next_ = 0;
      if (chunk_.empty()) return std::optional<std::uint8_t>{};
    }
    ++position_;
    return std::optional<std::uint8_t>{chunk_[next_++]};
  }

  // The next byte of data, or nothing once a marker (or the area's end) is met.
  std::expected<std::optional<std::uint8_t>, RecoveryError> next_data_byte();

  static constexpr std::size_t kChunkBytes = 64u << 10;

  Area& area_;
  std::uint64_t position_;
  std::span<const std::uint8_t> chunk_;  // the area's bytes from position_ - next_
  std::size_t next_ = 0;
  std::uint64_t bits_ = 0;
  int count_ = 0;
  int padding_ = 0;
  std::optional<std::uint8_t> marker_;
  bool ended_ = false;
  std::optional<RecoveryError> error_;
};

template <typename Area>
std::expected<std::optional<std::uint8_t>, RecoveryError> EntropyBits<Area>::next_data_byte() {
  if (ended_) return std::optional<std::uint8_t>{};
  KESTREL_TRY_ASSIGN(byte, raw());
  if (*byte && **byte != 0xFF) return byte;
  while (*byte && **byte == 0xFF) {  // 0xFF, then fill bytes
    byte = raw();
    if (!byte) return std::unexpected(byte.error());
  }
  if (*byte && **byte == 0x00) return std::optional<std::uint8_t>{0xFF};
  ended_ = true;
  marker_ = *byte ? **byte : 0;  // 0: the area ended
  return std::optional<std::uint8_t>{};
}

// The symbol of the next Huffman code, with the extra bits that follow it
// (`size_in_low_nibble`: an AC symbol, whose low four bits count them; a DC
// symbol is the count itself) taken too; -1 for a code the table does not have,
// more extra bits than a coefficient has, or data that ran out.
template <typename Area>
[[gnu::noinline]] int long_symbol(EntropyBits<Area>& bits, const HuffmanTable& table) {
  const std::uint32_t ahead = bits.peek(16);
  for (int l = kLookupBits + 1; l <= 16; ++l) {
    const auto code = static_cast<std::int32_t>(ahead >> (16 - l));
    const auto at = static_cast<std::size_t>(l);
    if (code > table.max_code[at]) continue;
    const int symbol = table.symbols[std::size_t{table.first_index[at]} +
                                     static_cast<std::size_t>(code - table.first_code[at])];
    const int extra = extra_bits(table, symbol);
    if (extra > kMaxExtraBits) return -1;
    bits.skip(l + extra);
    return symbol;
  }
  return -1;
}

// An AC symbol of a code longer than the lookup, as a step: kFound alone for
// a code the table lacks or data that ran out.
template <typename Area>
[[gnu::noinline]] std::uint16_t long_ac_step(EntropyBits<Area>& bits, const HuffmanTable& ac) {
  const int symbol = long_symbol(bits, ac);
  if (symbol < 0) return AcStep::kFound | AcStep::kInvalid;
  // The bits are taken already.
  return AcStep::of(symbol, 0);
}

// Takes one AC step of a block at coefficient index `k`: false when the
// step cannot stand there (invalid, or past the 64th coefficient). An end of
// block sets `k` to 64, which ends the block's loop.
inline bool take_ac_step(std::uint16_t step, int& k, int& count) {
  count -= AcStep::taken(step);
  if ((step & AcStep::kEndOfBlock) != 0) {
    k = 64;
    return true;
  }
  k += AcStep::before(step);
  if (k > 63 || (step & AcStep::kInvalid) != 0) return false;
  if ((step & AcStep::kCoefficient) != 0) ++k;
  return true;
}

// Decodes one block; false when it is not a valid one.
template <typename Area>
bool decode_block(EntropyBits<Area>& bits, const HuffmanTable& dc, const HuffmanTable& ac) {
  // Running into the padding is checked once, at the block's end: the data
  // bits left only shrink within a block. The bits stay in registers but
  // where they must be read on.
  auto window = bits.window();
  if (window.count < 32) {
    bits.keep(window);
    bits.ensure(32);
    window = bits.window();
  }
  // The DC difference's code and its extra bits.
  if (const std::uint16_t entry = dc.lookup[window.peek(kLookupBits)]; entry != 0) {
    window.count -= entry >> 8;
    if ((entry >> 8) > kMaxCodeBits) return false;
  } else {
    bits.keep(window);
    if (long_symbol(bits, dc) < 0) return false;
    window = bits.window();
  }
  for (int k = 1; k < 64;) {
    if (window.count < 32) {
      bits.keep(window);
      bits.ensure(32);
      window = bits.window();
    }
    const std::uint32_t steps = ac.ac_steps[window.peek(kAcLookupBits)];
    auto step = static_cast<std::uint16_t>(steps);
    if (step == 0) {
      bits.keep(window);
      step = long_ac_step(bits, ac);
      window = bits.window();
    }
    if (!take_ac_step(step, k, window.count)) {
      bits.keep(window);
      return false;
    }
    // The code after it, looked up with it: only while the block goes on,
    // and while the bits held need no reading on (so that where decoding
    // stops does not depend on the pairs).
    const auto second = static_cast<std::uint16_t>(steps >> 16);
    if (second == 0 || k > 63 || window.count < 32) continue;
    if (!take_ac_step(second, k, window.count)) {
      bits.keep(window);
      return false;
    }
  }
  bits.keep(window);
  return bits.within_data();
}

// The blocks of one MCU: each component's h × v blocks in an interleaved
// scan, one block in a scan of a single component.
struct McuLayout {
  std::uint64_t mcus = 0;
  std::array<int, std::size_t{4} * 4 * kMaxComponents> block_components{};
  int blocks = 0;
};

std::uint64_t ceil_div(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

McuLayout mcu_layout(const Frame& frame) {
  McuLayout layout;
  if (frame.count == 1) {
    layout.mcus = ceil_div(static_cast<std::uint64_t>(frame.width), 8) *
                  ceil_div(static_cast<std::uint64_t>(frame.height), 8);
    layout.blocks = 1;
    return layout;
  }
  layout.mcus = ceil_div(static_cast<std::uint64_t>(frame.width),
                         8u * static_cast<std::uint64_t>(frame.max_h)) *
                ceil_div(static_cast<std::uint64_t>(frame.height),
                         8u * static_cast<std::uint64_t>(frame.max_v));
  for (int c = 0; c < frame.count; ++c) {
    const Component& component = frame.components[static_cast<std::size_t>(c)];
    for (int b = 0; b < component.h * component.v; ++b) {
      layout.block_components[static_cast<std::size_t>(layout.blocks++)] = c;
    }
  }
  return layout;
}

// The restart marker due after `interval` MCUs: RST0 to RST7 in turn.
template <typename Area>
bool pass_restart(EntropyBits<Area>& bits, std::uint32_t& restarts) {
  if (!bits.reach_marker()) return false;
  if (bits.marker() != 0xD0 + (restarts++ & 7u)) return false;
  bits.align();
  bits.pass_marker();
  return true;
}

// How far the decoding of the MCUs got: the next MCU, and the restart markers
// passed.
struct ScanProgress {
  std::uint64_t mcu = 0;
  std::uint32_t restarts = 0;
};

// The decoder's state at the start of an MCU.
struct McuStart {
  ScanProgress progress;
  JpegBitState bits;
};

// Keeps, for the last few unit starts the decoding passed, the state at the
// last MCU that began with every byte it had read before that unit start.
class JoinPointRecorder {
 public:
  explicit JoinPointRecorder(std::uint64_t unit) : unit_(unit) {}

  template <typename Area>
  void at_mcu_start(const ScanProgress& progress, const EntropyBits<Area>& bits) {
    const std::optional<JpegBitState> saved = bits.saved();
    if (!saved) return;  // a marker is pending: no clean state here
    if (latest_ && saved->position / unit_ > latest_->bits.position / unit_) {
      points_[next_ % points_.size()] = {saved->position / unit_ * unit_, *latest_};
      ++next_;
    }
    latest_ = McuStart{progress, *saved};
  }

  // Where decoding stopped at `stopped_at`: the unit start after the last MCU
  // begun is a join point too when the data reached it (a first piece that
  // ends where the bytes the decoder was given end).
  void finish(std::uint64_t stopped_at) {
    if (!latest_) return;
    const std::uint64_t next = (latest_->bits.position / unit_ + 1) * unit_;
    if (next > stopped_at) return;
    points_[next_ % points_.size()] = {next, *latest_};
    ++next_;
  }

  // The latest `most` of the points kept, latest first.
  std::vector<std::pair<std::uint64_t, McuStart>> points(std::size_t most) const {
    std::vector<std::pair<std::uint64_t, McuStart>> kept;
    for (std::size_t i = 0; i < std::min({next_, points_.size(), most}); ++i) {
      kept.push_back(points_[(next_ - 1 - i) % points_.size()]);
    }
    return kept;
  }

 private:
  std::uint64_t unit_;
  std::optional<McuStart> latest_;
  std::array<std::pair<std::uint64_t, McuStart>, JpegScanResume::kJoinPointsWithRestarts> points_{};
  std::size_t next_ = 0;
};

// Where the data stopped decoding: Broken there, or the read error that ended
// it.
template <typename Area>
std::expected<JpegScanOutcome, RecoveryError> stopped(const EntropyBits<Area>& bits) {
  if (bits.error()) return std::unexpected(*bits.error());
  return JpegScanOutcome{JpegScanCheck::Broken, bits.position(), bits.marker() == 0xD9};
}

// Decodes the MCUs from `progress` on, then expects EOI; with a recorder, the
// join points on the way are kept.
template <typename Area>
std::expected<JpegScanOutcome, RecoveryError> decode_mcus(EntropyBits<Area>& bits,
                                                          ScanProgress progress, const Frame& frame,
                                                          const Tables& tables,
                                                          JoinPointRecorder* recorder) {
  const McuLayout layout = mcu_layout(frame);
  for (; progress.mcu < layout.mcus; ++progress.mcu) {
    if (recorder != nullptr) recorder->at_mcu_start(progress, bits);
    if (tables.restart_interval != 0 && progress.mcu != 0 &&
        progress.mcu % tables.restart_interval == 0) {
      if (!pass_restart(bits, progress.restarts)) return stopped(bits);
    }
    for (int b = 0; b < layout.blocks; ++b) {
      const Component& c = frame.components[static_cast<std::size_t>(
          layout.block_components[static_cast<std::size_t>(b)])];
      if (!decode_block(bits, tables.dc[static_cast<std::size_t>(c.dc_table)],
                        tables.ac[static_cast<std::size_t>(c.ac_table)])) {
        return stopped(bits);
      }
    }
  }
  const bool reached = bits.reach_marker();
  if (bits.error()) return std::unexpected(*bits.error());
  if (reached && bits.marker() == 0xD9)
    return JpegScanOutcome{JpegScanCheck::Whole, bits.position()};
  return JpegScanOutcome{JpegScanCheck::Broken, bits.position()};
}

bool too_many_blocks(const Frame& frame) {
  const McuLayout layout = mcu_layout(frame);
  return layout.mcus * static_cast<std::uint64_t>(layout.blocks) > kMaxBlocks;
}

bool is_sequential_huffman_frame(std::uint8_t marker) { return marker == 0xC0 || marker == 0xC1; }
bool is_other_frame(std::uint8_t marker) {
  return is_jpeg_frame_marker(marker) && !is_sequential_huffman_frame(marker);
}

// What one marker segment (`body`: after its length) adds; a result when it
// decides the check.
std::optional<JpegScanCheck> read_segment(std::uint8_t marker, std::span<const std::uint8_t> body,
                                          Frame& frame, bool& have_frame, Tables& tables) {
  if (marker == 0xC4 && !read_huffman_tables(body, tables)) return JpegScanCheck::Broken;
  if (is_other_frame(marker)) return JpegScanCheck::Undecodable;
  if (is_sequential_huffman_frame(marker)) {
    if (!read_frame(body, frame)) return JpegScanCheck::Undecodable;
    have_frame = true;
  }
  if (marker == 0xDD) {
    if (body.size() < 2) return JpegScanCheck::Broken;
    tables.restart_interval = load_be<std::uint16_t>(body, 0);
  }
  return std::nullopt;
}

}  // namespace

namespace {

// The headers up to the first scan: where its entropy-coded data starts, or
// the outcome when the headers already decide it.
struct Headers {
  Tables tables;
  Frame frame;
  std::optional<JpegScanOutcome> decided;
  std::uint64_t data_start = 0;
};

std::expected<void, RecoveryError> decide(Headers& headers, JpegScanOutcome outcome) {
  headers.decided = outcome;
  return {};
}

std::expected<void, RecoveryError> read_headers(FileArea& area, Headers& headers) {
  bool have_frame = false;
  std::uint64_t position = 2;
  for (int markers = 0; markers < kMaxMarkers; ++markers) {
    const JpegScanOutcome broken{JpegScanCheck::Broken, position};
    KESTREL_TRY_ASSIGN(step, read_jpeg_chain_step(area, position));
    if (!step->marker) return decide(headers, broken);
    if (step->fill() || (markers != 0 && jpeg_marker_stands_alone(step->code))) {
      position = step->after_alone(position);
      continue;
    }
    const std::uint8_t marker = step->code;
    const std::uint16_t length = step->length;
    if (!step->has_length() || marker == 0xD9 || length < 2) return decide(headers, broken);
    KESTREL_TRY_ASSIGN(body, area.bytes(position + 4, length - 2u));
    if (body->size() < length - 2u) return decide(headers, broken);
    if (marker == 0xDA) {
      if (!have_frame || !read_scan(*body, headers.frame, headers.tables)) {
        headers.decided = JpegScanOutcome{JpegScanCheck::Undecodable, position};
      }
      headers.data_start = position + 2 + length;
      return {};
    }
    if (const auto decided =
            read_segment(marker, *body, headers.frame, have_frame, headers.tables)) {
      return decide(headers, JpegScanOutcome{*decided, position});
    }
    position = step->after_segment(position);
  }
  return decide(headers, JpegScanOutcome{JpegScanCheck::Broken, position});
}

}  // namespace

std::expected<JpegScanOutcome, RecoveryError> decode_jpeg_scan(FileArea& area) {
  Headers headers;
  KESTREL_TRY(read_headers(area, headers));
  if (headers.decided) return *headers.decided;
  if (too_many_blocks(headers.frame))
    return JpegScanOutcome{JpegScanCheck::Undecodable, headers.data_start};
  EntropyBits<FileArea> bits(area, headers.data_start);
  return decode_mcus(bits, {}, headers.frame, headers.tables, nullptr);
}

namespace {

// The bytes of a quick probe: the first piece's last bytes before a join
// point, then the first bytes of a candidate second piece, as one run from
// `base` (a position from the file's first byte).
class ProbeBytes {
 public:
  ProbeBytes(std::uint64_t base, std::span<const std::uint8_t> tail,
             std::span<const std::uint8_t> continuation)
      : base_(base) {
    joined_.reserve(tail.size() + continuation.size());
    joined_.insert(joined_.end(), tail.begin(), tail.end());
    joined_.insert(joined_.end(), continuation.begin(), continuation.end());
  }

  std::expected<std::span<const std::uint8_t>, RecoveryError> bytes(std::uint64_t position,
                                                                    std::size_t length) const {
    if (position < base_ || position - base_ >= joined_.size()) {
      return std::span<const std::uint8_t>{};
    }
    const auto at = static_cast<std::size_t>(position - base_);
    return std::span<const std::uint8_t>(joined_).subspan(at,
                                                          std::min(length, joined_.size() - at));
  }
  std::uint64_t end() const { return base_ + joined_.size(); }

 private:
  std::uint64_t base_;
  std::vector<std::uint8_t> joined_;
};

std::size_t join_points_kept(const Tables& tables) {
  return tables.restart_interval != 0 ? JpegScanResume::kJoinPointsWithRestarts
                                      : JpegScanResume::kJoinPoints;
}

}  // namespace

struct JpegScanResume::Decoding {
  Headers headers;
  JpegScanOutcome outcome;
  std::vector<std::pair<std::uint64_t, McuStart>> points;
};

JpegScanResume::JpegScanResume(std::unique_ptr<Decoding> decoding)
    : decoding_(std::move(decoding)) {}
JpegScanResume::JpegScanResume(JpegScanResume&&) noexcept = default;
JpegScanResume& JpegScanResume::operator=(JpegScanResume&&) noexcept = default;
JpegScanResume::~JpegScanResume() = default;

std::expected<JpegScanResume, RecoveryError> JpegScanResume::decode(FileArea& area,
                                                                    std::uint64_t unit) {
  auto decoding = std::make_unique<Decoding>();
  KESTREL_TRY(read_headers(area, decoding->headers));
  const Headers& headers = decoding->headers;
  if (headers.decided) {
    decoding->outcome = *headers.decided;
  } else if (too_many_blocks(headers.frame) || unit == 0) {
    decoding->outcome = JpegScanOutcome{JpegScanCheck::Undecodable, headers.data_start};
  } else {
    EntropyBits<FileArea> bits(area, headers.data_start);
    JoinPointRecorder recorder(unit);
    KESTREL_TRY_ASSIGN(outcome, decode_mcus(bits, {}, headers.frame, headers.tables, &recorder));
    decoding->outcome = *outcome;
    recorder.finish(outcome->stopped_at);
    decoding->points = recorder.points(join_points_kept(headers.tables));
  }
  return JpegScanResume(std::move(decoding));
}

const JpegScanOutcome& JpegScanResume::outcome() const { return decoding_->outcome; }

bool JpegScanResume::has_restarts() const {
  return decoding_->headers.tables.restart_interval != 0;
}

std::vector<std::uint64_t> JpegScanResume::join_points() const {
  std::vector<std::uint64_t> at;
  if (decoding_->outcome.check != JpegScanCheck::Broken) return at;
  for (const auto& point : decoding_->points) {
    if (point.first <= decoding_->outcome.stopped_at) at.push_back(point.first);
  }
  return at;
}

std::optional<std::uint64_t> JpegScanResume::tail_start(std::uint64_t at) const {
  for (const auto& [point, start] : decoding_->points) {
    if (point == at) return start.bits.position;
  }
  return std::nullopt;
}

bool JpegScanResume::can_continue(std::uint64_t at, std::span<const std::uint8_t> tail,
                                  std::span<const std::uint8_t> continuation) const {
  for (const auto& [point, start] : decoding_->points) {
    if (point != at || tail.size() != at - start.bits.position) continue;
    ProbeBytes probe(start.bits.position, tail, continuation);
    EntropyBits<ProbeBytes> bits(probe, start.bits);
    const auto outcome = decode_mcus(bits, start.progress, decoding_->headers.frame,
                                     decoding_->headers.tables, nullptr);
    // Whole, or still decoding where the probe's bytes ran out.
    return outcome &&
           (outcome->check == JpegScanCheck::Whole || outcome->stopped_at >= probe.end());
  }
  return false;
}

namespace {

// What a resumed decode reads when the first piece's last bytes were kept:
// those bytes (from `tail_start`), then the joined area from where they end.
// Every view comes out as the area's own would, one across the end of the
// kept bytes put together in a buffer, so the decoding reads the same.
class KeptTailThenArea {
 public:
  KeptTailThenArea(std::uint64_t tail_start, std::span<const std::uint8_t> tail, FileArea& rest)
      : tail_start_(tail_start), tail_(tail), rest_(rest) {}

  std::expected<std::span<const std::uint8_t>, RecoveryError> bytes(std::uint64_t position,
                                                                    std::size_t length) {
    if (position < tail_start_ || position - tail_start_ >= tail_.size())
      return rest_.bytes(position, length);
    const auto at = static_cast<std::size_t>(position - tail_start_);
    const std::size_t kept = tail_.size() - at;
    if (length <= kept) return tail_.subspan(at, length);
    KESTREL_TRY_ASSIGN(after, rest_.bytes(tail_start_ + tail_.size(), length - kept));
    joined_.assign(tail_.begin() + static_cast<std::ptrdiff_t>(at), tail_.end());
    joined_.insert(joined_.end(), after->begin(), after->end());
    return std::span<const std::uint8_t>(joined_);
  }

 private:
  std::uint64_t tail_start_;
  std::span<const std::uint8_t> tail_;
  FileArea& rest_;
  std::vector<std::uint8_t> joined_;
};

}  // namespace

std::expected<JpegScanResume, RecoveryError> JpegScanResume::resume(FileArea& joined,
                                                                    std::uint64_t at,
                                                                    std::uint64_t unit) const {
  return resume_over(joined, at, unit);
}

std::expected<JpegScanResume, RecoveryError> JpegScanResume::resume(
    FileArea& joined, std::uint64_t at, std::span<const std::uint8_t> tail,
    std::uint64_t unit) const {
  const std::optional<std::uint64_t> from = tail_start(at);
  if (!from || tail.size() != at - *from) return resume_over(joined, at, unit);
  KeptTailThenArea kept(*from, tail, joined);
  return resume_over(kept, at, unit);
}

template <typename Area>
std::expected<JpegScanResume, RecoveryError> JpegScanResume::resume_over(Area& joined,
                                                                         std::uint64_t at,
                                                                         std::uint64_t unit) const {
  auto decoding = std::make_unique<Decoding>();
  decoding->headers = decoding_->headers;
  decoding->outcome = JpegScanOutcome{JpegScanCheck::Broken, at};
  for (const auto& [point, start] : decoding_->points) {
    if (point != at) continue;
    EntropyBits<Area> bits(joined, start.bits);
    JoinPointRecorder recorder(unit);
    KESTREL_TRY_ASSIGN(outcome,
                       decode_mcus(bits, start.progress, decoding->headers.frame,
                                   decoding->headers.tables, unit == 0 ? nullptr : &recorder));
    decoding->outcome = *outcome;
    if (unit != 0) {
      recorder.finish(outcome->stopped_at);
      // Only the places past the join this decode went on from.
      for (const auto& kept : recorder.points(join_points_kept(decoding->headers.tables))) {
        if (kept.first > at) decoding->points.push_back(kept);
      }
    }
    break;
  }
  return JpegScanResume(std::move(decoding));
}

bool can_be_jpeg_entropy_data(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kLongestZeroRun = 64;
  if (holds_only_text(bytes.first(std::min<std::size_t>(bytes.size(), 512)))) return false;
  std::size_t zeros = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t byte = bytes[i];
    zeros = byte == 0 ? zeros + 1 : 0;
    if (zeros >= kLongestZeroRun) return false;
    if (byte != 0xFF || i + 1 == bytes.size()) continue;
    const std::uint8_t next = bytes[i + 1];
    if (next == 0xD9) return true;  // the data ends: what follows is not the file's
    if (next != 0x00 && (next < 0xD0 || next > 0xD7)) return false;
  }
  return true;
}

std::expected<JpegScanCheck, RecoveryError> check_jpeg_scan(FileArea& area) {
  KESTREL_TRY_ASSIGN(outcome, decode_jpeg_scan(area));
  return outcome->check;
}

}  // namespace kestrel

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrel {

// Gathers a directory's entries, handed over one at a time in directory order,
// into entry sets: a File entry and the secondaries it counts, which may
// straddle clusters. Other entries outside a set are passed over; a
// type of zero ends the directory. Holds at most one set (8 KiB).
class ExfatEntrySetAssembler {
 public:
  enum class Outcome { Pending, SetReady, EndOfDirectory };

  // `offset` is the entry's byte offset in the directory's data; `recovered`
  // says it was read from a cluster taken back from free space.
  Outcome add(std::span<const std::uint8_t> entry, std::uint64_t offset, bool recovered);

  // The set completed by the add() that returned SetReady, until the next add().
  std::span<const std::uint8_t> set() const { return bytes_; }
  // Where the set's File entry lies in the directory's data.
  std::uint64_t set_offset() const { return offset_; }
  // Whether any entry of the set came from a recovered cluster.
  bool set_recovered() const { return recovered_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t wanted_ = 0;  // entries of the set being gathered; 0 when none
  bool ready_ = false;
  std::uint64_t offset_ = 0;
  bool recovered_ = false;
};

}  // namespace kestrel

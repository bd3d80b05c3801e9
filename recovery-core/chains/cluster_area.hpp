#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

namespace kestrel {

// How wide an entry of a cluster table is: 12 bits (two entries packed in three
// bytes), 16 or 32.
enum class EntryWidth : std::uint8_t { Bits12, Bits16, Bits32 };

// How a table's entries link one cluster to the next.
enum class LinkRule : std::uint8_t {
  // The low 28 bits are the link, the top four reserved; a successor outside the
  // area ends the chain. 12- and 16-bit entries are read in these terms.
  Bounded28,
  // All 32 bits are the link, and successors are not held to the area: one past
  // it joins the chain, and mapping the chain to offsets refuses it.
  Unbounded32,
};

// The clusters of a volume whose files lie in numbered clusters linked through
// an allocation table, in absolute byte offsets of the source. Each file system
// of this kind describes itself in these terms; the chain rules, free-space
// search and extraction need nothing else.
struct ClusterArea {
  std::uint64_t table_offset = 0;  // the first allocation table
  std::uint64_t data_offset = 0;   // cluster 2
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t cluster_count = 0;  // valid clusters: 2 .. cluster_count + 1
  EntryWidth width = EntryWidth::Bits32;
  LinkRule links = LinkRule::Bounded28;
  // The invalid-structure text for a cluster number outside the area; the file
  // system's own constant, so it outlives the area.
  std::string_view outside_text;

  friend bool operator==(const ClusterArea&, const ClusterArea&) = default;
};

// An area without a file system: no clusters, no table. Files carved from it
// are read as the runs their candidates name.
struct AreaWithoutClusters {
  friend bool operator==(const AreaWithoutClusters&, const AreaWithoutClusters&) = default;
};

// One piece of a file whose metadata records where each piece lies: `length`
// bytes from the absolute `offset` of the source, or a hole that reads as
// zeros (no clusters were ever given to it).
struct RecordedRun {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool hole = false;

  friend bool operator==(const RecordedRun&, const RecordedRun&) = default;
};

// A file whose metadata still lists its pieces, in the file's order. Bytes at
// and past `initialized_length` were never written and read as zeros. With a
// `compression_unit` (bytes, a whole number of clusters) the file is stored in
// units of that size: a unit whose pieces are all holes is zeros, a unit with
// no hole is stored as it is, and one that ends in holes holds its bytes
// compressed (LZNT1) in the pieces before them. Reads stop at `area_end`, the
// end of the volume.
struct RecordedRuns {
  std::vector<RecordedRun> runs;
  std::uint64_t initialized_length = 0;
  std::uint64_t compression_unit = 0;
  std::uint64_t area_end = 0;

  friend bool operator==(const RecordedRuns&, const RecordedRuns&) = default;
};

// A file small enough for its metadata to hold its bytes itself.
struct HeldBytes {
  std::vector<std::uint8_t> bytes;

  friend bool operator==(const HeldBytes&, const HeldBytes&) = default;
};

// Where a candidate's bytes are found again when it is extracted.
using DataLayout = std::variant<ClusterArea, AreaWithoutClusters, RecordedRuns, HeldBytes>;

}  // namespace kestrel

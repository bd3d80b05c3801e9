#pragma once

#include <cstdint>

#include "recovery-core/chains/cluster_area.hpp"
#include "recovery-core/chains/table_entry_reader.hpp"
#include "recovery-core/chains/untangle_plan.hpp"
#include "recovery-core/source/byte_source.hpp"

namespace kestrel {

// The clusters a FAT volume's files hold: those whose entry in the first FAT
// is not 0 (deleting a file clears its entries). Entries are read through a
// block cache; one that cannot be read counts as held.
class FatTableUse final : public ClusterUse {
 public:
  FatTableUse(ByteSource& source, const ClusterArea& area) : source_(source), area_(area) {}

  bool held(std::uint32_t cluster) override;

 private:
  ByteSource& source_;
  ClusterArea area_;
  TableBlockCache cache_;
};

}  // namespace kestrel

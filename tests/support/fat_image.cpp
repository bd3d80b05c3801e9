#include "tests/support/fat_image.hpp"

#include <numeric>

namespace kestrel::testing {

void set_fat_entry(std::vector<std::uint8_t>& image, std::uint64_t fat_offset,
                   std::uint32_t cluster, std::uint32_t value) {
  const std::uint64_t at = fat_offset + std::uint64_t{4} * cluster;
  if (image.size() < at + 4) image.resize(at + 4, 0);
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void link_chain(std::vector<std::uint8_t>& image, std::uint64_t fat_offset,
                const std::vector<std::uint32_t>& clusters, std::uint32_t end) {
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    set_fat_entry(image, fat_offset, clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : end);
  }
}

std::vector<std::uint32_t> cluster_run(std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint32_t> run(count);
  std::iota(run.begin(), run.end(), first);
  return run;
}

}  // namespace kestrel::testing

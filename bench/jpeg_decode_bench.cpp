// Times the check that decodes a JPEG's entropy-coded data (Huffman codes only,
// no pixels), the step that confirms a photo joined from pieces:
//
//   kestrel_jpeg_decode_bench ROUNDS FILE.jpg...
//
// Each file is read from the page cache, as the carving pass reads it. Output:
// one "RESULT <files> <MiB> <seconds> <MiB/s> <whole>" line for all rounds.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "recovery-core/content/file_end/area_reader.hpp"
#include "recovery-core/content/file_end/file_area.hpp"
#include "recovery-core/content/file_end/jpeg_scan_check.hpp"
#include "recovery-core/source/image_file_source.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: kestrel_jpeg_decode_bench ROUNDS FILE.jpg...\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  std::uint64_t bytes = 0;
  int whole = 0;
  double seconds = 0;
  for (int i = 2; i < argc; ++i) {
    auto source = kestrel::open_image_source(argv[i], 512);
    if (!source) {
      std::fprintf(stderr, "cannot open %s\n", argv[i]);
      return 2;
    }
    const std::uint64_t size = std::filesystem::file_size(argv[i]);
    kestrel::AreaReader reader(*source);
    for (int round = 0; round < rounds; ++round) {
      kestrel::FileArea area(reader, 0, size);
      const auto began = std::chrono::steady_clock::now();
      const auto check = kestrel::check_jpeg_scan(area);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
      bytes += size;
      if (check && *check == kestrel::JpegScanCheck::Whole) ++whole;
    }
  }
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  std::printf("RESULT %d %.1f %.4f %.1f %d\n", argc - 2, mib, seconds, mib / seconds, whole);
  return 0;
}

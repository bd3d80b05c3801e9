#include "tests/support/fixtures.hpp"

#include <zlib.h>

#include <array>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

namespace kestrel::testing {

namespace {

struct GzCloser {
  void operator()(gzFile file) const { gzclose(file); }
};
using GzHandle = std::unique_ptr<gzFile_s, GzCloser>;

// Streams the decompressed bytes of a fixture to `sink` in pieces.
template <typename Sink>
void decompress(std::string_view relative, Sink sink) {
  const std::filesystem::path path = fixture_path(relative);
  GzHandle file(gzopen(path.string().c_str(), "rb"));
  if (!file) throw std::runtime_error("cannot open fixture " + path.string());
  std::array<std::uint8_t, 64 * 1024> piece{};
  for (;;) {
    const int count = gzread(file.get(), piece.data(), static_cast<unsigned>(piece.size()));
    if (count < 0) {
      int code = 0;
      const char* text = gzerror(file.get(), &code);
      throw std::runtime_error("cannot decompress fixture " + path.string() + ": " + text);
    }
    if (count == 0) break;
    sink(piece.data(), static_cast<std::size_t>(count));
  }
}

}  // namespace

std::filesystem::path fixture_path(std::string_view relative) {
  return std::filesystem::path(KESTREL_FIXTURE_DIR) / (std::string(relative) + ".gz");
}

std::vector<std::uint8_t> load_fixture(std::string_view relative) {
  std::vector<std::uint8_t> bytes;
  decompress(relative, [&bytes](const std::uint8_t* data, std::size_t count) {
    bytes.insert(bytes.end(), data, data + count);
  });
  return bytes;
}

std::filesystem::path unpack_fixture(std::string_view relative,
                                     const std::filesystem::path& destination) {
  std::ofstream out(destination, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + destination.string());
  decompress(relative, [&out](const std::uint8_t* data, std::size_t count) {
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(count));
  });
  out.close();
  if (!out) throw std::runtime_error("cannot write " + destination.string());
  return destination;
}

}  // namespace kestrel::testing

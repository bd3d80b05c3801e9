// The entry of a harness built without libFuzzer: it feeds every file named
// on the command line, or found in a directory named there, to the harness
// once, in name order, and fails when it finds no input at all. A fault shows
// the way it does in any program (a sanitizer report, an abort).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> inputs_named(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path named(argv[i]);
    std::error_code error;
    if (!std::filesystem::is_directory(named, error)) {
      inputs.push_back(named);
      continue;
    }
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(named, error)) {
      if (entry.is_regular_file(error)) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::filesystem::path> inputs = inputs_named(argc, argv);
  for (const auto& path : inputs) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return inputs.empty() ? 1 : 0;
}

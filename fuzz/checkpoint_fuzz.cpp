// A checkpoint file's text, parsed and then validated against the device it
// names itself, so that validation gets past the identity checks. It is
// validated as it came and once more with its digest made right, so that
// mutated fields reach the range checks too. A checkpoint that passes must
// come back unchanged from the file form it is saved in.
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_check.hpp"
#include "recovery-core/image/checkpoint.hpp"
#include "recovery-core/image/checkpoint_parser.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace {

kestrel::DeviceInfo device_named_by(const kestrel::ImageCheckpoint& checkpoint) {
  kestrel::DeviceInfo device;
  device.stable_id = checkpoint.source_stable_id;
  device.capacity_bytes = checkpoint.source_capacity;
  // A device always has a sector size; the guards refuse one without.
  device.logical_sector_size =
      checkpoint.logical_sector_size == 0 ? 512 : checkpoint.logical_sector_size;
  return device;
}

void check_validation(const kestrel::ImageCheckpoint& checkpoint,
                      const kestrel::DeviceInfo& device) {
  using namespace kestrel;
  if (!validate_checkpoint(checkpoint, device, checkpoint.bytes_written)) return;
  const auto saved = render_json(to_json(checkpoint));
  fuzzing::require(saved.has_value(), "a valid checkpoint renders");
  const auto reloaded = parse_checkpoint(*saved);
  fuzzing::require(reloaded.has_value() && *reloaded == checkpoint,
                   "a valid checkpoint survives saving");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto checkpoint = parse_checkpoint(text);
  if (!checkpoint) {
    fuzzing::require(!checkpoint.error().message().empty(), "a refusal says why");
    return 0;
  }
  const DeviceInfo device = device_named_by(*checkpoint);
  check_validation(*checkpoint, device);
  ImageCheckpoint digest_made_right = *checkpoint;
  auto digest = checkpoint_digest(digest_made_right);
  fuzzing::require(digest.has_value(), "every parsed checkpoint has a digest");
  digest_made_right.checkpoint_sha256 = std::move(*digest);
  check_validation(digest_made_right, device);
  return 0;
}

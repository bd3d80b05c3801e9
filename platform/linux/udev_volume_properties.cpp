#include "platform/linux/udev_volume_properties.hpp"

#include <fstream>

namespace kestrel {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string decode_udev_escapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      const int high = hex_value(text[i + 2]);
      const int low = hex_value(text[i + 3]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::optional<VolumeProperties> read_udev_volume_properties(const LinuxSystemPaths& paths,
                                                            BlockDeviceNumber device) {
  std::ifstream entry(paths.udev_data /
                      ("b" + std::to_string(device.major) + ":" + std::to_string(device.minor)));
  if (!entry) return std::nullopt;
  VolumeProperties properties;
  std::optional<std::string> plain_label;
  std::string line;
  while (std::getline(entry, line)) {
    if (line.starts_with("E:ID_FS_LABEL_ENC=")) {
      properties.label = decode_udev_escapes(std::string_view(line).substr(18));
    } else if (line.starts_with("E:ID_FS_LABEL=")) {
      plain_label = line.substr(14);
    } else if (line.starts_with("E:ID_FS_TYPE=")) {
      properties.file_system = line.substr(13);
    }
  }
  if (!properties.label) properties.label = plain_label;
  return properties;
}

}  // namespace kestrel

#include "tests/support/simulated-platform/simulated_platform_file.hpp"

#include <fstream>
#include <sstream>

#include "recovery-core/json/json_layout.hpp"
#include "recovery-core/text/utf16.hpp"

namespace kestrel::testing {

namespace {

// A problem in the file, reported with where it was found.
struct FileProblem {
  std::string text;
};

const JsonValue& member(const JsonValue& object, const char* key, const std::string& where) {
  if (!object.is_object() || !object.contains(key)) throw FileProblem{where + ": missing \"" + key + "\""};
  return object.at(key);
}

template <typename T>
T number_or(const JsonValue& object, const char* key, T fallback, const std::string& where) {
  if (!object.contains(key)) return fallback;
  const JsonValue& value = object.at(key);
  if (!value.is_number_integer()) throw FileProblem{where + ": \"" + key + "\" must be an integer"};
  return value.get<T>();
}

std::optional<std::string> text_or_null(const JsonValue& object, const char* key,
                                        const std::string& where) {
  if (!object.contains(key) || object.at(key).is_null()) return std::nullopt;
  if (!object.at(key).is_string()) throw FileProblem{where + ": \"" + key + "\" must be text"};
  return object.at(key).get<std::string>();
}

std::optional<PlatformError> error_or_none(const JsonValue& object, const char* key,
                                           const std::string& where) {
  if (!object.contains(key)) return std::nullopt;
  return PlatformError{number_or<std::uint32_t>(object, key, 0, where)};
}

std::shared_ptr<const std::vector<std::uint8_t>> read_content(const std::filesystem::path& path,
                                                              const std::string& where) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) throw FileProblem{where + ": cannot read content file " + path.string()};
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(stream)),
                                  std::istreambuf_iterator<char>());
  return std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
}

RecordedControl control_named(const std::string& name, const std::string& where) {
  if (name == "length") return RecordedControl::Length;
  if (name == "geometry") return RecordedControl::Geometry;
  if (name == "alignment") return RecordedControl::Alignment;
  if (name == "descriptor-header") return RecordedControl::DescriptorHeader;
  if (name == "descriptor") return RecordedControl::Descriptor;
  if (name == "device-number") return RecordedControl::DeviceNumber;
  throw FileProblem{where + ": unknown control \"" + name + "\""};
}

RecordedDisk read_disk(const JsonValue& object, const std::filesystem::path& base,
                       const std::string& where) {
  RecordedDisk disk;
  disk.drive_number = member(object, "number", where).get<std::uint32_t>();
  disk.length = member(object, "length", where).get<std::int64_t>();
  disk.logical_sector_size = number_or<std::uint32_t>(object, "logical_sector_size", 512, where);
  disk.physical_sector_size = number_or<std::uint32_t>(object, "physical_sector_size", 512, where);
  disk.facts.bus_type_code = number_or<std::uint32_t>(object, "bus_type_code", 7, where);
  disk.facts.vendor = text_or_null(object, "vendor", where);
  disk.facts.product = text_or_null(object, "product", where);
  disk.facts.serial = text_or_null(object, "serial", where);
  disk.facts.removable = object.value("removable", true);
  disk.open_error = error_or_none(object, "open_error", where);
  if (object.contains("answers")) {
    std::size_t index = 0;
    for (const auto& entry : object.at("answers")) {
      const std::string at = where + ".answers[" + std::to_string(index++) + "]";
      RecordedAnswer answer;
      answer.error = error_or_none(entry, "error", at);
      if (entry.contains("bytes")) answer.bytes = entry.at("bytes").get<std::vector<std::uint8_t>>();
      if (entry.contains("returned")) answer.returned = entry.at("returned").get<std::uint32_t>();
      disk.answers[control_named(member(entry, "control", at).get<std::string>(), at)] =
          std::move(answer);
    }
  }
  if (auto content = text_or_null(object, "content", where)) {
    const std::filesystem::path path(*content);
    disk.content = read_content(path.is_absolute() ? path : base / path, where);
  }
  return disk;
}

void read_fault(const JsonValue& object, const std::filesystem::path& base,
                RecordedDevicePlatform& platform, const std::string& where) {
  const std::string type = member(object, "type", where).get<std::string>();
  const auto disk = member(object, "disk", where).get<std::uint32_t>();
  if (type == "bad-sectors") {
    platform.read_faults.push_back(
        kestrel::testing::read_fault(disk, member(object, "offset", where).get<std::uint64_t>(),
                                     number_or<std::uint64_t>(object, "length", 512, where),
                                     PlatformError{number_or<std::uint32_t>(object, "error", 23, where)},
                                     number_or<std::uint32_t>(object, "times", 0xFFFFFFFF, where)));
  } else if (type == "short-read") {
    platform.read_faults.push_back(short_read_fault(
        disk, member(object, "offset", where).get<std::uint64_t>(),
        number_or<std::uint64_t>(object, "length", 512, where),
        member(object, "delivered", where).get<std::uint32_t>()));
  } else if (type == "disconnect") {
    platform.events.push_back(
        disconnect_after(disk, member(object, "after_reads", where).get<std::uint64_t>()));
  } else if (type == "identity-change") {
    RecordedDisk becomes = read_disk(member(object, "disk_becomes", where), base,
                                     where + ".disk_becomes");
    becomes.drive_number = disk;
    if (!becomes.content) {
      if (const RecordedDisk* current = platform.disk(disk)) becomes.content = current->content;
    }
    platform.events.push_back(
        replace_after(disk, member(object, "after_reads", where).get<std::uint64_t>(), becomes));
  } else {
    throw FileProblem{where + ": unknown fault type \"" + type + "\""};
  }
}

}  // namespace

std::expected<std::unique_ptr<RecordedDevicePlatform>, std::string> load_simulated_platform(
    const std::filesystem::path& file) {
  std::ifstream stream(file);
  if (!stream) return std::unexpected("cannot read " + file.string());
  std::stringstream text;
  text << stream.rdbuf();
  try {
    const JsonValue document = JsonValue::parse(text.str());
    const std::filesystem::path base = file.parent_path();
    auto platform = std::make_unique<RecordedDevicePlatform>();
    if (auto directory = text_or_null(document, "system_directory", "file")) {
      platform->system_directory_text = encode_utf16(*directory);
    }
    if (document.contains("drives_holding")) {
      for (const auto& [path, drives] : document.at("drives_holding").items()) {
        platform->drives_holding[path] = drives.get<std::vector<std::uint32_t>>();
      }
    }
    platform->free_space =
        number_or<std::uint64_t>(document, "free_space", platform->free_space, "file");
    platform->free_space_error = error_or_none(document, "free_space_error", "file");
    platform->logical_drives_error = error_or_none(document, "logical_drives_error", "file");
    if (document.contains("disks")) {
      std::size_t index = 0;
      for (const auto& disk : document.at("disks")) {
        platform->disks.push_back(read_disk(disk, base, "disks[" + std::to_string(index++) + "]"));
      }
    }
    if (document.contains("volumes")) {
      std::size_t index = 0;
      for (const auto& object : document.at("volumes")) {
        const std::string where = "volumes[" + std::to_string(index++) + "]";
        const std::string letter = member(object, "letter", where).get<std::string>();
        if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z') {
          throw FileProblem{where + ": \"letter\" must be one of A to Z"};
        }
        RecordedVolume volume = volume_on(letter[0], member(object, "disk", where).get<std::uint32_t>(),
                                          text_or_null(object, "label", where),
                                          text_or_null(object, "file_system", where));
        volume.start = number_or<std::uint64_t>(object, "start", 0, where);
        if (object.contains("length")) volume.length = object.at("length").get<std::int64_t>();
        volume.information_fails = object.value("information_fails", false);
        volume.open_error = error_or_none(object, "open_error", where);
        platform->volumes.push_back(std::move(volume));
      }
    }
    if (document.contains("faults")) {
      std::size_t index = 0;
      for (const auto& fault : document.at("faults")) {
        read_fault(fault, base, *platform, "faults[" + std::to_string(index++) + "]");
      }
    }
    return platform;
  } catch (const FileProblem& problem) {
    return std::unexpected(problem.text);
  } catch (const JsonValue::exception& problem) {
    return std::unexpected(std::string(problem.what()));
  }
}

}  // namespace kestrel::testing

#include "tests/support/simulated-platform/simulated_platform_file.hpp"

#include <fstream>
#include <sstream>

#include "os/file_system.hpp"
#include "recovery-core/json/json_layout.hpp"

namespace kestrel::testing {

namespace {

// A problem in the file, reported with where it was found.
struct FileProblem {
  std::string text;
};

const JsonValue& member(const JsonValue& object, const char* key, const std::string& where) {
  if (!object.is_object() || !object.contains(key))
    throw FileProblem{where + ": missing \"" + key + "\""};
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

std::optional<std::uint32_t> error_or_none(const JsonValue& object, const char* key,
                                           const std::string& where) {
  if (!object.contains(key)) return std::nullopt;
  return number_or<std::uint32_t>(object, key, 0, where);
}

// Calls read(element, "name[i]") for each element of an optional array member.
template <typename Read>
void for_each_element(const JsonValue& object, const char* key, const std::string& prefix,
                      Read read) {
  if (!object.contains(key)) return;
  std::size_t index = 0;
  for (const auto& element : object.at(key))
    read(element, prefix + key + "[" + std::to_string(index++) + "]");
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

void read_answer(const JsonValue& entry, const std::string& where, SimulatedDisk& disk) {
  RecordedAnswer answer;
  answer.error = error_or_none(entry, "error", where);
  if (entry.contains("bytes")) answer.bytes = entry.at("bytes").get<std::vector<std::uint8_t>>();
  if (entry.contains("returned")) answer.returned = entry.at("returned").get<std::uint32_t>();
  disk.answers[control_named(member(entry, "control", where).get<std::string>(), where)] =
      std::move(answer);
}

std::shared_ptr<MediumContent> read_content(const std::filesystem::path& path,
                                            const std::string& where) {
  auto content = MediumContent::of_file(path);
  if (!content) {
    throw FileProblem{where + ": cannot read content file " + path_display(path) + ": " +
                      content.error().io_failure().message()};
  }
  return *content;
}

SimulatedDisk read_disk(const JsonValue& object, const std::filesystem::path& base,
                        const std::string& where) {
  SimulatedDisk disk;
  disk.drive_number = member(object, "number", where).get<std::uint32_t>();
  disk.length = member(object, "length", where).get<std::int64_t>();
  disk.logical_sector_size = number_or<std::uint32_t>(object, "logical_sector_size", 512, where);
  disk.physical_sector_size = number_or<std::uint32_t>(object, "physical_sector_size", 512, where);
  disk.facts.bus_type_code = number_or<std::uint32_t>(object, "bus_type_code", 7, where);
  disk.facts.vendor = text_or_null(object, "vendor", where);
  disk.facts.product = text_or_null(object, "product", where);
  disk.facts.serial = text_or_null(object, "serial", where);
  disk.open_error = error_or_none(object, "open_error", where);
  for_each_element(
      object, "answers", where + ".",
      [&disk](const JsonValue& entry, const std::string& at) { read_answer(entry, at, disk); });
  if (auto content = text_or_null(object, "content", where)) {
    const std::filesystem::path path(*content);
    disk.content = read_content(path.is_absolute() ? path : base / path, where);
  }
  return disk;
}

SimulatedVolume read_volume(const JsonValue& object, const std::string& where) {
  const std::string letter = member(object, "letter", where).get<std::string>();
  if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z') {
    throw FileProblem{where + ": \"letter\" must be one of A to Z"};
  }
  SimulatedVolume volume =
      volume_on(letter[0], member(object, "disk", where).get<std::uint32_t>(),
                text_or_null(object, "label", where), text_or_null(object, "file_system", where));
  volume.start = number_or<std::uint64_t>(object, "start", 0, where);
  if (object.contains("length")) volume.length = object.at("length").get<std::int64_t>();
  volume.information_fails = object.value("information_fails", false);
  volume.open_error = error_or_none(object, "open_error", where);
  return volume;
}

void read_fault(const JsonValue& object, const std::filesystem::path& base,
                SimulatedPlatform& platform, const std::string& where) {
  const std::string type = member(object, "type", where).get<std::string>();
  const auto disk = member(object, "disk", where).get<std::uint32_t>();
  if (type == "bad-sectors") {
    platform.read_faults.push_back(
        kestrel::testing::read_fault(disk, member(object, "offset", where).get<std::uint64_t>(),
                                     number_or<std::uint64_t>(object, "length", 512, where),
                                     number_or<std::uint32_t>(object, "error", 23, where),
                                     number_or<std::uint32_t>(object, "times", 0xFFFFFFFF, where)));
  } else if (type == "short-read") {
    platform.read_faults.push_back(
        short_read_fault(disk, member(object, "offset", where).get<std::uint64_t>(),
                         number_or<std::uint64_t>(object, "length", 512, where),
                         member(object, "delivered", where).get<std::uint32_t>()));
  } else if (type == "disconnect") {
    platform.events.push_back(
        disconnect_after(disk, member(object, "after_reads", where).get<std::uint64_t>()));
  } else if (type == "identity-change") {
    SimulatedDisk becomes =
        read_disk(member(object, "disk_becomes", where), base, where + ".disk_becomes");
    becomes.drive_number = disk;
    if (!becomes.content) {
      if (const SimulatedDisk* current = platform.disk(disk)) becomes.content = current->content;
    }
    platform.events.push_back(replace_after(
        disk, member(object, "after_reads", where).get<std::uint64_t>(), std::move(becomes)));
  } else {
    throw FileProblem{where + ": unknown fault type \"" + type + "\""};
  }
}

// The machine-wide members: the system directory, the disks holding paths,
// free space and the failures of the drive letters and free space.
void read_machine(const JsonValue& document, SimulatedPlatform& platform) {
  if (auto directory = text_or_null(document, "system_directory", "file")) {
    platform.system_directory_text = *directory;
  }
  if (document.contains("drives_holding")) {
    for (const auto& [path, drives] : document.at("drives_holding").items()) {
      platform.drives_holding[path] = drives.get<std::vector<std::uint32_t>>();
    }
  }
  platform.free_space =
      number_or<std::uint64_t>(document, "free_space", platform.free_space, "file");
  platform.free_space_error = error_or_none(document, "free_space_error", "file");
  platform.logical_drives_error = error_or_none(document, "logical_drives_error", "file");
}

std::unique_ptr<SimulatedPlatform> read_platform(const JsonValue& document,
                                                 const std::filesystem::path& base) {
  auto platform = std::make_unique<SimulatedPlatform>();
  read_machine(document, *platform);
  for_each_element(document, "disks", "", [&](const JsonValue& disk, const std::string& where) {
    platform->disks.push_back(read_disk(disk, base, where));
  });
  for_each_element(document, "volumes", "", [&](const JsonValue& volume, const std::string& where) {
    platform->volumes.push_back(read_volume(volume, where));
  });
  for_each_element(document, "faults", "", [&](const JsonValue& fault, const std::string& where) {
    read_fault(fault, base, *platform, where);
  });
  return platform;
}

}  // namespace

std::expected<std::unique_ptr<SimulatedPlatform>, SourceError> load_simulated_platform(
    const std::filesystem::path& file) {
  std::ifstream stream(file);
  if (!stream) {
    return std::unexpected(SourceError::io("cannot read " + file.string(), IoErrorKind::Other));
  }
  std::stringstream text;
  text << stream.rdbuf();
  try {
    return read_platform(JsonValue::parse(text.str()), file.parent_path());
  } catch (const FileProblem& problem) {
    return std::unexpected(SourceError::io(problem.text, IoErrorKind::InvalidData));
  } catch (const JsonValue::exception& problem) {
    return std::unexpected(SourceError::io(problem.what(), IoErrorKind::InvalidData));
  }
}

}  // namespace kestrel::testing

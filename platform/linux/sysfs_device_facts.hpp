#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/device_platform.hpp"

namespace kestrel {

// The bus of a disk from its kernel name, the resolved sysfs path of the
// disk (for example /sys/devices/pci0000:00/.../usb2/2-1/.../block/sdb) and,
// for memory cards, the card type the mmc core reports ("SD", "MMC", "SDIO").
// Memory cards are recognised first (a card in a USB-attached card host is
// on the sd bus), then USB, FireWire, libata, NVMe, virtio, SCSI, then the
// virtual devices by name; anything else is the unrecognised code.
std::uint32_t bus_type_code_from_sysfs(std::string_view disk_name,
                                       std::string_view resolved_disk_path,
                                       std::optional<std::string_view> mmc_card_type);

// What sysfs tells about a disk (/sys/block/<name>): vendor, product and
// serial texts and the bus. Texts the kernel does not publish stay absent.
StorageDescriptor read_sysfs_device_facts(const std::filesystem::path& disk_sysfs);

}  // namespace kestrel

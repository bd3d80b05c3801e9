#include "cli/scan_command.hpp"

#include "cli/image_inspection.hpp"
#include "cli/progress_lines.hpp"

namespace kestrel {

std::expected<void, std::string> run_scan_command(const ScanCommand& command, Output& output) {
  auto inspection = inspect_image(command.image, command.sector_size, command.options, progress_to(output));
  if (!inspection) return std::unexpected(inspection.error());
  return output.print_document(to_json(*inspection));
}

}  // namespace kestrel

#include "cli/scan_command.hpp"

#include "cli/image_inspection.hpp"
#include "cli/progress_lines.hpp"
#include "cli/scan_document.hpp"
#include "cli/text_spool.hpp"
#include "recovery-core/errors/error_propagation.hpp"

namespace kestrel {

// The document is written as the scan finds candidates, into a spool: a scan
// that fails part-way must print nothing, so standard output gets the text only
// once the scan has ended well.
std::expected<void, CommandError> run_scan_command(const ScanCommand& command, Output& output) {
  KESTREL_TRY_ASSIGN(inspection,
                     inspect_image(command.image, command.sector_size, command.options));
  TextSpool spool;
  ScanDocumentWriter document(spool, *inspection);
  KESTREL_TRY(scan_image(*inspection, document, progress_to(output)));
  document.finish();
  auto replayed = spool.replay([&](std::string_view text) {
    if (!output.result_failed()) output.print_text(text);
  });
  if (!replayed) return std::unexpected(CommandError::ResultNotHeld{replayed.error().io_failure()});
  return {};
}

}  // namespace kestrel

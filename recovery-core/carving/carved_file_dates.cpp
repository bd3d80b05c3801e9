#include "recovery-core/carving/carved_file_dates.hpp"

#include "recovery-core/carving/carved_file_bytes.hpp"
#include "recovery-core/content/content_dates/content_dates.hpp"
#include "recovery-core/content/content_dates/content_dates_messages.hpp"
#include "recovery-core/content/file_end/file_header.hpp"

namespace kestrel {

void add_content_dates(ByteSource& source, RecoveryCandidate& candidate) {
  if (candidate.recoverability != Recoverability::Carved) return;
  CarvedFileBytes bytes(source, candidate);
  const auto header = bytes.read(0, kHeaderProbeBytes);
  if (!header) return;
  const std::optional<FileFamily> family = probe_file_header(*header);
  if (!family) return;
  std::optional<ContentDates> dates = read_content_dates(*family, bytes);
  if (!dates) return;
  candidate.dates.modified = std::move(dates->modified);
  candidate.dates.created = std::move(dates->created);
  candidate.validation_notes.emplace_back(date_source_note(dates->source));
}

}  // namespace kestrel

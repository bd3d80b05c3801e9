#include <string>
#include <string_view>

#include "recovery-core/content/content_dates/content_dates.hpp"
#include "recovery-core/content/content_dates/date_text.hpp"
#include "recovery-core/content/content_dates/zip_entry.hpp"

namespace kestrel {

namespace {

// The two parts hold a few small elements; a larger one is not read.
constexpr std::size_t kMostPartBytes = 256u << 10;

// Where each kind of document keeps its dates, under the prefixes its writers
// use for their namespaces.
struct DatedPart {
  std::string_view entry;
  std::string_view modified_element;
  std::string_view created_element;
  DateSource source;
};

constexpr DatedPart kParts[] = {
    {"docProps/core.xml", "dcterms:modified", "dcterms:created", DateSource::OfficeCoreProperties},
    {"meta.xml", "dc:date", "meta:creation-date", DateSource::OpenDocumentMeta},
};

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

// The text inside the first element `name` (attributes allowed on its start
// tag); nothing when there is none or it holds markup.
// Tags are built by appending: GCC 12 for Windows at -O3 warns falsely
// (-Wrestrict) about `"<" + std::string(name)`.
std::string tag(std::string_view opening, std::string_view name, std::string_view closing) {
  std::string text;
  text.reserve(opening.size() + name.size() + closing.size());
  text.append(opening).append(name).append(closing);
  return text;
}

std::optional<std::string_view> element_text(std::string_view xml, std::string_view name) {
  const std::string open = tag("<", name, "");
  const std::string end_tag = tag("</", name, ">");
  for (std::size_t at = xml.find(open); at != std::string_view::npos; at = xml.find(open, at + 1)) {
    const std::size_t after = at + open.size();
    if (after >= xml.size() || (xml[after] != '>' && !is_space(xml[after]))) continue;
    const std::size_t start_end = xml.find('>', after);
    if (start_end == std::string_view::npos || xml[start_end - 1] == '/') return std::nullopt;
    const std::size_t close = xml.find('<', start_end + 1);
    if (close == std::string_view::npos || xml.substr(close, end_tag.size()) != end_tag)
      return std::nullopt;
    return trimmed(xml.substr(start_end + 1, close - start_end - 1));
  }
  return std::nullopt;
}

std::optional<std::string> w3c_date(std::string_view xml, std::string_view element) {
  const std::optional<std::string_view> text = element_text(xml, element);
  if (!text || !is_w3c_date_text(*text)) return std::nullopt;
  return std::string(*text);
}

}  // namespace

// An OOXML package keeps its dates in docProps/core.xml, an OpenDocument one
// in meta.xml; the first of the two the archive holds with a date counts.
std::optional<ContentDates> office_content_dates(ContentBytes& bytes) {
  for (const DatedPart& part : kParts) {
    const auto entry = read_zip_entry(bytes, part.entry, kMostPartBytes);
    if (!entry) continue;
    const std::string_view xml(reinterpret_cast<const char*>(entry->data()), entry->size());
    ContentDates dates{w3c_date(xml, part.modified_element), w3c_date(xml, part.created_element),
                       part.source};
    if (dates.modified || dates.created) return dates;
  }
  return std::nullopt;
}

}  // namespace kestrel

#include <algorithm>
#include <array>
#include <string_view>

#include "recovery-core/bytes/byte_fields.hpp"
#include "recovery-core/content/content_dates/content_dates.hpp"
#include "recovery-core/content/content_dates/date_text.hpp"

namespace kestrel {

namespace {

// How many boxes are looked at on each level before giving up: a movie has a
// handful at the top and mvhd comes first in moov.
constexpr int kMostBoxes = 256;

struct Box {
  std::uint64_t start = 0;
  std::uint64_t body = 0;  // where its contents start
  std::uint64_t end = 0;
  std::array<char, 4> type{};

  bool is(std::string_view name) const {
    return std::string_view(type.data(), type.size()) == name;
  }
};

// The box whose header starts at `at`, inside [at, limit); nothing when its
// header does not hold up.
std::optional<Box> box_at(ContentBytes& bytes, std::uint64_t at, std::uint64_t limit) {
  constexpr std::size_t kHeaderBytes = 16;
  const auto header = bytes.read(at, kHeaderBytes);
  if (!header || header->size() < 8) return std::nullopt;
  const std::span<const std::uint8_t> h(*header);
  std::uint64_t size = load_be<std::uint32_t>(h, 0);
  std::uint64_t body = at + 8;
  if (size == 1) {
    if (h.size() < kHeaderBytes) return std::nullopt;
    size = load_be<std::uint64_t>(h, 8);
    body = at + kHeaderBytes;
  } else if (size == 0) {
    size = limit - at;  // runs to the end of what holds it
  }
  if (size < body - at || size > limit - at) return std::nullopt;
  Box box{at, body, at + size, {}};
  for (std::size_t i = 0; i < box.type.size(); ++i) box.type[i] = static_cast<char>(h[4 + i]);
  return box;
}

// The first box of `type` among those that fill [from, limit).
std::optional<Box> find_box(ContentBytes& bytes, std::uint64_t from, std::uint64_t limit,
                            std::string_view type) {
  std::uint64_t at = from;
  for (int i = 0; i < kMostBoxes && at < limit; ++i) {
    std::optional<Box> box = box_at(bytes, at, limit);
    if (!box) return std::nullopt;
    if (box->is(type)) return box;
    at = box->end;
  }
  return std::nullopt;
}

}  // namespace

// moov/mvhd: a version byte and three of flags, then creation_time in 32 bits
// (version 0) or 64 (version 1), seconds since 1904 in UTC.
std::optional<ContentDates> iso_media_content_dates(ContentBytes& bytes) {
  const auto movie = find_box(bytes, 0, bytes.size(), "moov");
  if (!movie) return std::nullopt;
  const auto header = find_box(bytes, movie->body, movie->end, "mvhd");
  if (!header) return std::nullopt;
  const std::uint64_t body_bytes = header->end - header->body;
  const auto fields =
      bytes.read(header->body, static_cast<std::size_t>(std::min<std::uint64_t>(body_bytes, 12)));
  if (!fields || fields->size() < 8) return std::nullopt;
  const std::span<const std::uint8_t> f(*fields);
  std::uint64_t created = 0;
  if (f[0] == 0) {
    created = load_be<std::uint32_t>(f, 4);
  } else if (f[0] == 1 && f.size() >= 12) {
    created = load_be<std::uint64_t>(f, 4);
  } else {
    return std::nullopt;
  }
  auto text = seconds_since_1904_text(created);
  if (!text) return std::nullopt;
  return ContentDates{std::move(text), {}, DateSource::IsoMediaMovieHeader};
}

}  // namespace kestrel

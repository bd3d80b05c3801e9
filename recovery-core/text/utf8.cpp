#include "recovery-core/text/utf8.hpp"

#include <optional>

namespace kestrel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t code_point;
  bool valid;
};

// What a lead byte of 0x80 or more promises: the sequence's length, the value
// bits it carries, and the range its first continuation byte must lie in (the
// narrower ranges rule out overlong forms, surrogates and values past U+10FFFF).
struct SequenceStart {
  std::size_t length;
  char32_t value;
  unsigned char low;
  unsigned char high;
};

std::optional<SequenceStart> sequence_start(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return SequenceStart{2, char32_t{lead} & 0x1Fu, 0x80, 0xBF};
  if (lead >= 0xE0 && lead <= 0xEF) {
    return SequenceStart{3, char32_t{lead} & 0x0Fu,
                         static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
                         static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return SequenceStart{4, char32_t{lead} & 0x07u,
                         static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
                         static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
  }
  return std::nullopt;
}

// Decodes one sequence starting at bytes[i] and advances i past it; an invalid
// sequence is skipped as one maximal invalid subsequence (the longest prefix of
// a well-formed sequence, or one byte) and reported as U+FFFD, not valid.
Decoded decode_one(std::string_view bytes, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = byte(i);
  ++i;
  if (lead < 0x80) return {lead, true};
  const std::optional<SequenceStart> start = sequence_start(lead);
  if (!start) return {kReplacement, false};
  char32_t value = start->value;
  for (std::size_t n = 1; n < start->length; ++n, ++i) {
    if (i >= bytes.size()) return {kReplacement, false};
    const unsigned char next = byte(i);
    const unsigned char low = n == 1 ? start->low : 0x80;
    const unsigned char high = n == 1 ? start->high : 0xBF;
    if (next < low || next > high) return {kReplacement, false};
    value = (value << 6) | (next & 0x3F);
  }
  return {value, true};
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t start = i;
    if (decode_one(bytes, i).valid) {
      out.append(bytes.substr(start, i - start));
    } else {
      append_utf8(out, kReplacement);
    }
  }
  return out;
}

std::string decode_utf8_lossy(std::span<const std::uint8_t> bytes) {
  return decode_utf8_lossy(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (!decode_one(bytes, i).valid) return false;
  }
  return true;
}

std::u32string utf8_to_code_points(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) out.push_back(decode_one(text, i).code_point);
  return out;
}

}  // namespace kestrel

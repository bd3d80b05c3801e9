#include "recovery-core/text/utf8.hpp"

namespace kestrel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t code_point;
  bool valid;
};

// Decodes one sequence starting at bytes[i] and advances i past it; an invalid
// sequence is skipped as one maximal invalid subsequence (the longest prefix of
// a well-formed sequence, or one byte) and reported as U+FFFD, not valid.
Decoded decode_one(std::string_view bytes, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return {lead, true};
  }
  std::size_t length = 0;
  char32_t value = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++i;
    return {kReplacement, false};
  }
  std::size_t k = i + 1;
  for (std::size_t n = 1; n < length; ++n, ++k) {
    if (k >= bytes.size()) {
      i = k;
      return {kReplacement, false};
    }
    const unsigned char next = byte(k);
    const unsigned char lo = n == 1 ? low : 0x80;
    const unsigned char hi = n == 1 ? high : 0xBF;
    if (next < lo || next > hi) {
      i = k;
      return {kReplacement, false};
    }
    value = (value << 6) | (next & 0x3F);
  }
  i = k;
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

#include "recovery-core/content/content_signature.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recovery-core/content/content_check.hpp"
#include "tests/support/memory_source.hpp"

namespace kestrel {

// Readable failure messages for content checks.
void PrintTo(const ContentCheck& check, std::ostream* out) {
  *out << "{notes=" << ::testing::PrintToString(check.validation_notes) << " kind="
       << (check.detected_kind ? std::string(file_kind_name(*check.detected_kind)) : "none")
       << " confidence=" << confidence_name(check.confidence)
       << " score=" << int{check.confidence_score} << "}";
}

}  // namespace kestrel

namespace kestrel::testing {
namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

TEST(DetectContentKind, SignatureTable) {
  struct Case {
    std::string bytes;
    std::optional<FileKind> kind;
  };
  const std::vector<Case> cases = {
      {""s, std::nullopt},
      {"B"s, std::nullopt},
      {"BM"s, FileKind::Bmp},
      {"BX"s, std::nullopt},
      {"\xFF\xD8"s, std::nullopt},
      {"\xFF\xD8\xFF"s, FileKind::Jpeg},
      {"\xFF\xD8\xFF\xE0\0\x10JFIF"s, FileKind::Jpeg},
      {"\x89PNG\r\n\x1A\n"s, FileKind::Png},
      {"\x89PNG\r\n\x1A"s, std::nullopt},  // seven bytes of the eight
      {"BMP"s, FileKind::Bmp},             // three bytes still reach the BMP step
      {"BM\0\0\0\0ftypheic"s, FileKind::Bmp},
      {"II*"s, std::nullopt},  // three bytes stop before TIFF
      {"II*\0"s, FileKind::Tiff},
      {"MM\0*"s, FileKind::Tiff},
      {"MM*\0"s, std::nullopt},
      {"GIF87a"s, FileKind::Gif},
      {"GIF89a;"s, FileKind::Gif},
      {"GIF88a"s, std::nullopt},
      {"GIF8"s, std::nullopt},
      {"%PDF-1.7"s, FileKind::Pdf},
      {"%PDF"s, std::nullopt},
      {"PK\x03\x04"s, FileKind::ZipContainer},
      {"PK\x05\x06"s, FileKind::ZipContainer},
      {"PK\x07\x08"s, FileKind::ZipContainer},
      {"PK\x01\x02"s, std::nullopt},
      {"\0\0\0\x18"
       "ftypheic"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftypheix"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftyphevc"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftyphevs"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftypheim"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftypmif1"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftypmsf1"s,
       FileKind::Heic},
      {"\0\0\0\x18"
       "ftypheif"s,
       FileKind::Mp4},  // "he" + "i" + "f" is not a HEIF brand here
      {"\0\0\0\x18"
       "ftyphexc"s,
       FileKind::Mp4},
      {"\0\0\0\x14"
       "ftypqt  "s,
       FileKind::Mp4},
      {"\0\0\0\x18"
       "ftypisom"s,
       FileKind::Mp4},
      {"\0\0\0\x18"
       "ftyp"s,
       FileKind::Mp4},  // no brand bytes
      {"\0\0\0\x18"
       "ftyphe"s,
       FileKind::Mp4},
      {"RIFFftypWAVE"s, FileKind::Mp4},  // ftyp at byte 4 is checked before RIFF forms
      {"RIFF\x24\0\0\0"
       "AVI "s,
       FileKind::Avi},
      {"RIFF\x24\0\0\0"
       "WAVEfmt "s,
       FileKind::Wav},
      {"RIFF\x24\0\0\0"
       "WEBPVP8 "s,
       FileKind::Webp},
      {"RIFF\x24\0\0\0"
       "WAV"s,
       std::nullopt},  // eleven bytes: not a RIFF form
      {"RIFF\x24\0\0\0"
       "CDXA"s,
       std::nullopt},
      {"AC10"s, FileKind::Dwg},
      {"AC1015\0\0"s, FileKind::Dwg},
      {"AC1"s, std::nullopt},
      {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"s, FileKind::OleCompound},
      {"\xD0\xCF\x11\xE0\xA1\xB1\x1A"s, std::nullopt},
      {"SQLite format 3\0"s, FileKind::Sqlite},
      {"SQLite format 3"s, std::nullopt},
      {"SQLite format 3 "s, std::nullopt},
      {"hello, world"s, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    EXPECT_EQ(detect_content_kind(bytes_of(c.bytes)), c.kind);
  }
}

TEST(KindFromExtension, ExtensionTable) {
  struct Case {
    const char* name;
    std::optional<FileKind> kind;
  };
  const std::vector<Case> cases = {
      {"photo.jpg", FileKind::Jpeg},
      {"IMG.JPE", FileKind::Jpeg},
      {"a.jpeg", FileKind::Jpeg},
      {"a.png", FileKind::Png},
      {"a.bmp", FileKind::Bmp},
      {"a.tif", FileKind::Tiff},
      {"a.TIFF", FileKind::Tiff},
      {"a.gif", FileKind::Gif},
      {"a.pdf", FileKind::Pdf},
      {"ARCHIVE.ZIP", FileKind::ZipContainer},
      {"archive.zip", FileKind::ZipContainer},
      {"a.odt", FileKind::ZipContainer},
      {"a.ods", FileKind::ZipContainer},
      {"a.odp", FileKind::ZipContainer},
      {"report.docx", FileKind::ZipContainer},
      {"a.docm", FileKind::ZipContainer},
      {"a.dotx", FileKind::ZipContainer},
      {"a.dotm", FileKind::ZipContainer},
      {"a.xlsx", FileKind::ZipContainer},
      {"a.xlsm", FileKind::ZipContainer},
      {"a.xltx", FileKind::ZipContainer},
      {"a.xltm", FileKind::ZipContainer},
      {"a.pptx", FileKind::ZipContainer},
      {"a.pptm", FileKind::ZipContainer},
      {"a.potx", FileKind::ZipContainer},
      {"a.potm", FileKind::ZipContainer},
      {"a.ppsx", FileKind::ZipContainer},
      {"a.ppsm", FileKind::ZipContainer},
      {"a.hwpx", FileKind::ZipContainer},
      {"a.heic", FileKind::Heic},
      {"a.heif", FileKind::Heic},
      {"a.mp4", FileKind::Mp4},
      {"movie.mov", FileKind::Mp4},
      {"a.m4v", FileKind::Mp4},
      {"a.m4a", FileKind::Mp4},
      {"a.avi", FileKind::Avi},
      {"a.wav", FileKind::Wav},
      {"a.webp", FileKind::Webp},
      {"a.dwg", FileKind::Dwg},
      {"a.doc", FileKind::OleCompound},
      {"a.xls", FileKind::OleCompound},
      {"a.ppt", FileKind::OleCompound},
      {"a.msg", FileKind::OleCompound},
      {"a.msi", FileKind::OleCompound},
      {"a.hwp", FileKind::OleCompound},
      {"a.sqlite", FileKind::Sqlite},
      {"db.SQLite3", FileKind::Sqlite},
      {".png", FileKind::Png},
      {"x.tar.gz", std::nullopt},
      {"name.", std::nullopt},
      {"noext", std::nullopt},
      {"", std::nullopt},
      {"a.jpg ", std::nullopt},
      {"a.jpgx", std::nullopt},
      {"jpg", std::nullopt},
      {"a.png.txt", std::nullopt},
      {"a.txt.png", FileKind::Png},
      {"a.\xEF\xBD\x8A\xEF\xBD\x90\xEF\xBD\x87", std::nullopt},  // full-width letters do not fold
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(kind_from_extension(c.name), c.kind);
  }
}

constexpr const char* kChainNote = "파일 시스템 클러스터 체인이 남아 있습니다.";
constexpr const char* kNoChainNote = "클러스터 체인이 없어 연속 영역으로 복구해야 합니다.";
constexpr const char* kUnreadNote = "파일 시작 영역을 읽지 못했습니다.";
constexpr const char* kNoSignature = "알려진 파일 내용 시그니처가 없습니다.";
constexpr const char* kSignatureFound = "파일 내용 시그니처를 확인했습니다.";
constexpr const char* kExtensionOnly =
    "확장자는 알려진 형식이지만 내용 시그니처를 확인하지 못했습니다.";
constexpr const char* kAgree = "확장자와 파일 내용 시그니처가 일치합니다.";
constexpr const char* kDisagree = "확장자와 파일 내용 시그니처가 일치하지 않습니다.";

TEST(CheckContent, ScoreTable) {
  constexpr std::uint64_t kDataOffset = 8192;
  struct Case {
    const char* what;
    std::string content;  // written at the data offset
    std::uint64_t size;   // the file size the candidate claims
    const char* name;
    bool chain;
    ContentCheck expected;
    bool image_ends_after_content = false;
  };
  const std::string jpeg = "\xFF\xD8\xFF\xE0 rest of a photo"s;
  const std::string heic =
      "\0\0\0\x18"
      "ftypheic\0\0\0\0"s;
  const std::vector<Case> cases = {
      {"photo with chain",
       jpeg,
       5000,
       "photo.jpg",
       true,
       {{kChainNote, kAgree}, FileKind::Jpeg, Confidence::High, 90}},
      {"photo read contiguously",
       jpeg,
       5000,
       "photo.jpg",
       false,
       {{kNoChainNote, kAgree}, FileKind::Jpeg, Confidence::Medium, 60}},
      {"docx",
       "PK\x03\x04 zip data"s,
       3000,
       "report.docx",
       false,
       {{kNoChainNote, kAgree}, FileKind::ZipContainer, Confidence::Medium, 60}},
      {"pdf in a .bin with chain",
       "%PDF-1.4 ..."s,
       3000,
       "data.bin",
       true,
       {{kChainNote, kSignatureFound}, FileKind::Pdf, Confidence::High, 80}},
      {"pdf in a .bin without chain",
       "%PDF-1.4 ..."s,
       3000,
       "data.bin",
       false,
       {{kNoChainNote, kSignatureFound}, FileKind::Pdf, Confidence::Medium, 50}},
      {"text with chain",
       "plain words"s,
       11,
       "notes.txt",
       true,
       {{kChainNote, kNoSignature}, std::nullopt, Confidence::Medium, 65}},
      {"text without chain",
       "plain words"s,
       11,
       "notes.txt",
       false,
       {{kNoChainNote, kNoSignature}, std::nullopt, Confidence::Low, 35}},
      {"mov",
       "\0\0\0\x14"
       "ftypqt  \0\0\0\0"s,
       4000,
       "movie.mov",
       true,
       {{kChainNote, kAgree}, FileKind::Mp4, Confidence::High, 90}},
      {"heic",
       heic,
       4000,
       "image.heic",
       true,
       {{kChainNote, kAgree}, FileKind::Heic, Confidence::High, 90}},
      {"heic named mp4 with chain",
       heic,
       4000,
       "image.mp4",
       true,
       {{kChainNote, kDisagree}, FileKind::Heic, Confidence::Low, 35}},
      {"heic named mp4 without chain",
       heic,
       4000,
       "image.mp4",
       false,
       {{kNoChainNote, kDisagree}, FileKind::Heic, Confidence::Low, 5}},
      {"jpg without a signature, chain",
       "not a photo"s,
       11,
       "photo.jpg",
       true,
       {{kChainNote, kExtensionOnly}, std::nullopt, Confidence::Medium, 65}},
      {"jpg without a signature, no chain",
       "not a photo"s,
       11,
       "photo.jpg",
       false,
       {{kNoChainNote, kExtensionOnly}, std::nullopt, Confidence::Low, 35}},
      {"two-byte bmp",
       "BM"s,
       2,
       "tiny.bmp",
       false,
       {{kNoChainNote, kAgree}, FileKind::Bmp, Confidence::Medium, 60}},
      {"start past the end of a truncated image, chain",
       ""s,
       4096,
       "photo.jpg",
       true,
       {{kChainNote, kUnreadNote, kExtensionOnly}, std::nullopt, Confidence::Low, 45},
       true},
      {"start past the end of a truncated image, no chain",
       ""s,
       4096,
       "photo.jpg",
       false,
       {{kNoChainNote, kUnreadNote, kExtensionOnly}, std::nullopt, Confidence::Low, 15},
       true},
      {"unreadable start, unknown extension",
       "ab"s,
       100,
       "file.bin",
       true,
       {{kChainNote, kUnreadNote, kNoSignature}, std::nullopt, Confidence::Low, 45},
       true},
      {"only the first 4096 bytes are needed",
       jpeg + std::string(4096 - jpeg.size(), 'x'),
       1u << 20,
       "photo.jpg",
       true,
       {{kChainNote, kAgree}, FileKind::Jpeg, Confidence::High, 90},
       true},
      {"4095 of 4096 bytes present",
       jpeg + std::string(4095 - jpeg.size(), 'x'),
       1u << 20,
       "photo.jpg",
       true,
       {{kChainNote, kUnreadNote, kExtensionOnly}, std::nullopt, Confidence::Low, 45},
       true},
      {"a file shorter than 4096 bytes at the very end of the image",
       jpeg,
       jpeg.size(),
       "photo.jpg",
       true,
       {{kChainNote, kAgree}, FileKind::Jpeg, Confidence::High, 90},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image(kDataOffset, 0);
    image.insert(image.end(), c.content.begin(), c.content.end());
    if (!c.image_ends_after_content) image.resize(kDataOffset + 8192, 0);
    MemorySource source(std::move(image));
    EXPECT_EQ(check_content(source, kDataOffset, c.size, c.name, c.chain), c.expected);
    EXPECT_EQ(source.read_count(), 1u);
    EXPECT_LE(source.largest_read(), 4096u);
  }
}

TEST(CheckContent, ReadErrorsBecomeANote) {
  MemorySource source(std::vector<std::uint8_t>(16384, 0xFF));
  source.fail_range(4096, 1, SourceError::device_disconnected());
  const ContentCheck check = check_content(source, 4096, 100, "photo.jpg", true);
  EXPECT_EQ(
      check,
      (ContentCheck{{kChainNote, kUnreadNote, kExtensionOnly}, std::nullopt, Confidence::Low, 45}));
}

TEST(ContentNames, JsonStrings) {
  const std::vector<std::pair<FileKind, const char*>> kinds = {
      {FileKind::Jpeg, "jpeg"},
      {FileKind::Png, "png"},
      {FileKind::Bmp, "bmp"},
      {FileKind::Tiff, "tiff"},
      {FileKind::Gif, "gif"},
      {FileKind::Pdf, "pdf"},
      {FileKind::ZipContainer, "zip-container"},
      {FileKind::Heic, "heic"},
      {FileKind::Mp4, "mp4"},
      {FileKind::Avi, "avi"},
      {FileKind::Wav, "wav"},
      {FileKind::Webp, "webp"},
      {FileKind::Dwg, "dwg"},
      {FileKind::OleCompound, "ole-compound"},
      {FileKind::Sqlite, "sqlite"},
  };
  for (const auto& [kind, name] : kinds) EXPECT_EQ(file_kind_name(kind), name);
  EXPECT_EQ(confidence_name(Confidence::High), "high");
  EXPECT_EQ(confidence_name(Confidence::Medium), "medium");
  EXPECT_EQ(confidence_name(Confidence::Low), "low");
}

}  // namespace
}  // namespace kestrel::testing

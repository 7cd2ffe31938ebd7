#include "execution/import_export/import_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "foundation/core/stream.h"
#include "platform/code_pages.h"

namespace brn {

namespace {

// Both directions of the Windows-1252 page, built once from the platform's
// table; the reverse one covers every UTF-16 unit so that a lookup costs
// one read.
struct TAnsiTables {
  std::array<char16_t, 256> ToUnicode{};
  std::array<int16_t, 65536> FromUnicode{};

  TAnsiTables() {
    const SingleByteCodePage* page = FindSingleByteCodePage(SystemCodePage);
    if (page == nullptr) throw std::logic_error("The Windows-1252 code page is missing");
    FromUnicode.fill(-1);
    for (int32_t b = 0; b < 256; ++b) {
      ToUnicode[size_t(b)] = page->ToUnicode[b];
      // The first byte wins should two bytes share a character.
      if (FromUnicode[page->ToUnicode[b]] < 0) FromUnicode[page->ToUnicode[b]] = int16_t(b);
    }
  }
};

const TAnsiTables& ansiTables() {
  static const TAnsiTables tables;
  return tables;
}

constexpr const char* kTruncated = "The import file is truncated or incomplete";

std::string unmappableReason(char16_t unit) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", unsigned(unit));
  return std::string("The character U+") + text + " cannot be represented in the engine's text";
}

}  // namespace

char16_t AnsiToUnicode(unsigned char c) {
  return ansiTables().ToUnicode[c];
}

int32_t UnicodeToAnsi(char16_t c) {
  return ansiTables().FromUnicode[c];
}

TBRNImportText::TBRNImportText(TBRNStream& stream, int32_t encoding) : stream_(stream) {
  const int64_t start = stream_.GetPosition();
  bytesTotal_ = std::max<int64_t>(0, stream_.GetSize() - start);
  if (encoding == kTransferEncodingAnsi) return;
  unsigned char head[2] = {0, 0};
  const int32_t got = bytesTotal_ >= 2 ? stream_.Read(head, 2) : 0;
  if (got == 2 && head[0] == 0xFF && head[1] == 0xFE) {
    unicode_ = true;
    bytesRead_ = 2;
    return;
  }
  stream_.SetPosition(start);
  unicode_ = encoding == kTransferEncodingUnicode || (got == 2 && (head[0] == 0 || head[1] == 0));
}

bool TBRNImportText::refill() {
  // The reader stands on the character that could not be decoded.
  if (badAt_ >= 0 && position_ >= badAt_) fail(badReason_);
  base_ += int64_t(buffer_.size());
  buffer_.clear();
  position_ = 0;
  end_ = 0;
  const int64_t remaining = bytesTotal_ - bytesRead_;
  if (remaining <= 0) return false;
  const int32_t count = int32_t(std::min<int64_t>(remaining, kImportChunkBytes));
  bytes_.resize(size_t(count));
  const int32_t got = stream_.Read(bytes_.data(), count);
  bytesRead_ += std::max(got, 0);
  if (got != count) {
    fail(kTruncated);
  }
  if (!unicode_) {
    buffer_.assign(reinterpret_cast<const char*>(bytes_.data()), size_t(count));
    end_ = count;
    return true;
  }
  const int32_t units = count / 2;
  buffer_.resize(size_t(units));
  const auto& table = ansiTables().FromUnicode;
  int32_t i = 0;
  for (; i < units; ++i) {
    const char16_t unit = char16_t(bytes_[size_t(2 * i)] | (bytes_[size_t(2 * i + 1)] << 8));
    const int16_t b = table[unit];
    if (b < 0) {
      badAt_ = i;
      badReason_ = unmappableReason(unit);
      break;
    }
    buffer_[size_t(i)] = char(b);
  }
  if (badAt_ < 0 && (count & 1) != 0) {
    badAt_ = units;
    badReason_ = kTruncated;
  }
  buffer_.resize(size_t(i));
  end_ = badAt_ >= 0 ? badAt_ : units;
  if (end_ == 0) fail(badReason_);
  return true;
}

void TBRNImportText::fail(const std::string& reason) {
  if (fail_) fail_(reason);
  throw std::logic_error("An import text failure was not raised: " + reason);
}

}  // namespace brn

// The header of an update file as LOAD UPDATES reads it: hostile header
// lengths, string lengths, table counts, section offsets and lengths.
//
// Input: the file's bytes. Properties: the reader never reads past the
// header, a valid header lists at most 4096 tables whose sections lie after
// the header and inside the file, and a valid header written again is no
// longer and reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/core/digest.h"
#include "foundation/core/memory_stream.h"
#include "fuzz_support.h"
#include "sessions/engine_settings.h"
#include "sessions/publishing/update_file_header.h"

using namespace brn;
using namespace brn::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TBRNDigest signature = [] {
    TBRNDigest digest;
    digest.DigestString(kBRNDefaultSignature);
    return digest;
  }();
  Input in(data, size);
  TBRNMemoryStream file;
  FillStream(file, in.Rest());
  TBRNUpdateFileHeader header;
  TBRNUpdateHeaderResult result = ParseUpdateFileHeader(file, signature, header);
  if (file.GetPosition() > file.GetSize()) Fail("read past the end of the file");
  if (result != TBRNUpdateHeaderResult::Valid) return 0;
  if (header.Sections.size() > size_t(kBRNMaxUpdateFileTables)) Fail("more than 4096 tables");
  const int64_t headerEnd = file.GetPosition();
  for (const TBRNUpdateFileSection& section : header.Sections) {
    if (section.Offset < headerEnd || section.Length < 0 ||
        section.Offset + section.Length > file.GetSize()) {
      Fail("a section outside the file");
    }
  }
  if (header.Compression < 0 || header.Compression > 9) Fail("compression level out of range");

  // Written again, the header reads back the same.
  TBRNMemoryStream again;
  header.WriteTo(again, signature);
  // The header may hold bytes after its fields; the fields alone are
  // written again.
  if (again.GetSize() > headerEnd) Fail("the header written again is longer");
  again.SetPosition(again.GetSize());
  again.SetSize(file.GetSize());
  TBRNUpdateFileHeader back;
  if (ParseUpdateFileHeader(again, signature, back) != TBRNUpdateHeaderResult::Valid ||
      back.Description != header.Description || back.DatabaseName != header.DatabaseName ||
      back.DatabasePath != header.DatabasePath || back.Timestamp != header.Timestamp ||
      back.UserName != header.UserName || back.Compression != header.Compression ||
      back.Sections.size() != header.Sections.size()) {
    Fail("the header written again reads back otherwise");
  }
  return 0;
}

// The headers of backup and update files as a store listing reads them:
// hostile header lengths, string lengths, catalog lengths and table counts.
//
// Input: a selector byte (even: backup header, odd: update header), then the
// file's bytes. Properties: the reader never reads past the file, a valid
// header lists at most 4096 tables, and what it keeps (strings and table
// entries) is never more than the file holds, so no claimed length can make
// it allocate more than the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/core/digest.h"
#include "fuzz_support.h"
#include "sessions/engine_settings.h"
#include "sessions/manager_interfaces.h"
#include "sessions/stores/store_file_headers.h"

using namespace brn;
using namespace brn::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TBRNDigest signature = [] {
    TBRNDigest digest;
    digest.DigestString(kBRNDefaultSignature);
    return digest;
  }();
  Input in(data, size);
  const bool backup = (in.Byte() & 1) == 0;
  std::string_view bytes = in.Rest();
  TBRNMemoryStream stream;
  FillStream(stream, bytes);

  TBRNStoreFile record;
  bool valid = false;
  try {
    valid = backup ? ReadBackupFileHeader(stream, signature, record)
                   : ReadUpdateFileHeader(stream, signature, record);
  } catch (const EBRNException&) {
    Fail("a memory stream read raised");
  }
  if (stream.GetPosition() > stream.GetSize()) Fail("read past the end of the file");
  if (!valid) return 0;
  if (record.Kind != int32_t(backup ? TBRNStoreFileKind::Backup : TBRNStoreFileKind::Update))
    Fail("valid header with the wrong kind");
  if (record.Tables.size() > size_t(kBRNMaxStoreFileTables)) Fail("more than 4096 tables");
  size_t kept = record.Description.size() + record.DatabaseName.size() +
                record.DatabasePath.size() + record.CreatedBy.size();
  for (const std::string& table : record.Tables) {
    // The name as stored plus a tab and at most 20 digits of the size.
    kept += table.size() > 21 ? table.size() - 21 : 0;
  }
  if (kept > bytes.size()) Fail("kept more than the file holds");
  return 0;
}

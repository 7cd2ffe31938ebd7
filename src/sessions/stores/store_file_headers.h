#pragma once

#include "foundation/core/stream.h"

namespace brn {

class TBRNDigest;
class TBRNStoreFile;

// The most tables a backup or update header may list; a header that claims
// more is not a valid header.
inline constexpr int32_t kBRNMaxStoreFileTables = 4096;

// Readers of the headers of backup and update files for a store listing.
// Both read from the start of stream: an int32 header length, then the
// header itself, every field checked against the header's bytes and the
// header against the stream's bytes, so a hostile length (a header or a
// string longer than what the file holds) makes the file invalid and never
// causes a large allocation. Only the header is read; the catalog of a
// backup is skipped after its first 8 bytes (its format version).
//
// On success (true) record gets kind Backup or Update and the header fields
// (description, database name and path, time, user, compression, and for a
// backup the catalog flag and version) and one "<name>\t<size>" entry per
// table; name, size and times are the caller's. On false, record's header
// fields are left in an unspecified state and the caller lists the file as a
// plain file. A stream that raises while being read passes the error on.
bool ReadBackupFileHeader(TBRNStream& stream, const TBRNDigest& signature, TBRNStoreFile& record);
bool ReadUpdateFileHeader(TBRNStream& stream, const TBRNDigest& signature, TBRNStoreFile& record);

}  // namespace brn

#include "clientserver/components/blob_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clientserver/components/component_error.h"
#include "clientserver/datasets/dataset_test_support.h"

namespace brn {
namespace {

using test::ExpectDatabaseError;
using test::StatementDataSet;

// Docs(ID primary key, Body BLOB) in "Shop", read through a dataset.
class BlobStreamTest : public test::ShopDatabaseTest {
 protected:
  void SetUp() override {
    ShopDatabaseTest::SetUp();
    Run("CREATE TABLE Docs (ID INTEGER NOT NULL, Body BLOB, PRIMARY KEY (ID))");
  }

  std::unique_ptr<StatementDataSet> Docs() {
    auto docs = std::make_unique<StatementDataSet>(*Database, "SELECT * FROM Docs");
    docs->Open();
    return docs;
  }
  // Inserts row id with body written through a stream.
  void Insert(int32_t id, const std::vector<uint8_t>& body) {
    auto docs = Docs();
    docs->Insert();
    docs->FieldByName("ID").SetAsInteger(id);
    {
      std::unique_ptr<TStream> stream = docs->CreateBlobStream(docs->FieldByName("Body"), bmWrite);
      for (size_t at = 0; at < body.size(); at += 65536) {
        const int32_t count = int32_t(std::min<size_t>(65536, body.size() - at));
        ASSERT_EQ(stream->Write(body.data() + at, count), count);
      }
    }
    docs->Post();
  }
  static std::vector<uint8_t> ReadAll(TStream& stream) {
    std::vector<uint8_t> data(size_t(stream.GetSize()));
    stream.SetPosition(0);
    size_t at = 0;
    while (at < data.size()) {
      const int32_t read = stream.Read(data.data() + at, int32_t(std::min<size_t>(65536, data.size() - at)));
      if (read <= 0) break;
      at += size_t(read);
    }
    data.resize(at);
    return data;
  }
};

TEST_P(BlobStreamTest, FiveMegabytesWrittenAndReadBack) {
  std::vector<uint8_t> body(5 * 1024 * 1024);
  for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t((i * 131) ^ (i >> 12));
  Insert(1, body);

  // A dataset of its own reads the stored value, not the writer's copy.
  auto docs = Docs();
  TField& field = docs->FieldByName("Body");
  EXPECT_FALSE(field.IsNull());
  std::unique_ptr<TStream> stream = docs->CreateBlobStream(field, bmRead);
  EXPECT_EQ(stream->GetSize(), int64_t(body.size()));
  EXPECT_TRUE(ReadAll(*stream) == body);
}

TEST_P(BlobStreamTest, WriteStreamFreedUnwrittenLeavesTheFieldNullAndModified) {
  Insert(1, {1, 2, 3});
  auto docs = Docs();
  TField& field = docs->FieldByName("Body");
  int32_t changes = 0;
  field.OnChange = [&](TField&) { ++changes; };
  docs->Edit();
  docs->CreateBlobStream(field, bmWrite).reset();
  EXPECT_TRUE(field.IsNull());
  EXPECT_TRUE(field.Modified);
  EXPECT_EQ(changes, 1);
  // Cancelling drops the change and the flag.
  docs->Cancel();
  EXPECT_FALSE(field.Modified);
  EXPECT_FALSE(field.IsNull());

  docs->Edit();
  docs->CreateBlobStream(field, bmWrite).reset();
  docs->Post();
  EXPECT_FALSE(field.Modified);
  EXPECT_TRUE(Docs()->FieldByName("Body").IsNull());
}

TEST_P(BlobStreamTest, ReadStreamOnAnUnmodifiedFieldReleasesTheLoadedData) {
  Insert(1, std::vector<uint8_t>(1000, 7));
  auto docs = Docs();
  TField& field = docs->FieldByName("Body");
  TBRNStaticRowValue& value = docs->ValueOf(field);
  {
    std::unique_ptr<TStream> stream = docs->CreateBlobStream(field, bmRead);
    EXPECT_TRUE(value.GetBlobLoaded());
    EXPECT_EQ(ReadAll(*stream), std::vector<uint8_t>(1000, 7));
  }
  EXPECT_FALSE(value.GetBlobLoaded());
  EXPECT_FALSE(field.Modified);

  // A value a stream changed keeps its data until post or cancel.
  docs->Edit();
  {
    std::unique_ptr<TStream> stream = docs->CreateBlobStream(field, bmReadWrite);
    stream->Seek(int64_t(0), soEnd);
    const uint8_t more[] = {8, 9};
    EXPECT_EQ(stream->Write(more, 2), 2);
  }
  EXPECT_TRUE(value.GetBlobLoaded());
  docs->Post();
  auto reread = Docs();
  std::unique_ptr<TStream> stream = reread->CreateBlobStream(reread->FieldByName("Body"), bmRead);
  EXPECT_EQ(stream->GetSize(), 1002);
}

TEST_P(BlobStreamTest, SeekAndSizeKeepTheWholeValue) {
  Insert(1, std::vector<uint8_t>(10, 1));
  auto docs = Docs();
  TField& field = docs->FieldByName("Body");
  docs->Edit();
  std::unique_ptr<TStream> stream = docs->CreateBlobStream(field, bmReadWrite);

  EXPECT_EQ(stream->Seek(int32_t(3), uint16_t(soBeginning)), 3);
  EXPECT_EQ(stream->Seek(int32_t(1), uint16_t(5)), 0);
  EXPECT_EQ(stream->Seek(int64_t(1), TSeekOrigin(5)), 0);
  EXPECT_EQ(stream->GetPosition(), 3);
  EXPECT_EQ(stream->Seek(int32_t(-2), uint16_t(soEnd)), 8);

  // 2^32 + 1 is no 1-byte BLOB: the size and position beyond what a BLOB
  // holds are refused and the value stays as it was.
  const int64_t beyond = (int64_t(1) << 32) + 1;
  for (int64_t size : {beyond, int64_t(1) << 31, int64_t(-1)}) {
    SCOPED_TRACE(size);
    try {
      stream->SetSize(size);
      ADD_FAILURE() << "no error";
    } catch (const EBRNError& error) {
      EXPECT_EQ(error.ErrorCode, 1011);
    }
  }
  EXPECT_THROW(stream->Seek(beyond, soBeginning), EBRNError);
  EXPECT_EQ(stream->GetSize(), 10);
  EXPECT_EQ(stream->GetPosition(), 8);
  stream->SetSize(int32_t(4));
  EXPECT_EQ(stream->GetSize(), 4);
  EXPECT_TRUE(dynamic_cast<TBRNBlobStream&>(*stream).GetModified());
}

TEST_P(BlobStreamTest, ModesAndStates) {
  Insert(1, {5});
  auto docs = Docs();
  TField& field = docs->FieldByName("Body");
  ExpectDatabaseError([&] { docs->CreateBlobStream(field, bmWrite); },
                      "Table is not in edit or insert mode");
  ExpectDatabaseError([&] { docs->CreateBlobStream(field, bmReadWrite); },
                      "Table is not in edit or insert mode");
  const uint8_t byte = 1;
  ExpectDatabaseError([&] { docs->CreateBlobStream(field, bmRead)->Write(&byte, 1); },
                      "Field 'Body' cannot be modified");
  docs->Edit();
  field.ReadOnly = true;
  ExpectDatabaseError([&] { docs->CreateBlobStream(field, bmWrite); },
                      "Field 'Body' cannot be modified");
  field.ReadOnly = false;
  docs->Cancel();

  // Without an active record the stream is empty and does nothing.
  Run("DELETE FROM Docs");
  auto empty = Docs();
  std::unique_ptr<TStream> stream = empty->CreateBlobStream(empty->FieldByName("Body"), bmRead);
  uint8_t buffer[4];
  EXPECT_EQ(stream->Read(buffer, 4), 0);
  EXPECT_EQ(stream->Seek(int64_t(2), soBeginning), 0);
  EXPECT_EQ(stream->GetSize(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sessions, BlobStreamTest, ::testing::Values(stLocal, stRemote),
                         test::SessionTypeName);

}  // namespace
}  // namespace brn

#include "sessions/engine_settings.h"

#include <gtest/gtest.h>

#include <functional>

#include "foundation/test_support.h"
#include "foundation/text/environment.h"
#include "sessions/engine_manager.h"
#include "sessions/test_session.h"

namespace brn {
namespace {

using testing::CaughtError;

TBRNDigest digestOf(const std::string& text) {
  TBRNDigest digest;
  digest.DigestString(text);
  return digest;
}

TEST(EngineSettings, DefaultsAfterConstruction) {
  TBRNEngineManager engine;
  const TBRNEngineManagerSettings& s = *engine.Settings;
  EXPECT_TRUE(s.GetStandardNullBehavior());
  EXPECT_FALSE(s.GetLargeFileSupport());
  EXPECT_FALSE(s.GetExclusiveFileAccess());
  EXPECT_EQ(s.GetSignature(), "brn_watermark");
  EXPECT_TRUE(s.GetSignatureDigest().Equals(digestOf("brn_watermark")));
  EXPECT_EQ(s.GetEncryptionPassword(), "quillharbor");
  EXPECT_TRUE(s.GetEncryptionDigest().Equals(digestOf("quillharbor")));
  EXPECT_EQ(s.GetConfigName(), "BRNConfig");
  EXPECT_EQ(s.GetConfigExtension(), ".BRNCfg");
  EXPECT_EQ(s.GetLockExtension(), ".BRNLck");
  EXPECT_EQ(s.GetLogExtension(), ".BRNLog");
  EXPECT_EQ(s.GetMaxLogFileSize(), 1048576);
  EXPECT_EQ(s.GetLogCategories(), 7u);
  EXPECT_EQ(s.GetCatalogName(), "BRNDatabase");
  EXPECT_EQ(s.GetCatalogExtension(), ".BRNCat");
  EXPECT_EQ(s.GetTableFileExtension(TBRNTableFileKind::Rows), ".BRNTbl");
  EXPECT_EQ(s.GetTableFileExtension(TBRNTableFileKind::Indexes), ".BRNIdx");
  EXPECT_EQ(s.GetTableFileExtension(TBRNTableFileKind::Blobs), ".BRNBlb");
  EXPECT_EQ(s.GetTableFileExtension(TBRNTableFileKind::PublishedUpdates), ".BRNPbl");
  EXPECT_EQ(s.GetOldExtension(), ".Old");
  EXPECT_EQ(s.GetBackupExtension(), ".BRNBkp");
  EXPECT_EQ(s.GetUpdateExtension(), ".BRNUpd");
  EXPECT_EQ(s.GetTempTablesPath(), engine.Environment->GetTempPath());
  EXPECT_TRUE(s.GetShowUserPasswords());
  EXPECT_TRUE(s.GetShowDatabaseCatalogVersions());
}

// Every setter with a value different from the current one, applied to the
// settings of an active engine: each raises 408 and leaves the value.
TEST(EngineSettings, EverySetterRaises408WhileTheEngineIsActive) {
  TBRNEngineManager engine;
  TBRNEngineManagerSettings& s = *engine.Settings;
  struct Case {
    const char* name;
    std::function<void()> change;
    std::function<bool()> unchanged;
  };
  const Case cases[] = {
      {"StandardNullBehavior", [&] { s.SetStandardNullBehavior(false); },
       [&] { return s.GetStandardNullBehavior(); }},
      {"LargeFileSupport", [&] { s.SetLargeFileSupport(true); },
       [&] { return !s.GetLargeFileSupport(); }},
      {"ExclusiveFileAccess", [&] { s.SetExclusiveFileAccess(true); },
       [&] { return !s.GetExclusiveFileAccess(); }},
      {"Signature", [&] { s.SetSignature("other"); },
       [&] {
         return s.GetSignature() == "brn_watermark" &&
                s.GetSignatureDigest().Equals(digestOf("brn_watermark"));
       }},
      {"EncryptionPassword", [&] { s.SetEncryptionPassword("QuillHarbor"); },
       [&] { return s.GetEncryptionPassword() == "quillharbor"; }},
      {"ConfigMemory", [&] { s.SetConfigMemory(true); }, [&] { return !s.GetConfigMemory(); }},
      {"ConfigPath", [&] { s.SetConfigPath("/x/"); }, [&] { return s.GetConfigPath().empty(); }},
      {"ConfigName", [&] { s.SetConfigName("Other"); },
       [&] { return s.GetConfigName() == "BRNConfig"; }},
      {"MaxLogFileSize", [&] { s.SetMaxLogFileSize(300000); },
       [&] { return s.GetMaxLogFileSize() == 1048576; }},
      {"LogCategories", [&] { s.SetLogCategories(1); }, [&] { return s.GetLogCategories() == 7u; }},
      {"TableExtension", [&] { s.SetTableExtension(".Tbl"); },
       [&] { return s.GetTableExtension() == ".BRNTbl"; }},
      {"TempTablesPath", [&] { s.SetTempTablesPath("/elsewhere/"); },
       [&] { return s.GetTempTablesPath() == engine.Environment->GetTempPath(); }},
      {"ShowUserPasswords", [&] { s.SetShowUserPasswords(false); },
       [&] { return s.GetShowUserPasswords(); }},
  };
  engine.Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EBRNException e = CaughtError(c.change);
    EXPECT_EQ(e.ErrorCode, 408);
    EXPECT_EQ(e.ErrorMessage,
              "The Brindle engine cannot be open when performing this operation (MODIFY ENGINE)");
    EXPECT_TRUE(c.unchanged());
  }
  engine.Stop();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NO_THROW(c.change());
    EXPECT_FALSE(c.unchanged());
  }
}

TEST(EngineSettings, EqualValuesNeverRaiseWhileActive) {
  TBRNEngineManager engine;
  TBRNEngineManagerSettings& s = *engine.Settings;
  engine.Start();
  // Names compare without regard to case; secrets ignore trailing blanks.
  EXPECT_NO_THROW(s.SetConfigName("brnconfig"));
  EXPECT_NO_THROW(s.SetTableExtension(".brntbl"));
  EXPECT_NO_THROW(s.SetSignature("brn_watermark  "));
  EXPECT_NO_THROW(s.SetStandardNullBehavior(true));
  EXPECT_NO_THROW(s.SetMaxLogFileSize(1048576));
  EXPECT_EQ(s.GetConfigName(), "BRNConfig");
  EXPECT_EQ(s.GetSignature(), "brn_watermark");
  // A small log size is clamped first, so it differs and raises.
  EXPECT_EQ(CaughtError([&] { s.SetMaxLogFileSize(0); }).ErrorCode, 408);
}

TEST(EngineSettings, MaxLogFileSizeClampsToItsMinimum) {
  TBRNEngineManager engine;
  TBRNEngineManagerSettings& s = *engine.Settings;
  const struct {
    int32_t given, stored;
  } cases[] = {{0, 262144},      {-5, 262144},     {262143, 262144},
               {262144, 262144}, {262145, 262145}, {5000000, 5000000}};
  for (const auto& c : cases) {
    s.SetMaxLogFileSize(c.given);
    EXPECT_EQ(s.GetMaxLogFileSize(), c.stored) << c.given;
  }
}

TEST(EngineSettings, SignatureDigestFollowsAndDefaultStaysValid) {
  TBRNEngineManager engine;
  TBRNEngineManagerSettings& s = *engine.Settings;
  s.SetSignature("site-mark");
  EXPECT_TRUE(s.GetSignatureDigest().Equals(digestOf("site-mark")));
  EXPECT_TRUE(s.IsValidSignature(digestOf("site-mark")));
  EXPECT_TRUE(s.IsValidSignature(digestOf("brn_watermark")));
  EXPECT_FALSE(s.IsValidSignature(digestOf("Site-Mark")));
  s.SetEncryptionPassword("secret");
  EXPECT_TRUE(s.GetEncryptionDigest().Equals(digestOf("secret")));
}

TEST(EngineSettings, AssignCopiesEverythingAndRaisesWhileActiveEvenWhenEqual) {
  TBRNEngineManager engine;
  TBRNEngineManagerSettings& s = *engine.Settings;
  s.SetSignature("site-mark");
  s.SetEncryptionPassword("secret");
  s.SetTableBlobExtension(".Blb");
  s.SetMaxLogFileSize(400000);
  s.SetShowDatabaseCatalogVersions(false);

  TBRNEngineManager other;
  other.Settings->Assign(&s);
  const TBRNEngineManagerSettings& copy = *other.Settings;
  EXPECT_EQ(copy.GetSignature(), "site-mark");
  EXPECT_TRUE(copy.GetSignatureDigest().Equals(digestOf("site-mark")));
  EXPECT_TRUE(copy.GetEncryptionDigest().Equals(digestOf("secret")));
  EXPECT_EQ(copy.GetTableBlobExtension(), ".Blb");
  EXPECT_EQ(copy.GetMaxLogFileSize(), 400000);
  EXPECT_FALSE(copy.GetShowDatabaseCatalogVersions());
  EXPECT_NO_THROW(other.Settings->Assign(nullptr));

  other.Start();
  EXPECT_EQ(CaughtError([&] { other.Settings->Assign(&s); }).ErrorCode, 408);
}

TEST(EngineSettings, SessionCopyIsGatedBySessionNotEngine) {
  TBRNEngineManager engine;
  testing::TestEngineSession* session = new testing::TestEngineSession(&engine);
  TBRNLocalSessionEngineManagerSettings own(&engine, session, "/tmp/");
  own.Assign(engine.Settings.get());
  engine.Start();
  // The engine is active, the session closed: the session's copy may change.
  EXPECT_NO_THROW(own.SetConfigName("Mine"));
  EXPECT_EQ(CaughtError([&] { engine.Settings->SetConfigName("Other"); }).ErrorCode, 408);
  EXPECT_EQ(engine.Settings->GetConfigName(), "BRNConfig");
  session->OpenSession("id", "name", "");
  EBRNException e = CaughtError([&] { own.SetConfigName("Again"); });
  EXPECT_EQ(e.ErrorCode, 408);
  EXPECT_EQ(own.GetConfigName(), "Mine");
  session->CloseSession();
  engine.Stop();  // frees the session
}

}  // namespace
}  // namespace brn

#include "metadata/config/config_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/file_test_support.h"
#include "foundation/files/fault_file_manager.h"
#include "foundation/files/os_file_manager.h"
#include "foundation/test_lockable.h"
#include "foundation/test_support.h"
#include "foundation/text/environment.h"
#include "foundation/text/exception.h"
#include "metadata/config/config.h"
#include "metadata/config/users_roles.h"

namespace brn {
namespace {

using testing::CaughtError;
using testing::ReadWholeFile;
using testing::TempDirectory;
using testing::TestLockable;
using testing::TestLockManager;
using testing::WriteWholeFile;

struct Settings {
  std::string Signature = "brindle engine";
  std::string Password = "quill";
  bool Encrypt = true;
};

// The engine side of a configuration file: its signature (a file with the
// default signature is accepted too) and its encryption.
class TestConfigFile : public TBRNConfigObjectManager {
 public:
  TestConfigFile(TBRNLockableConfigObject* root, TBRNLockManager* locks, TBRNFileManager* files,
                 Settings settings)
      : TBRNConfigObjectManager(root, locks, files), settings_(std::move(settings)) {}

  void GetSignatureDigest(TBRNDigest& digest) override { digest.DigestString(settings_.Signature); }
  bool IsSignatureValid(const TBRNDigest& digest) override {
    TBRNDigest current, fallback;
    current.DigestString(settings_.Signature);
    fallback.DigestString("default signature");
    return digest.Equals(current) || digest.Equals(fallback);
  }
  bool IsEncrypted() override { return settings_.Encrypt; }
  void GetEncryptionDigest(TBRNDigest& digest) override { digest.DigestString(settings_.Password); }
  // Closing fails with an engine error while FailClose is set.
  void CloseFile() override {
    if (FailClose) throw EBRNException(600, "close failed");
    TBRNConfigObjectManager::CloseFile();
  }

  bool FailClose = false;

 private:
  Settings settings_;
};

// One session: its configuration, its slot in the lock file and the manager
// of the configuration file.
class Session {
 public:
  Session(TBRNFileManager& files, const std::string& folder, Settings settings = {},
          const std::string& fileName = "config.BRNCfg")
      : owner(testing::ConfigurationObject()),
        locks(&owner, &files),
        file(&config, &locks, &files, std::move(settings)) {
    locks.SetLockFileName(folder + "/config.BRNLck");
    locks.Open();
    file.FileName = folder + "/" + fileName;
    file.BackupFileName = file.FileName + ".Backup";
    file.InitializeHeader();
  }

  TBRNConfig config;
  TestLockable owner;
  TestLockManager locks;
  TestConfigFile file;
};

TBRNUser* addNamedUser(TBRNConfig& config, const std::string& name) {
  auto* user = new TBRNUser(&config);
  user->Name = name;
  user->SetPassword("secret");
  user->LockNumber = config.NextUserLockNumber();
  try {
    config.Users->AddObject(user);
  } catch (...) {
    delete user;
    throw;
  }
  return user;
}

bool hasUser(TBRNConfig& config, const std::string& name) {
  return config.Users->FindByName(name, false) != nullptr;
}

void commitNewUser(Session& session, const std::string& name) {
  session.file.BeginUpdate();
  addNamedUser(session.config, name);
  session.file.CommitUpdate();
}

struct StoredHeader {
  TBRNBytes Signature;
  uint8_t EncryptedFlag = 0;
  int32_t Counter = 0;
  int32_t Reserved = 0;
  int32_t BodyLength = 0;
};

StoredHeader parseStoredHeader(const std::string& bytes, const std::string& password,
                               bool encrypted) {
  TBRNMemoryStream header;
  header.SetSize(kConfigFileHeaderSize);
  std::memcpy(header.GetMemory(), bytes.data(), kConfigFileHeaderSize);
  if (encrypted) {
    TBRNDigest key;
    key.DigestString(password);
    header.SetEncryptionKey(key);
    header.Decrypt(kConfigFileHeaderSize);
  }
  StoredHeader fields;
  fields.Signature.assign(header.GetMemory(), header.GetMemory() + 16);
  fields.EncryptedFlag = header.GetMemory()[20];
  std::memcpy(&fields.Counter, header.GetMemory() + 37, 4);
  std::memcpy(&fields.Reserved, header.GetMemory() + 41, 4);
  std::memcpy(&fields.BodyLength, header.GetMemory() + 45, 4);
  return fields;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  std::string configFile() const { return dir_ / "config.BRNCfg"; }
  std::string backupFile() const { return dir_ / "config.BRNCfg.Backup"; }
  StoredHeader storedHeader() {
    return parseStoredHeader(ReadWholeFile(configFile()), "quill", true);
  }

  TempDirectory dir_;
  TBRNEnvironment environment_;
  TBRNOSFileManager files_{&environment_};
};

TEST_F(ConfigFileTest, NewFileIsTheHeaderAndAPaddedEncryptedBody) {
  Session session(files_, dir_.Path);
  session.file.Open();
  std::string bytes = ReadWholeFile(configFile());
  StoredHeader header = storedHeader();
  EXPECT_EQ(header.Counter, 1);
  EXPECT_EQ(header.EncryptedFlag, 1);
  EXPECT_GT(header.BodyLength, 0);
  EXPECT_EQ(header.BodyLength % 8, 0);
  EXPECT_EQ(int64_t(bytes.size()), kConfigFileHeaderSize + header.BodyLength);
  TBRNDigest signature;
  signature.DigestString("brindle engine");
  EXPECT_EQ(header.Signature, signature.Digest);
  EXPECT_NE(header.Reserved, 0);  // the body's CRC

  // The body decrypts to the configuration stream of the new root.
  TBRNMemoryStream body;
  body.SetSize(header.BodyLength);
  std::memcpy(body.GetMemory(), bytes.data() + kConfigFileHeaderSize, size_t(header.BodyLength));
  TBRNDigest key;
  key.DigestString("quill");
  body.SetEncryptionKey(key);
  body.Decrypt(header.BodyLength);
  body.SetPosition(0);
  EXPECT_EQ(body.ReadInt64(), kNewestFormatVersion);
  TBRNConfig reader;
  body.SetPosition(0);
  reader.LoadFromStream(body);
  EXPECT_TRUE(hasUser(reader, "Administrator"));
  EXPECT_EQ(session.file.UpdateCounter, 1);
}

TEST_F(ConfigFileTest, CommitWritesOnlyAChangeAndKeepsTheBackupCopy) {
  Session session(files_, dir_.Path);
  session.file.Open();
  std::string created = ReadWholeFile(configFile());

  session.file.BeginUpdate();
  session.file.CommitUpdate();
  EXPECT_EQ(ReadWholeFile(configFile()), created);
  EXPECT_FALSE(std::filesystem::exists(backupFile()));

  commitNewUser(session, "Fred");
  EXPECT_EQ(storedHeader().Counter, 2);
  EXPECT_EQ(ReadWholeFile(backupFile()), created);
  std::string withFred = ReadWholeFile(configFile());

  // A cancelled update throws its changes away and writes nothing.
  session.file.BeginUpdate();
  addNamedUser(session.config, "Anna");
  session.file.CancelUpdate();
  EXPECT_FALSE(hasUser(session.config, "Anna"));
  EXPECT_TRUE(hasUser(session.config, "Fred"));
  EXPECT_EQ(ReadWholeFile(configFile()), withFred);
}

TEST_F(ConfigFileTest, DeletingTheFileKeepsABackupCopy) {
  Session session(files_, dir_.Path);
  session.file.Open();
  commitNewUser(session, "Fred");
  std::string last = ReadWholeFile(configFile());
  session.file.DeleteFile();
  EXPECT_FALSE(session.file.Opened);
  EXPECT_FALSE(std::filesystem::exists(configFile()));
  EXPECT_EQ(ReadWholeFile(backupFile()), last);
}

// A delete whose backup copy, close or delete fails reports the failure
// and leaves the file where it was: no success while the file remains.
TEST_F(ConfigFileTest, AFailedStepOfTheDeleteReachesTheCallerAndKeepsTheFile) {
  enum Step { Backup, Close, Delete };
  const struct {
    Step step;
    bool openAfter;  // the file is still open after the failure
    bool backupMade;
  } cases[] = {{Backup, true, false}, {Close, true, true}, {Delete, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.step));
    std::filesystem::remove_all(backupFile());
    Session session(files_, dir_.Path);
    session.file.Open();
    commitNewUser(session, "Fred" + std::to_string(int(c.step)));
    std::string last = ReadWholeFile(configFile());
    std::filesystem::remove(backupFile());
    std::unique_ptr<TBRNFileStream> holder;
    switch (c.step) {
      case Backup:  // something that is not a file stands where the copy goes
        std::filesystem::create_directory(backupFile());
        break;
      case Close:
        session.file.FailClose = true;
        break;
      case Delete:  // another stream keeps the file open
        holder = files_.OpenFile(configFile(), false, true, false);
        break;
    }
    EXPECT_THROW(session.file.DeleteFile(), EBRNException);
    EXPECT_EQ(session.file.Opened, c.openAfter);
    EXPECT_EQ(ReadWholeFile(configFile()), last);
    EXPECT_EQ(std::filesystem::is_regular_file(backupFile()), c.backupMade);
    session.file.FailClose = false;
  }
}

TEST_F(ConfigFileTest, ASecondSessionReloadsOnlyAfterACommit) {
  Session first(files_, dir_.Path);
  first.file.Open();
  Session second(files_, dir_.Path);
  second.file.Open();
  TBRNUser* administrator = second.config.AdministratorUser;

  second.file.BeginRead();  // before the commit: nothing to see
  EXPECT_FALSE(hasUser(second.config, "Fred"));
  second.file.EndRead();

  commitNewUser(first, "Fred");
  second.file.BeginRead();
  EXPECT_TRUE(hasUser(second.config, "Fred"));
  EXPECT_EQ(second.config.AdministratorUser, administrator);
  EXPECT_EQ(second.config.Users->GetItem(1), administrator);
  EXPECT_EQ(second.file.UpdateCounter, 2);
  second.file.EndRead();
}

TEST_F(ConfigFileTest, HeaderChecksNameWhatDoesNotMatch) {
  Settings plain;
  plain.Encrypt = false;
  Settings otherPassword;
  otherPassword.Password = "harbor";
  Settings otherSignature;
  otherSignature.Signature = "another engine";
  Settings defaultSignature;
  defaultSignature.Signature = "default signature";
  struct Case {
    const char* name;
    Settings writer, reader;
    const char* message;  // nullptr: opens
  };
  const Case cases[] = {
      {"other signature", otherSignature, Settings{},
       "The signature does not match the default or current engine signature"},
      {"default signature", defaultSignature, Settings{}, nullptr},
      {"other password", otherPassword, Settings{},
       "The encryption password does not match the default or current engine encryption "
       "password, which may be caused by the character set not matching the character set in "
       "use by the engine"},
      {"encrypted file, plain engine", Settings{}, plain,
       "The encryption status does not match the encryption status in the configuration or "
       "catalog"},
      {"plain file, encrypting engine", plain, Settings{},
       "The encryption status does not match the encryption status in the configuration or "
       "catalog"},
  };
  for (const Case& c : cases) {
    TempDirectory dir;
    {
      Session writer(files_, dir.Path, c.writer);
      writer.file.Open();
    }
    Session reader(files_, dir.Path, c.reader);
    if (c.message == nullptr) {
      EXPECT_NO_THROW(reader.file.Open()) << c.name;
      continue;
    }
    EBRNException e = CaughtError([&] { reader.file.Open(); });
    EXPECT_EQ(e.ErrorCode, 100) << c.name;
    EXPECT_EQ(
        e.ErrorMessage,
        std::string("There is an error in the metadata for the configuration  (") + c.message + ")")
        << c.name;
    EXPECT_EQ(reader.file.FileStream, nullptr) << c.name;
  }
}

TEST_F(ConfigFileTest, ReadOnlyFileRefusesUpdates) {
  {
    Session writer(files_, dir_.Path);
    writer.file.Open();
  }
  std::filesystem::permissions(configFile(), std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::group_read |
                                                 std::filesystem::perms::others_read);
  Session reader(files_, dir_.Path);
  reader.file.Open();
  EXPECT_TRUE(reader.config.ReadOnly);
  EXPECT_TRUE(hasUser(reader.config, "Administrator"));
  EBRNException e = CaughtError([&] { reader.file.BeginUpdate(); });
  EXPECT_EQ(e.ErrorCode, 101);
  EXPECT_EQ(e.ErrorMessage,
            "There was an error updating the configuration  (The file is read-only)");
}

// A crash while the file is rewritten leaves a body that is cut short or
// differs from its CRC: the reader takes the backup copy, or refuses with
// the file's name when there is none.
TEST_F(ConfigFileTest, DamagedBodyFallsBackToTheBackupCopy) {
  enum Damage { Cut, Flip };
  struct Case {
    Damage damage;
    bool backup;
  };
  for (Case c : {Case{Cut, true}, Case{Flip, true}, Case{Cut, false}, Case{Flip, false}}) {
    SCOPED_TRACE(std::string(c.damage == Cut ? "cut" : "flipped") +
                 (c.backup ? " with backup" : " without backup"));
    TempDirectory dir;
    std::string name = dir / "config.BRNCfg";
    {
      Session writer(files_, dir.Path);
      writer.file.Open();
      if (c.backup) commitNewUser(writer, "Fred");
    }
    std::string bytes = ReadWholeFile(name);
    StoredHeader header = parseStoredHeader(bytes, "quill", true);
    size_t middle = size_t(kConfigFileHeaderSize + header.BodyLength / 2);
    if (c.damage == Cut) {
      bytes.resize(middle);
    } else {
      bytes[middle] = char(bytes[middle] ^ 0x40);
    }
    WriteWholeFile(name, bytes);

    Session reader(files_, dir.Path);
    if (!c.backup) {
      EBRNException e = CaughtError([&] { reader.file.Open(); });
      EXPECT_EQ(e.ErrorCode, 100);
      EXPECT_NE(e.ErrorMessage.find("The file " + name + " is damaged"), std::string::npos)
          << e.ErrorMessage;
      continue;
    }
    reader.file.Open();
    EXPECT_TRUE(hasUser(reader.config, "Administrator"));
    EXPECT_FALSE(hasUser(reader.config, "Fred"));  // the file as before the last rewrite

    // The next commit writes a sound file and keeps the sound backup copy.
    std::string backup = ReadWholeFile(dir / "config.BRNCfg.Backup");
    commitNewUser(reader, "Anna");
    EXPECT_EQ(ReadWholeFile(dir / "config.BRNCfg.Backup"), backup);
    Session later(files_, dir.Path);
    later.file.Open();
    EXPECT_TRUE(hasUser(later.config, "Anna"));
  }
}

// A creator that stopped before writing anything that counts leaves at most
// a header's worth of zero bytes: the next session makes the file again. A
// file with anything else in it may hold data and is refused, untouched.
TEST_F(ConfigFileTest, FileLeftByAStoppedCreatorIsMadeAgainOnlyWhenItHoldsNothing) {
  const std::string zeroHeader(size_t(kConfigFileHeaderSize), '\0');
  const struct {
    const char* name;
    std::string bytes;
    const char* message;  // nullptr: made again
  } cases[] = {
      {"empty", "", nullptr},
      {"short zeros", std::string(20, '\0'), nullptr},
      {"header of zeros", zeroHeader, nullptr},
      {"short, not zero", std::string(20, 'x'), "has no complete header"},
      {"header, not zero", std::string(size_t(kConfigFileHeaderSize), 'x'),
       "The encryption password does not match"},
      {"zero header and a body", zeroHeader + std::string(64, 'b'),
       "has an empty header: its creation did not complete"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(configFile(), c.bytes);
    Session session(files_, dir_.Path);
    int32_t saves = 0;
    session.file.OnBeforeSave = [&](TBRNLockableConfigObject*) { ++saves; };
    if (c.message != nullptr) {
      EBRNException e = CaughtError([&] { session.file.Open(); });
      EXPECT_EQ(e.ErrorCode, 100);
      EXPECT_NE(e.ErrorMessage.find(c.message), std::string::npos) << e.ErrorMessage;
      EXPECT_EQ(saves, 0);
      EXPECT_EQ(ReadWholeFile(configFile()), c.bytes);
      continue;
    }
    session.file.Open();
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(storedHeader().Counter, 1);
    Session reader(files_, dir_.Path);
    reader.file.Open();
    EXPECT_TRUE(hasUser(reader.config, "Administrator"));
  }
}

// A file that a stopped creation or a failed rewrite left without a
// complete header is read from its backup copy, by every session and also
// when the header is all that is missing; the copy is named when it cannot
// stand in. The file is never made again over a backup copy.
TEST_F(ConfigFileTest, FileWithoutACompleteHeaderIsReadFromTheBackupCopy) {
  {
    Session writer(files_, dir_.Path);
    writer.file.Open();
    commitNewUser(writer, "Fred");
    commitNewUser(writer, "Anna");  // the backup copy now holds Fred
  }
  const std::string backup = ReadWholeFile(backupFile());
  const std::string latest = ReadWholeFile(configFile());
  const std::string zeroHeader(size_t(kConfigFileHeaderSize), '\0');
  const std::string body = latest.substr(size_t(kConfigFileHeaderSize));
  const struct {
    const char* name;
    std::string file;
    std::string backup;  // empty: none
    const char* message;  // nullptr: read from the copy
  } cases[] = {
      {"empty", "", backup, nullptr},
      {"header of zeros", zeroHeader, backup, nullptr},
      {"short", latest.substr(0, 20), backup, nullptr},
      {"zero header and a body", zeroHeader + body, backup, nullptr},
      {"copy damaged", zeroHeader, backup.substr(0, backup.size() / 2),
       "has an empty header: its creation did not complete and its backup copy"},
      {"short, copy damaged", latest.substr(0, 20), backup.substr(0, 30),
       "has no complete header and its backup copy"},
      {"short, no copy", latest.substr(0, 20), "", "has no complete header"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteWholeFile(configFile(), c.file);
    std::filesystem::remove(backupFile());
    if (!c.backup.empty()) WriteWholeFile(backupFile(), c.backup);
    Session session(files_, dir_.Path);
    int32_t saves = 0;
    session.file.OnBeforeSave = [&](TBRNLockableConfigObject*) { ++saves; };
    if (c.message != nullptr) {
      EBRNException e = CaughtError([&] { session.file.Open(); });
      EXPECT_EQ(e.ErrorCode, 100);
      EXPECT_NE(e.ErrorMessage.find(c.message), std::string::npos) << e.ErrorMessage;
      if (!c.backup.empty()) {
        EXPECT_NE(e.ErrorMessage.find(backupFile()), std::string::npos) << e.ErrorMessage;
      }
      EXPECT_EQ(saves, 0);
      EXPECT_EQ(ReadWholeFile(configFile()), c.file);
      continue;
    }
    session.file.Open();
    EXPECT_EQ(saves, 0);
    EXPECT_TRUE(hasUser(session.config, "Fred"));
    EXPECT_FALSE(hasUser(session.config, "Anna"));
    EXPECT_EQ(session.file.UpdateCounter, 2);
    EXPECT_EQ(ReadWholeFile(configFile()), c.file);  // reading writes nothing

    // The next commit keeps the copy and writes the file whole again.
    commitNewUser(session, "Olga");
    EXPECT_EQ(ReadWholeFile(backupFile()), backup);
    Session reader(files_, dir_.Path);
    reader.file.Open();
    EXPECT_TRUE(hasUser(reader.config, "Olga"));
    EXPECT_TRUE(hasUser(reader.config, "Fred"));
    EXPECT_EQ(reader.file.UpdateCounter, 3);
  }
}

TEST_F(ConfigFileTest, FileWithoutChecksumStillLoads) {
  Settings plain;
  plain.Encrypt = false;
  {
    Session writer(files_, dir_.Path, plain);
    writer.file.Open();
    commitNewUser(writer, "Fred");
  }
  std::string bytes = ReadWholeFile(configFile());
  std::memset(bytes.data() + 41, 0, 4);  // as an engine without checksums left it
  WriteWholeFile(configFile(), bytes);
  Session reader(files_, dir_.Path, plain);
  reader.file.Open();
  EXPECT_TRUE(hasUser(reader.config, "Fred"));

  // A stale checksum (the counter copy does not match) is ignored as well.
  bytes = ReadWholeFile(configFile());
  std::memset(bytes.data() + 41, 0x5A, 4);
  std::memset(bytes.data() + 49, 0, 4);
  WriteWholeFile(configFile(), bytes);
  Session stale(files_, dir_.Path, plain);
  stale.file.Open();
  EXPECT_TRUE(hasUser(stale.config, "Fred"));
}

// A rewrite that fails puts the previous file back (in memory too) and
// leaves the update to be cancelled.
TEST(ConfigFileFaultTest, FailedRewriteKeepsThePreviousFile) {
  enum Fault { Write, Short, Flush };
  for (Fault fault : {Write, Short, Flush}) {
    SCOPED_TRACE(int(fault));
    TBRNEnvironment environment;
    TBRNFaultFileManager files(&environment);
    Session session(files, "/memory");
    session.file.Open();
    commitNewUser(session, "Fred");
    auto fileBytes = [&]() {
      std::unique_ptr<TBRNFileStream> stream =
          files.OpenFile(session.file.FileName, false, true, false);
      std::string bytes(size_t(stream->GetSize()), '\0');
      stream->Read(bytes.data(), int32_t(bytes.size()));
      return bytes;
    };
    std::string before = fileBytes();

    session.file.BeginUpdate();
    addNamedUser(session.config, "Anna");
    if (fault == Write) files.FailWrite(1);
    if (fault == Short) files.ShortWrite(1, 10);
    if (fault == Flush) files.FailFlush(1);
    EXPECT_EQ(CaughtError([&] { session.file.CommitUpdate(); }).ErrorCode, 600);
    files.Disarm();
    EXPECT_TRUE(session.file.InUpdate);
    session.file.CancelUpdate();
    EXPECT_FALSE(hasUser(session.config, "Anna"));
    EXPECT_EQ(fileBytes(), before);

    Session other(files, "/memory");
    other.file.Open();
    EXPECT_TRUE(hasUser(other.config, "Fred"));
    EXPECT_FALSE(hasUser(other.config, "Anna"));
  }
}

// A commit hit by write and flush faults, single or persistent (a full disk
// stays full, so putting the previous file back fails too): after the
// fault is gone, the session that failed, a reopen of it and a new session
// all see the last committed root, or the new one when the commit
// succeeded. The file never reads as new after a reported failure.
TEST(ConfigFileFaultTest, CommitFaultsLeaveTheLastCommittedRootReadable) {
  using A = TBRNFaultAction;
  // Calls counted from the commit: write 1 is the backup copy, 2 the body,
  // 3 the header, 4 the copy put back; flush 1 the backup copy, 2 the file,
  // 3 the file put back.
  struct Fault {
    A action;
    int32_t nth;
    bool persistent;
  };
  const struct {
    const char* name;
    std::vector<Fault> faults;
    bool committed;
  } cases[] = {
      {"backup copy", {{A::FailWrite, 1, false}}, false},
      {"backup copy, disk full", {{A::FailWrite, 1, true}}, false},
      {"backup copy flush", {{A::FailFlush, 1, false}}, false},
      {"body", {{A::FailWrite, 2, false}}, false},
      {"body, disk full", {{A::FailWrite, 2, true}}, false},
      {"body, short, disk full", {{A::ShortWrite, 2, false}, {A::FailWrite, 3, true}}, false},
      {"header", {{A::FailWrite, 3, false}}, false},
      {"header, disk full", {{A::FailWrite, 3, true}}, false},
      {"header, short, disk full", {{A::ShortWrite, 3, false}, {A::FailWrite, 4, true}}, false},
      {"flush", {{A::FailFlush, 2, false}}, false},
      {"flush, then disk full", {{A::FailFlush, 2, false}, {A::FailWrite, 4, true}}, false},
      {"every flush", {{A::FailFlush, 2, true}}, false},
      {"copy put back, short", {{A::FailWrite, 2, false}, {A::ShortWrite, 4, false}}, false},
      {"after the commit", {{A::FailWrite, 5, true}}, true},
  };
  const std::string name = "/memory/config.BRNCfg";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBRNEnvironment environment;
    TBRNFaultFileManager files(&environment);
    Session session(files, "/memory");
    session.file.Open();
    commitNewUser(session, "Fred");

    session.file.BeginUpdate();
    addNamedUser(session.config, "Anna");
    for (const Fault& f : c.faults) files.Arm({f.action, f.nth, f.persistent, ENOSPC, 10, ""});
    bool failed = false;
    try {
      session.file.CommitUpdate();
    } catch (const EBRNException& e) {
      failed = true;
      EXPECT_EQ(e.ErrorCode, 600) << e.ErrorMessage;
    }
    files.Disarm();
    EXPECT_EQ(failed, !c.committed);
    if (failed) session.file.CancelUpdate();
    EXPECT_FALSE(session.file.InUpdate);
    EXPECT_EQ(hasUser(session.config, "Anna"), c.committed);
    EXPECT_TRUE(hasUser(session.config, "Fred"));

    session.file.Close();
    session.file.Open();
    EXPECT_EQ(hasUser(session.config, "Anna"), c.committed);
    EXPECT_TRUE(hasUser(session.config, "Fred"));
    Session other(files, "/memory");
    other.file.Open();
    EXPECT_EQ(hasUser(other.config, "Anna"), c.committed);
    EXPECT_TRUE(hasUser(other.config, "Fred"));

    // The next commit writes a whole file again.
    commitNewUser(other, "Olga");
    Session later(files, "/memory");
    later.file.Open();
    EXPECT_TRUE(hasUser(later.config, "Olga"));
    EXPECT_TRUE(hasUser(later.config, "Fred"));
    EXPECT_EQ(hasUser(later.config, "Anna"), c.committed);
  }
}

std::string memoryFileBytes(TBRNFileManager& files, const std::string& name) {
  std::unique_ptr<TBRNFileStream> stream = files.OpenFile(name, false, true, false);
  std::string bytes(size_t(stream->GetSize()), '\0');
  if (!bytes.empty()) stream->Read(bytes.data(), int32_t(bytes.size()));
  return bytes;
}

// A creation that fails at any write leaves no file (or, when the partly
// written file cannot be deleted, one of zeros that counts as never made),
// no lock and the first error; the next open creates the file afresh. An
// open of an existing file that fails never deletes it.
TEST(ConfigFileFaultTest, FailedCreationLeavesNoFileAndTheNextOpenCreatesIt) {
  using A = TBRNFaultAction;
  const std::string name = "/memory/config.BRNCfg";
  const struct {
    const char* step;
    A action;
    int32_t nth;
    bool existing;  // the file is there before the failing open
    bool holdOpen;  // another stream keeps the new file open: the delete fails
  } cases[] = {
      {"size to header", A::FailSetSize, 1, false, false},
      {"body", A::FailWrite, 1, false, false},
      {"body, short", A::ShortWrite, 1, false, false},
      {"header", A::FailWrite, 2, false, false},
      {"header, short", A::ShortWrite, 2, false, false},
      {"flush", A::FailFlush, 1, false, false},
      {"body, undeletable", A::FailWrite, 1, false, true},
      {"read of an existing file", A::FailRead, 1, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    TBRNEnvironment environment;
    TBRNFaultFileManager files(&environment);
    std::string before;
    if (c.existing) {
      Session writer(files, "/memory");
      writer.file.Open();
      commitNewUser(writer, "Fred");
      before = memoryFileBytes(files, name);
    }
    {
      Session session(files, "/memory");
      std::unique_ptr<TBRNFileStream> holder;
      if (c.holdOpen) {
        session.file.OnBeforeSave = [&](TBRNLockableConfigObject*) {
          holder = files.OpenFile(name, false, true, false);
        };
      }
      // An existing file is one that cannot be read at all.
      files.Arm({c.action, c.nth, c.existing, ENOSPC, 10, name});
      EBRNException e = CaughtError([&] { session.file.Open(); });
      files.Disarm();
      EXPECT_EQ(e.ErrorCode, 600);
      EXPECT_EQ(e.ErrorMessage.find("Access denied"), std::string::npos) << e.ErrorMessage;
      EXPECT_FALSE(session.file.Opened);
      EXPECT_EQ(session.file.FileStream, nullptr);
      if (c.existing) {
        EXPECT_EQ(memoryFileBytes(files, name), before);
      } else if (c.holdOpen) {
        EXPECT_EQ(memoryFileBytes(files, name), std::string(size_t(kConfigFileHeaderSize), '\0'));
      } else {
        EXPECT_FALSE(files.FileExists(name));
      }
    }
    // Sound files from here on: the next session opens, creating the file
    // when it is not there, and every lock was given back.
    Session next(files, "/memory");
    int32_t saves = 0;
    next.file.OnBeforeSave = [&](TBRNLockableConfigObject*) { ++saves; };
    next.file.Open();
    EXPECT_EQ(saves, c.existing ? 0 : 1);
    EXPECT_EQ(next.file.UpdateCounter, c.existing ? 2 : 1);
    EXPECT_EQ(hasUser(next.config, "Fred"), c.existing);
    commitNewUser(next, "Anna");
    Session reader(files, "/memory");
    reader.file.Open();
    EXPECT_TRUE(hasUser(reader.config, "Anna"));
  }
}

// ---------------------------------------------------------------------------
// Two processes

// A forked process that runs body and talks through two pipes: the parent
// sends one byte per step, the child answers with int32 results. The child
// leaves with _exit, so nothing it made is freed or reported.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<void(ChildProcess&)>& body) {
    if (pipe(toChild_) != 0 || pipe(fromChild_) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      close(toChild_[1]);
      close(fromChild_[0]);
      try {
        body(*this);
      } catch (...) {
        Report(-99);
      }
      _exit(0);
    }
    close(toChild_[0]);
    close(fromChild_[1]);
  }
  ~ChildProcess() {
    close(toChild_[1]);
    close(fromChild_[0]);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  // Child side.
  void WaitForGo() {
    char c;
    while (read(toChild_[0], &c, 1) < 0) {
    }
  }
  void Report(int32_t value) {
    if (write(fromChild_[1], &value, sizeof value) != sizeof value) _exit(2);
  }
  // Parent side.
  void Go() {
    char c = 'g';
    if (write(toChild_[1], &c, 1) != 1) ADD_FAILURE() << "child gone";
  }
  int32_t Result() {
    int32_t value = -1;
    if (read(fromChild_[0], &value, sizeof value) != sizeof value) return -1;
    return value;
  }

 private:
  pid_t pid_ = -1;
  int toChild_[2] = {-1, -1};
  int fromChild_[2] = {-1, -1};
};

// A session of its own process: its own file manager and so its own open
// files and locks.
Session* sessionInThisProcess(const std::string& folder) {
  auto* environment = new TBRNEnvironment;
  auto* files = new TBRNOSFileManager(environment);
  return new Session(*files, folder);
}

TEST_F(ConfigFileTest, AnotherProcessReloadsAfterACommitAndKeepsItsObjects) {
  Session parent(files_, dir_.Path);
  parent.file.Open();
  ChildProcess child([&](ChildProcess& self) {
    Session* session = sessionInThisProcess(dir_.Path);
    session->file.Open();
    TBRNUser* administrator = session->config.AdministratorUser;
    self.Report(hasUser(session->config, "Fred") ? 2 : 1);
    self.WaitForGo();
    session->file.BeginRead();
    int32_t result = 0;
    if (!hasUser(session->config, "Fred")) result |= 1;
    if (session->config.AdministratorUser != administrator ||
        session->config.Users->GetItem(1) != administrator) {
      result |= 2;
    }
    if (session->file.UpdateCounter != 2) result |= 4;
    session->file.EndRead();
    self.Report(result);
  });
  ASSERT_EQ(child.Result(), 1);
  commitNewUser(parent, "Fred");
  child.Go();
  EXPECT_EQ(child.Result(), 0);
}

TEST_F(ConfigFileTest, TwoProcessesThatFindNoFileCreateItOnce) {
  auto body = [&](ChildProcess& self) {
    Session* session = sessionInThisProcess(dir_.Path);
    int32_t saves = 0;
    session->file.OnBeforeSave = [&](TBRNLockableConfigObject*) { ++saves; };
    self.Report(1);
    self.WaitForGo();
    session->file.Open();
    self.Report(saves * 100 + session->file.UpdateCounter);
  };
  ChildProcess first(body), second(body);
  ASSERT_EQ(first.Result(), 1);
  ASSERT_EQ(second.Result(), 1);
  first.Go();
  second.Go();
  int32_t a = first.Result(), b = second.Result();
  EXPECT_EQ(a + b, 100 + 1 + 1) << a << " " << b;  // one creator, both at counter 1
  EXPECT_EQ(storedHeader().Counter, 1);
}

}  // namespace
}  // namespace brn

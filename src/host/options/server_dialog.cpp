#include "host/options/server_dialog.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "clientserver/components/engine_component.h"
#include "foundation/locks/log_manager.h"

namespace brn {

namespace {

using F = TBRNDialogField;
using P = TBRNDialogPage;

// Decimal integer text within the 32-bit signed range; a minus sign is
// accepted as text and then fails the range of every field.
bool parseInteger(const std::string& text, int64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && value >= INT32_MIN && value <= INT32_MAX;
}

bool folderExists(const std::string& folder) {
  std::error_code error;
  return std::filesystem::is_directory(folder, error);
}

std::string decimal(int64_t value) {
  return std::to_string(value);
}

}  // namespace

std::vector<std::string> SplitMemoLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += text[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string JoinMemoLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

TServerDialog::TServerDialog(TBRNServerDialogView& view) : view_(view) {
  view_.Attach(this);
}

TServerDialog::~TServerDialog() {
  view_.Attach(nullptr);
}

void TServerDialog::FormCreate() {
  view_.ShowPage(P::Server);
  view_.FocusField(F::NameEdit);
}

void TServerDialog::NameEditChange() {
  view_.SetOkEnabled(!view_.GetText(F::NameEdit).empty());
}

void TServerDialog::OnDiskRadioButtonClick() {
  const bool onDisk = view_.GetChecked(F::OnDiskRadioButton);
  if (!onDisk) view_.SetText(F::ConfigPathEdit, "");
  view_.SetEnabled(F::ConfigPathEdit, onDisk);
  view_.SetEnabled(F::SelectPathButton, onDisk);
}

void TServerDialog::SelectPathButtonClick() {
  std::string chosen;
  if (view_.BrowseForFolder(view_.GetText(F::ConfigPathEdit), chosen)) {
    view_.SetText(F::ConfigPathEdit, chosen);
  }
}

void TServerDialog::SelectTempPathButtonClick() {
  std::string chosen;
  if (view_.BrowseForFolder(view_.GetText(F::TempTablesPathEdit), chosen)) {
    view_.SetText(F::TempTablesPathEdit, chosen);
  }
}

std::string TServerDialog::Validate(TBRNDialogPage* page, TBRNDialogField* field) const {
  // Every row runs; only the first failure is kept.
  std::string message;
  F failedField = F::NameEdit;
  P failedPage = P::Server;
  const auto fail = [&](F f, P p, std::string text) {
    if (!message.empty()) return;
    message = std::move(text);
    failedField = f;
    failedPage = p;
  };
  const auto text = [&](F f) { return view_.GetText(f); };
  const auto required = [&](F f, P p, const char* text) {
    if (view_.GetText(f).empty()) fail(f, p, text);
  };
  const auto range = [&](F f, P p, int64_t low, int64_t high, const std::string& text) {
    int64_t value = 0;
    if (!parseInteger(view_.GetText(f), value) || value < low || value > high) fail(f, p, text);
  };
  const auto atLeast = [&](F f, P p, int64_t low, const std::string& text) {
    range(f, p, low, INT32_MAX, text + decimal(low));
  };

  required(F::NameEdit, P::Server, "You must provide a server name");
  required(F::DescriptionMemo, P::Server, "You must provide a server description");
  range(F::ThreadCacheSizeEdit, P::Connections, 1, 4096,
        "You must provide a valid thread cache size value between 1 and 4096");
  range(F::PortEdit, P::Connections, 1, 65535,
        "You must provide a valid port value between 1 and 65535");
  atLeast(F::TimeoutEdit, P::Sessions, 60,
          "You must provide a valid session timeout value greater than or equal to ");
  atLeast(F::DeadSessionIntervalEdit, P::Sessions, 30,
          "You must provide a valid dead session interval value greater than or equal to ");
  atLeast(F::DeadSessionExpirationEdit, P::Sessions, 10,
          "You must provide a valid dead session expiration value greater than or equal to ");
  atLeast(F::MaxDeadSessionsEdit, P::Sessions, 1,
          "You must provide a valid maximum dead sessions value greater than or equal to ");
  if (view_.GetChecked(F::OnDiskRadioButton)) {
    required(F::ConfigPathEdit, P::Configuration, "You must provide a configuration file folder");
    if (!folderExists(text(F::ConfigPathEdit))) {
      fail(F::ConfigPathEdit, P::Configuration, "You must enter a valid configuration file folder");
    }
  }
  atLeast(F::MaxLogFileSizeEdit, P::Configuration, 262144,
          "You must provide a valid maximum log file size greater than or equal to ");
  required(F::ConfigNameEdit, P::Customizations, "You must provide a configuration name");
  required(F::CatalogNameEdit, P::Customizations, "You must provide a catalog name");
  required(F::ConfigExtensionEdit, P::Customizations,
           "You must provide a configuration file extension");
  required(F::LockExtensionsEdit, P::Customizations, "You must provide a lock files extension");
  required(F::LogExtensionEdit, P::Customizations, "You must provide a log file extension");
  required(F::BackupExtensionsEdit, P::Customizations, "You must provide a backup files extension");
  required(F::UpdateExtensionsEdit, P::Customizations,
           "You must provide an update files extension");
  required(F::CatalogExtensionsEdit, P::Customizations,
           "You must provide a catalog files extension");
  required(F::TableExtensionsEdit, P::Customizations, "You must provide a tables file extension");
  required(F::IndexExtensionsEdit, P::Customizations, "You must provide an indexes file extension");
  required(F::BlobExtensionsEdit, P::Customizations, "You must provide a BLOBs file extension");
  required(F::PublishExtensionsEdit, P::Customizations,
           "You must provide a publish file extension");
  required(F::SignatureEdit, P::Customizations, "You must provide a signature");
  required(F::TempTablesPathEdit, P::Database, "You must provide a temporary tables folder");
  if (!folderExists(text(F::TempTablesPathEdit))) {
    fail(F::TempTablesPathEdit, P::Database, "You must enter a valid temporary tables folder");
  }

  if (!message.empty()) {
    if (page != nullptr) *page = failedPage;
    if (field != nullptr) *field = failedField;
  }
  return message;
}

bool TServerDialog::FormCloseQuery() {
  TBRNDialogPage page = TBRNDialogPage::Server;
  TBRNDialogField field = TBRNDialogField::NameEdit;
  const std::string message = Validate(&page, &field);
  if (message.empty()) return true;
  view_.ShowPage(page);
  view_.FocusField(field);
  view_.ShowError(message);
  return false;
}

void TServerDialog::Fill(const TBRNEngine& engine, bool namedInstance, bool service) {
  view_.SetText(F::NameEdit, engine.GetServerName());
  view_.SetText(F::DescriptionMemo, engine.GetServerDescription());
  view_.SetChecked(F::RunJobsCheckBox, engine.GetServerRunJobs());
  view_.SetText(F::JobCategoryEdit, engine.GetServerJobCategory());
  view_.SetText(F::ThreadCacheSizeEdit, decimal(engine.GetServerThreadCacheSize()));
  view_.SetText(F::IPAddressEdit, engine.GetServerAddress());
  view_.SetText(F::PortEdit, decimal(engine.GetServerPort()));
  view_.SetChecked(F::EncryptedOnlyCheckBox, engine.GetServerEncryptedOnly());
  view_.SetText(F::AuthorizedAddressesMemo,
                JoinMemoLines(engine.GetServerAuthorizedAddresses().Items()));
  view_.SetText(F::BlockedAddressesMemo, JoinMemoLines(engine.GetServerBlockedAddresses().Items()));
  view_.SetText(F::TimeoutEdit, decimal(engine.GetServerSessionTimeout()));
  view_.SetText(F::DeadSessionIntervalEdit, decimal(engine.GetServerDeadSessionInterval()));
  view_.SetText(F::DeadSessionExpirationEdit, decimal(engine.GetServerDeadSessionExpiration()));
  view_.SetText(F::MaxDeadSessionsEdit, decimal(engine.GetServerMaxDeadSessions()));
  view_.SetChecked(engine.GetConfigMemory() ? F::InMemoryRadioButton : F::OnDiskRadioButton, true);
  view_.SetText(F::ConfigPathEdit, engine.GetConfigPath());
  view_.SetChecked(F::LargeFileSupportCheckBox, engine.GetLargeFileSupport());
  view_.SetText(F::MaxLogFileSizeEdit, decimal(engine.GetMaxLogFileSize()));
  const TBRNLogCategories categories = engine.GetLogCategories();
  view_.SetChecked(F::LogInformationCheckBox, categories & LogCategoryBit(lcInformation));
  view_.SetChecked(F::LogWarningCheckBox, categories & LogCategoryBit(lcWarning));
  view_.SetChecked(F::LogErrorCheckBox, categories & LogCategoryBit(lcError));
  view_.SetChecked(F::StandardNullBehaviorCheckBox, engine.GetStandardNullBehavior());
  view_.SetText(F::TempTablesPathEdit, engine.GetTempTablesPath());
  view_.SetText(F::ConfigNameEdit, engine.GetConfigName());
  view_.SetText(F::CatalogNameEdit, engine.GetCatalogName());
  view_.SetText(F::ConfigExtensionEdit, engine.GetConfigExtension());
  view_.SetText(F::LockExtensionsEdit, engine.GetLockExtension());
  view_.SetText(F::LogExtensionEdit, engine.GetLogExtension());
  view_.SetText(F::BackupExtensionsEdit, engine.GetBackupExtension());
  view_.SetText(F::UpdateExtensionsEdit, engine.GetUpdateExtension());
  view_.SetText(F::CatalogExtensionsEdit, engine.GetCatalogExtension());
  view_.SetText(F::TableExtensionsEdit, engine.GetTableExtension());
  view_.SetText(F::IndexExtensionsEdit, engine.GetTableIndexExtension());
  view_.SetText(F::BlobExtensionsEdit, engine.GetTableBlobExtension());
  view_.SetText(F::PublishExtensionsEdit, engine.GetTablePublishExtension());
  view_.SetText(F::SignatureEdit, engine.GetSignature());
  view_.SetReadOnly(F::NameEdit, namedInstance);
  view_.SetReadOnly(F::DescriptionMemo, service);
  // As a click on the checked location button: "In Memory" empties and
  // disables the folder.
  OnDiskRadioButtonClick();
  NameEditChange();
}

void TServerDialog::ReadBack(TBRNEngine& engine) const {
  const auto number = [&](F field) {
    int64_t value = 0;
    parseInteger(view_.GetText(field), value);
    return static_cast<int32_t>(value);
  };
  engine.SetServerName(view_.GetText(F::NameEdit));
  engine.SetServerDescription(view_.GetText(F::DescriptionMemo));
  engine.SetServerRunJobs(view_.GetChecked(F::RunJobsCheckBox));
  engine.SetServerJobCategory(view_.GetText(F::JobCategoryEdit));
  engine.SetServerThreadCacheSize(number(F::ThreadCacheSizeEdit));
  engine.SetServerAddress(view_.GetText(F::IPAddressEdit));
  engine.SetServerPort(number(F::PortEdit));
  engine.SetServerEncryptedOnly(view_.GetChecked(F::EncryptedOnlyCheckBox));
  TStringList addresses;
  addresses.Assign(SplitMemoLines(view_.GetText(F::AuthorizedAddressesMemo)));
  engine.SetServerAuthorizedAddresses(addresses);
  addresses.Assign(SplitMemoLines(view_.GetText(F::BlockedAddressesMemo)));
  engine.SetServerBlockedAddresses(addresses);
  engine.SetServerSessionTimeout(number(F::TimeoutEdit));
  engine.SetServerDeadSessionInterval(number(F::DeadSessionIntervalEdit));
  engine.SetServerDeadSessionExpiration(number(F::DeadSessionExpirationEdit));
  engine.SetServerMaxDeadSessions(number(F::MaxDeadSessionsEdit));
  engine.SetConfigMemory(view_.GetChecked(F::InMemoryRadioButton));
  engine.SetConfigPath(view_.GetText(F::ConfigPathEdit));
  engine.SetLargeFileSupport(view_.GetChecked(F::LargeFileSupportCheckBox));
  engine.SetMaxLogFileSize(number(F::MaxLogFileSizeEdit));
  TBRNLogCategories categories = 0;
  if (view_.GetChecked(F::LogInformationCheckBox)) categories |= LogCategoryBit(lcInformation);
  if (view_.GetChecked(F::LogWarningCheckBox)) categories |= LogCategoryBit(lcWarning);
  if (view_.GetChecked(F::LogErrorCheckBox)) categories |= LogCategoryBit(lcError);
  engine.SetLogCategories(categories);
  engine.SetStandardNullBehavior(view_.GetChecked(F::StandardNullBehaviorCheckBox));
  engine.SetTempTablesPath(view_.GetText(F::TempTablesPathEdit));
  engine.SetConfigName(view_.GetText(F::ConfigNameEdit));
  engine.SetCatalogName(view_.GetText(F::CatalogNameEdit));
  engine.SetConfigExtension(view_.GetText(F::ConfigExtensionEdit));
  engine.SetLockExtension(view_.GetText(F::LockExtensionsEdit));
  engine.SetLogExtension(view_.GetText(F::LogExtensionEdit));
  engine.SetBackupExtension(view_.GetText(F::BackupExtensionsEdit));
  engine.SetUpdateExtension(view_.GetText(F::UpdateExtensionsEdit));
  engine.SetCatalogExtension(view_.GetText(F::CatalogExtensionsEdit));
  engine.SetTableExtension(view_.GetText(F::TableExtensionsEdit));
  engine.SetTableIndexExtension(view_.GetText(F::IndexExtensionsEdit));
  engine.SetTableBlobExtension(view_.GetText(F::BlobExtensionsEdit));
  engine.SetTablePublishExtension(view_.GetText(F::PublishExtensionsEdit));
  engine.SetSignature(view_.GetText(F::SignatureEdit));
}

}  // namespace brn

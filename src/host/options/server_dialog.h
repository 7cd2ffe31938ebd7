#pragma once

#include <string>
#include <vector>

namespace brn {

class TBRNEngine;
class TServerDialog;

// The six pages of the options dialog.
enum class TBRNDialogPage {
  Server,
  Connections,
  Sessions,
  Configuration,
  Database,
  Customizations
};

// The dialog's fields and buttons, named after their controls.
enum class TBRNDialogField {
  NameEdit,
  DescriptionMemo,
  RunJobsCheckBox,
  JobCategoryEdit,
  ThreadCacheSizeEdit,
  IPAddressEdit,
  PortEdit,
  EncryptedOnlyCheckBox,
  AuthorizedAddressesMemo,
  BlockedAddressesMemo,
  TimeoutEdit,
  DeadSessionIntervalEdit,
  DeadSessionExpirationEdit,
  MaxDeadSessionsEdit,
  OnDiskRadioButton,
  InMemoryRadioButton,
  ConfigPathEdit,
  SelectPathButton,
  LargeFileSupportCheckBox,
  MaxLogFileSizeEdit,
  LogInformationCheckBox,
  LogWarningCheckBox,
  LogErrorCheckBox,
  StandardNullBehaviorCheckBox,
  TempTablesPathEdit,
  SelectTempPathButton,
  ConfigNameEdit,
  CatalogNameEdit,
  ConfigExtensionEdit,
  LockExtensionsEdit,
  LogExtensionEdit,
  BackupExtensionsEdit,
  UpdateExtensionsEdit,
  CatalogExtensionsEdit,
  TableExtensionsEdit,
  IndexExtensionsEdit,
  BlobExtensionsEdit,
  PublishExtensionsEdit,
  SignatureEdit,
};

// What the options dialog's logic needs of its window. The window toolkit
// implements it; tests fill the fields themselves. The view calls the
// dialog's handlers (TServerDialog) while it is shown: NameEditChange when
// the name changes, OnDiskRadioButtonClick for either location button, the
// two browse handlers, and FormCloseQuery when OK is pressed (it closes
// only on true). Main thread only.
class TBRNServerDialogView {
 public:
  virtual ~TBRNServerDialogView() = default;

  // The dialog whose handlers the view calls; null when it goes.
  virtual void Attach(TServerDialog* dialog) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Edits and memos; a memo's lines are separated by CR LF.
  virtual std::string GetText(TBRNDialogField field) const = 0;
  virtual void SetText(TBRNDialogField field, const std::string& text) = 0;
  // Check boxes and radio buttons (checking one radio button clears the
  // other).
  virtual bool GetChecked(TBRNDialogField field) const = 0;
  virtual void SetChecked(TBRNDialogField field, bool checked) = 0;
  virtual void SetEnabled(TBRNDialogField field, bool enabled) = 0;
  // Read-only, shown in the button-face colour.
  virtual void SetReadOnly(TBRNDialogField field, bool readOnly) = 0;
  virtual void SetOkEnabled(bool enabled) = 0;
  virtual void ShowPage(TBRNDialogPage page) = 0;
  virtual void FocusField(TBRNDialogField field) = 0;
  // An error box with an OK button only.
  virtual void ShowError(const std::string& text) = 0;
  // The folder chooser, opened at folder; true with chosen set when the
  // user confirms.
  virtual bool BrowseForFolder(const std::string& folder, std::string& chosen) = 0;
  // Shows the dialog modally; true when it closed with OK.
  virtual bool ShowModal() = 0;
};

// The options dialog's logic: fills the fields from the engine, keeps the
// OK button and the folder field consistent, validates on OK and copies the
// fields back. Main thread only.
class TServerDialog {
 public:
  explicit TServerDialog(TBRNServerDialogView& view);
  ~TServerDialog();
  TServerDialog(const TServerDialog&) = delete;
  TServerDialog& operator=(const TServerDialog&) = delete;

  // The "Server" page shown and the name focused.
  void FormCreate();
  // OK is enabled exactly while the name is not empty.
  void NameEditChange();
  // "On Disk": the folder and its browse button enabled; "In Memory": the
  // folder emptied and both disabled.
  void OnDiskRadioButtonClick();
  void SelectPathButtonClick();
  void SelectTempPathButtonClick();
  // The check of a close with OK: the fields in order, stopping at the
  // first failure, which shows its page, focuses the field and shows its
  // message; true when every field is valid.
  bool FormCloseQuery();

  // Every field from the engine's settings. A named instance's name is
  // read-only, and so is the description when the host runs as a service.
  void Fill(const TBRNEngine& engine, bool namedInstance, bool service);
  // Every setting from its field; the fields must have passed
  // FormCloseQuery. The engine must be stopped.
  void ReadBack(TBRNEngine& engine) const;

  // The failing row's message, or empty when every field is valid; shows
  // nothing. (FormCloseQuery shows it.)
  std::string Validate(TBRNDialogPage* page = nullptr, TBRNDialogField* field = nullptr) const;

 private:
  TBRNServerDialogView& view_;
};

// Lines of a memo's text: split at CR LF or LF; a last empty line is not a
// line.
std::vector<std::string> SplitMemoLines(const std::string& text);
std::string JoinMemoLines(const std::vector<std::string>& lines);

}  // namespace brn

#include "host/ui/server_dialog_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "host/ui/task_pane.h"
#include "platform/code_pages.h"

namespace brn {

namespace {

using F = TBRNDialogField;

// Text of the controls back into the host's single-byte text; a character
// the page lacks becomes "?".
std::string toAnsi(const QString& text) {
  const SingleByteCodePage* page = FindSingleByteCodePage(1252);
  std::string result;
  result.reserve(size_t(text.size()));
  for (QChar c : text) {
    const int32_t byte = page != nullptr ? page->FromUnicode(c.unicode()) : -1;
    result += byte >= 0 ? static_cast<char>(byte) : '?';
  }
  return result;
}

struct TGroup {
  const char* Title;
  const char* Text;
};

}  // namespace

TBRNServerDialogWindow::TBRNServerDialogWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("ServerDialog");
  setWindowTitle("Edit Options");
  setModal(true);
  SetFormFont(*this);
  build();
}

TBRNServerDialogWindow::~TBRNServerDialogWindow() = default;

void TBRNServerDialogWindow::build() {
  auto* layout = new QVBoxLayout(this);
  pages_ = new QTabWidget(this);
  pages_->setObjectName("OptionsPageControl");
  layout->addWidget(pages_);

  QWidget* page = nullptr;
  QVBoxLayout* pageLayout = nullptr;
  QFormLayout* form = nullptr;
  const auto newPage = [&](const char* title) {
    page = new QWidget(pages_);
    pageLayout = new QVBoxLayout(page);
    pages_->addTab(page, title);
  };
  const auto group = [&](const TGroup& g) {
    auto* box = new QGroupBox(g.Title, page);
    auto* boxLayout = new QVBoxLayout(box);
    auto* text = new QLabel(g.Text, box);
    text->setWordWrap(true);
    boxLayout->addWidget(text);
    form = new QFormLayout();
    boxLayout->addLayout(form);
    pageLayout->addWidget(box);
  };
  const auto name = [](QWidget* widget, F, const char* objectName) {
    widget->setObjectName(objectName);
  };
  const auto edit = [&](F field, const char* objectName, const char* label, const char* suffix) {
    auto* line = new QLineEdit(page);
    name(line, field, objectName);
    fields_[field] = line;
    if (suffix == nullptr) {
      form->addRow(label, line);
    } else {
      auto* row = new QHBoxLayout();
      row->addWidget(line);
      row->addWidget(new QLabel(suffix, page));
      form->addRow(label, row);
    }
  };
  const auto memo = [&](F field, const char* objectName, const char* label, bool wrap) {
    auto* text = new QPlainTextEdit(page);
    name(text, field, objectName);
    text->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setMaximumHeight(60);
    fields_[field] = text;
    form->addRow(label, text);
  };
  const auto check = [&](F field, const char* objectName, const char* caption) {
    auto* box = new QCheckBox(caption, page);
    name(box, field, objectName);
    fields_[field] = box;
    form->addRow(box);
  };
  const auto folder = [&](F field, const char* objectName, F button, const char* buttonName,
                          const char* label, bool temporaryFolder) {
    auto* line = new QLineEdit(page);
    name(line, field, objectName);
    auto* browse = new QPushButton("...", page);
    name(browse, button, buttonName);
    browse->setFixedWidth(28);
    QObject::connect(browse, &QPushButton::clicked, this, [this, temporaryFolder] {
      if (dialog_ == nullptr) return;
      if (temporaryFolder) {
        dialog_->SelectTempPathButtonClick();
      } else {
        dialog_->SelectPathButtonClick();
      }
    });
    fields_[field] = line;
    fields_[button] = browse;
    auto* row = new QHBoxLayout();
    row->addWidget(line);
    row->addWidget(browse);
    form->addRow(label, row);
  };

  newPage("Server");
  group({"Server Name", "Enter the server name and description."});
  edit(F::NameEdit, "NameEdit", "Name", nullptr);
  QObject::connect(static_cast<QLineEdit*>(fields_[F::NameEdit]), &QLineEdit::textChanged, this,
                   [this] {
                     if (dialog_ != nullptr) dialog_->NameEditChange();
                   });
  memo(F::DescriptionMemo, "DescriptionMemo", "Description", true);
  group({"Jobs",
         "Specify whether the server should schedule and run jobs and which category of jobs (or "
         "none for all) of jobs should be run by the server."});
  check(F::RunJobsCheckBox, "RunJobsCheckBox", "Run Jobs");
  SetChecked(F::RunJobsCheckBox, true);
  edit(F::JobCategoryEdit, "JobCategoryEdit", "Category", nullptr);
  pageLayout->addStretch();

  newPage("Connections");
  group({"Connections",
         "Enter the connection settings.  The thread cache size determines how many threads the "
         "server keeps in a pool to re-use for incoming connections.  The IP address and port are "
         "used by the database server to listen for incoming connections.  A blank IP address "
         "will cause the database server to listen on all available IP addresses on the machine "
         "for incoming connections.  You can enter specific IP addresses to allow or block for "
         "incoming connections below also."});
  edit(F::ThreadCacheSizeEdit, "ThreadCacheSizeEdit", "Thread Cache Size", nullptr);
  edit(F::IPAddressEdit, "IPAddressEdit", "Listen on IP Address", nullptr);
  edit(F::PortEdit, "PortEdit", "Port", nullptr);
  check(F::EncryptedOnlyCheckBox, "EncryptedOnlyCheckBox", "Allow Only Encrypted Connections");
  memo(F::AuthorizedAddressesMemo, "AuthorizedAddressesMemo", "Authorized IP Addresses", false);
  memo(F::BlockedAddressesMemo, "BlockedAddressesMemo", "Blocked IP Addresses", false);
  pageLayout->addStretch();

  newPage("Sessions");
  group({"Session Timeout",
         "Enter the session handling parameters.  The session timeout is used to determine how "
         "long a session can remain connected and inactive before the session is considered "
         "dead.  Once a session is considered dead, it is disconnected and the dead session "
         "handling parameters come into consideration."});
  edit(F::TimeoutEdit, "TimeoutEdit", "Session Timeout", "secs");
  group({"Dead Session Handling",
         "Enter the dead session handling parameters.  Once a session is considered dead (see "
         "Timeout setting above), it is a candidate for removal based upon the dead session "
         "expiration time and the maximum number of allowed dead sessions.  These two settings "
         "are checked by the database server in the interval specified by the dead session "
         "interval.  If any dead sessions are found that have been considered dead for the "
         "duration of the dead session expiration time, then they are removed.  Likewise, if the "
         "maximum number of dead sessions is reached, then dead sessions are removed in oldest to "
         "newest fashion."});
  edit(F::DeadSessionIntervalEdit, "DeadSessionIntervalEdit", "Dead Session Interval", "secs");
  edit(F::DeadSessionExpirationEdit, "DeadSessionExpirationEdit", "Dead Session Expiration Time",
       "secs");
  edit(F::MaxDeadSessionsEdit, "MaxDeadSessionsEdit", "Maximum Dead Sessions", nullptr);
  pageLayout->addStretch();

  newPage("Configuration");
  group({"Configuration File",
         "Enter the configuration file information.  The configuration file can be located "
         "on-disk or in-memory.  If located on disk, the configuration file folder can be any "
         "valid path."});
  {
    auto* onDisk = new QRadioButton("On Disk", page);
    onDisk->setObjectName("OnDiskRadioButton");
    auto* inMemory = new QRadioButton("In Memory", page);
    inMemory->setObjectName("InMemoryRadioButton");
    onDisk->setChecked(true);
    fields_[F::OnDiskRadioButton] = onDisk;
    fields_[F::InMemoryRadioButton] = inMemory;
    for (QRadioButton* button : {onDisk, inMemory}) {
      QObject::connect(button, &QRadioButton::clicked, this, [this] {
        if (dialog_ != nullptr) dialog_->OnDiskRadioButtonClick();
      });
    }
    auto* row = new QHBoxLayout();
    row->addWidget(onDisk);
    row->addWidget(inMemory);
    row->addStretch();
    form->addRow("Location", row);
  }
  folder(F::ConfigPathEdit, "ConfigPathEdit", F::SelectPathButton, "SelectPathButton",
         "File Folder", false);
  group({"Large File Support",
         "Select the following check box if you would like to enable large file support."});
  check(F::LargeFileSupportCheckBox, "LargeFileSupportCheckBox", "Enable Large File Support");
  group({"Logging",
         "Enter the maximum log file size and select the type of events that should be logged.  "
         "The maximum log file size determines how large the log file is allowed to become "
         "before log entries are re-used.  Each logged event consumes 512 bytes.  You should "
         "normally always log any error events."});
  edit(F::MaxLogFileSizeEdit, "MaxLogFileSizeEdit", "Maximum Log File Size", "bytes");
  check(F::LogInformationCheckBox, "LogInformationCheckBox", "Information");
  check(F::LogWarningCheckBox, "LogWarningCheckBox", "Warning");
  check(F::LogErrorCheckBox, "LogErrorCheckBox", "Error");
  pageLayout->addStretch();

  newPage("Database");
  group({"NULL Behavior",
         "Disable the standard NULL behavior in order to use relaxed non-ANSI-standard rules for "
         "NULL comparions.  If the standard NULL behaior is disabled, then NULLs are comparable "
         "with normal operators (=,<>,>,<,BETWEEN, etc.) and NULL values are treated like an "
         "empty version of the containing value's data type."});
  check(F::StandardNullBehaviorCheckBox, "StandardNullBehaviorCheckBox",
        "Enable Standard NULL Behavior");
  group({"Temporary Tables",
         "Enter the folder to use for temporary tables.  Temporary tables are created for "
         "insensitive query result sets and during certain table alter, optimize, and repair "
         "operations."});
  folder(F::TempTablesPathEdit, "TempTablesPathEdit", F::SelectTempPathButton,
         "SelectTempPathButton", "Temporary Folder", true);
  pageLayout->addStretch();

  newPage("Customizations");
  group({"Configuration and Catalog Files",
         "Enter the configuration and catalog names to use for all configuration and database "
         "catalog files."});
  edit(F::ConfigNameEdit, "ConfigNameEdit", "Configuration Name", nullptr);
  edit(F::CatalogNameEdit, "CatalogNameEdit", "Catalog Name", nullptr);
  group({"File Extensions",
         "Enter the file extensions, making sure to include the extension separator (.)."});
  edit(F::ConfigExtensionEdit, "ConfigExtensionEdit", "Configuration File", nullptr);
  edit(F::LockExtensionsEdit, "LockExtensionsEdit", "Lock Files", nullptr);
  edit(F::LogExtensionEdit, "LogExtensionEdit", "Log File", nullptr);
  edit(F::BackupExtensionsEdit, "BackupExtensionsEdit", "Backup Files", nullptr);
  edit(F::UpdateExtensionsEdit, "UpdateExtensionsEdit", "Update Files", nullptr);
  edit(F::CatalogExtensionsEdit, "CatalogExtensionsEdit", "Catalog Files", nullptr);
  edit(F::TableExtensionsEdit, "TableExtensionsEdit", "Table Files", nullptr);
  edit(F::IndexExtensionsEdit, "IndexExtensionsEdit", "Index Files", nullptr);
  edit(F::BlobExtensionsEdit, "BlobExtensionsEdit", "BLOB Files", nullptr);
  edit(F::PublishExtensionsEdit, "PublishExtensionsEdit", "Publish Files", nullptr);
  group({"Signature",
         "Enter the signature to use for all database access.  You should normally not change "
         "the signature unless you wish to brand all created databases with a custom signature."});
  edit(F::SignatureEdit, "SignatureEdit", "Signature", nullptr);
  pageLayout->addStretch();

  auto* buttons = new QHBoxLayout();
  buttons->addStretch();
  okButton_ = new QPushButton("&OK", this);
  okButton_->setObjectName("OKButton");
  okButton_->setDefault(true);
  okButton_->setEnabled(false);
  auto* cancel = new QPushButton("&Cancel", this);
  cancel->setObjectName("CancelButton");
  buttons->addWidget(okButton_);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  // OK closes only when the check passes; Cancel and the close button close
  // without checks.
  QObject::connect(okButton_, &QPushButton::clicked, this, [this] {
    if (dialog_ == nullptr || dialog_->FormCloseQuery()) accept();
  });
  QObject::connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TBRNServerDialogWindow::SetCaption(const std::string& caption) {
  setWindowTitle(AnsiToQString(caption));
}

std::string TBRNServerDialogWindow::GetText(TBRNDialogField field) const {
  QWidget* widget = fields_.at(field);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) return toAnsi(line->text());
  if (auto* text = qobject_cast<QPlainTextEdit*>(widget)) {
    return toAnsi(text->toPlainText().replace("\n", "\r\n"));
  }
  return std::string();
}

void TBRNServerDialogWindow::SetText(TBRNDialogField field, const std::string& text) {
  QWidget* widget = fields_.at(field);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) line->setText(AnsiToQString(text));
  if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) {
    memo->setPlainText(AnsiToQString(text).replace("\r\n", "\n"));
  }
}

bool TBRNServerDialogWindow::GetChecked(TBRNDialogField field) const {
  auto* button = qobject_cast<QAbstractButton*>(fields_.at(field));
  return button != nullptr && button->isChecked();
}

void TBRNServerDialogWindow::SetChecked(TBRNDialogField field, bool checked) {
  if (auto* button = qobject_cast<QAbstractButton*>(fields_.at(field))) button->setChecked(checked);
}

void TBRNServerDialogWindow::SetEnabled(TBRNDialogField field, bool enabled) {
  fields_.at(field)->setEnabled(enabled);
}

void TBRNServerDialogWindow::SetReadOnly(TBRNDialogField field, bool readOnly) {
  QWidget* widget = fields_.at(field);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) line->setReadOnly(readOnly);
  if (auto* memo = qobject_cast<QPlainTextEdit*>(widget)) memo->setReadOnly(readOnly);
  // The button-face colour marks what cannot be changed.
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, readOnly ? palette.color(QPalette::Button)
                                            : QApplication::palette().color(QPalette::Base));
  widget->setPalette(palette);
}

void TBRNServerDialogWindow::SetOkEnabled(bool enabled) {
  okButton_->setEnabled(enabled);
}

void TBRNServerDialogWindow::ShowPage(TBRNDialogPage page) {
  pages_->setCurrentIndex(static_cast<int>(page));
}

void TBRNServerDialogWindow::FocusField(TBRNDialogField field) {
  fields_.at(field)->setFocus();
}

void TBRNServerDialogWindow::ShowError(const std::string& text) {
  QMessageBox::critical(this, windowTitle(), AnsiToQString(text), QMessageBox::Ok);
}

bool TBRNServerDialogWindow::BrowseForFolder(const std::string& folder, std::string& chosen) {
  const QString result =
      QFileDialog::getExistingDirectory(this, windowTitle(), AnsiToQString(folder));
  if (result.isEmpty()) return false;
  chosen = toAnsi(result);
  return true;
}

bool TBRNServerDialogWindow::ShowModal() {
  return exec() == QDialog::Accepted;
}

}  // namespace brn

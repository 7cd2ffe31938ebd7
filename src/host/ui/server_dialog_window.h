#pragma once

#include <QDialog>

#include <map>
#include <string>

#include "host/options/server_dialog.h"

class QPushButton;
class QTabWidget;

namespace brn {

// The options dialog on Qt Widgets: six pages (OptionsPageControl) of group
// boxes with their explanations and fields, "&OK" (default, closing only
// when the dialog's check passes) and "&Cancel" (closing at once). Main
// thread only.
class TBRNServerDialogWindow : public QDialog, public TBRNServerDialogView {
 public:
  explicit TBRNServerDialogWindow(QWidget* parent);
  ~TBRNServerDialogWindow() override;

  // The field's control; tests type into it.
  QWidget& Field(TBRNDialogField field) const { return *fields_.at(field); }
  QTabWidget& OptionsPageControl() const { return *pages_; }
  QPushButton& OkButton() const { return *okButton_; }

  void Attach(TServerDialog* dialog) override { dialog_ = dialog; }
  void SetCaption(const std::string& caption) override;
  std::string GetText(TBRNDialogField field) const override;
  void SetText(TBRNDialogField field, const std::string& text) override;
  bool GetChecked(TBRNDialogField field) const override;
  void SetChecked(TBRNDialogField field, bool checked) override;
  void SetEnabled(TBRNDialogField field, bool enabled) override;
  void SetReadOnly(TBRNDialogField field, bool readOnly) override;
  void SetOkEnabled(bool enabled) override;
  void ShowPage(TBRNDialogPage page) override;
  void FocusField(TBRNDialogField field) override;
  void ShowError(const std::string& text) override;
  bool BrowseForFolder(const std::string& folder, std::string& chosen) override;
  bool ShowModal() override;

 private:
  void build();

  TServerDialog* dialog_ = nullptr;
  QTabWidget* pages_ = nullptr;
  QPushButton* okButton_ = nullptr;
  std::map<TBRNDialogField, QWidget*> fields_;
};

}  // namespace brn

#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/options/server_dialog.h"

namespace brn::testing {

// A dialog without a window: fields in maps, boxes recorded, and the user's
// actions while the dialog is shown played by OnShow.
class FakeServerDialogView : public TBRNServerDialogView {
 public:
  void Attach(TServerDialog* dialog) override { Dialog = dialog; }
  void SetCaption(const std::string& caption) override { Caption = caption; }
  std::string GetText(TBRNDialogField field) const override {
    auto found = Texts.find(field);
    return found == Texts.end() ? std::string() : found->second;
  }
  void SetText(TBRNDialogField field, const std::string& text) override { Texts[field] = text; }
  bool GetChecked(TBRNDialogField field) const override {
    auto found = Checked.find(field);
    return found != Checked.end() && found->second;
  }
  void SetChecked(TBRNDialogField field, bool checked) override {
    Checked[field] = checked;
    if (checked && field == TBRNDialogField::OnDiskRadioButton) {
      Checked[TBRNDialogField::InMemoryRadioButton] = false;
    }
    if (checked && field == TBRNDialogField::InMemoryRadioButton) {
      Checked[TBRNDialogField::OnDiskRadioButton] = false;
    }
  }
  void SetEnabled(TBRNDialogField field, bool enabled) override { Enabled[field] = enabled; }
  void SetReadOnly(TBRNDialogField field, bool readOnly) override { ReadOnly[field] = readOnly; }
  void SetOkEnabled(bool enabled) override { OkEnabled = enabled; }
  void ShowPage(TBRNDialogPage page) override { Page = page; }
  void FocusField(TBRNDialogField field) override { Focus = field; }
  void ShowError(const std::string& text) override { Errors.push_back(text); }
  bool BrowseForFolder(const std::string& folder, std::string& chosen) override {
    BrowsedFrom = folder;
    if (BrowseAnswer.empty()) return false;
    chosen = BrowseAnswer;
    return true;
  }
  bool ShowModal() override { return OnShow ? OnShow(*this) : false; }

  // The user types into a field.
  void Type(TBRNDialogField field, const std::string& text) {
    SetText(field, text);
    if (field == TBRNDialogField::NameEdit && Dialog != nullptr) Dialog->NameEditChange();
  }
  // The user presses OK: true when the dialog closes.
  bool PressOk() { return OkEnabled && Dialog != nullptr && Dialog->FormCloseQuery(); }

  TServerDialog* Dialog = nullptr;
  std::string Caption;
  std::map<TBRNDialogField, std::string> Texts;
  std::map<TBRNDialogField, bool> Checked;
  std::map<TBRNDialogField, bool> Enabled;
  std::map<TBRNDialogField, bool> ReadOnly;
  bool OkEnabled = false;
  TBRNDialogPage Page = TBRNDialogPage::Customizations;
  TBRNDialogField Focus = TBRNDialogField::SignatureEdit;
  std::vector<std::string> Errors;
  std::string BrowseAnswer;
  std::string BrowsedFrom;
  std::function<bool(FakeServerDialogView&)> OnShow;
};

}  // namespace brn::testing

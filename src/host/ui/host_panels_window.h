#pragma once

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>

#include "host/main/host_panels.h"

class QMenu;
class QSystemTrayIcon;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace brn {

class TBRNMainWindow;

// The panels' parts of the main window on Qt Widgets: the session list
// (SessionsListView), the task links and details panels of the window's
// task pane, the tray icon with its menu (TrayMenu) and the two timers. A
// child of the window, so it lives as long as the window. Main thread only.
class TBRNQtHostPanelsView : public QObject, public TBRNHostPanelsView {
 public:
  TBRNQtHostPanelsView(TBRNMainWindow& window, TMainForm& form);
  ~TBRNQtHostPanelsView() override;

  // The panels whose handlers the list, the links and the timers call;
  // null while there are none.
  void SetPanels(TBRNHostPanels* panels) { panels_ = panels; }

  QTreeWidget& SessionsListView() const { return *list_; }
  QMenu& TrayMenu() const { return *trayMenu_; }

  void AddSessionRow(TServerSession* session, const TBRNSessionRow& row) override;
  void UpdateSessionRow(TServerSession* session, const TBRNSessionRow& row) override;
  void DeleteSessionRow(TServerSession* session) override;
  TServerSession* SelectedSession() const override;
  TServerSession* FocusedSession() const override;
  void SetTaskLinks(const std::vector<TBRNTaskLink>& links) override;
  void SetServerDetails(const TBRNDetails& details) override;
  void SetSessionDetails(const TBRNDetails* details) override;
  bool AddTrayIcon(bool serverActive, const std::string& tip) override;
  bool ModifyTrayIcon(bool serverActive, const std::string& tip) override;
  bool DeleteTrayIcon() override;
  void SetIconTimer(bool on) override;
  void SetSystemTimer(bool on) override;
  void FocusSessionList() override;
  std::unique_ptr<TBRNServerDialogView> CreateServerDialog() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void fillRow(QTreeWidgetItem& item, const TBRNSessionRow& row);
  TServerSession* sessionOf(QTreeWidgetItem* item) const;

  TBRNMainWindow& window_;
  TMainForm& form_;
  TBRNHostPanels* panels_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QTimer* iconTimer_ = nullptr;
  QTimer* systemTimer_ = nullptr;
  std::map<TServerSession*, QTreeWidgetItem*> rows_;
};

// The panels of the windowed form: TBRNHostPanels over the window's parts.
class TBRNQtHostPanels : public TBRNHostPanels {
 public:
  TBRNQtHostPanels(TMainForm& form, TBRNMainWindow& window);
  ~TBRNQtHostPanels() override;

  TBRNQtHostPanelsView& View() const { return *view_; }

 private:
  QPointer<TBRNQtHostPanelsView> view_;
};

}  // namespace brn

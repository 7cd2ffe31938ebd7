#pragma once

#include <QMainWindow>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/events/main_loop.h"
#include "host/main/host_program.h"
#include "host/main/main_form.h"
#include "host/ui/task_pane.h"

class QLabel;
class QSplitter;

namespace brn {

// The host's main window on Qt Widgets: a status bar of four panels, the
// task pane on the left of a splitter and the session list on its right.
// It is the form's view; the form decides, the window shows. Main thread
// only.
class TBRNMainWindow : public QMainWindow, public TBRNMainFormView {
 public:
  TBRNMainWindow();
  ~TBRNMainWindow() override;

  // The form asked before the window closes; set before it is shown.
  void SetForm(TMainForm* form) { form_ = form; }

  // Confirmation boxes ask this instead of the user when it is set (tests).
  std::function<bool(const std::string& text)> AnswerConfirm;

  // TBRNMainFormView
  std::string Caption() const override;
  bool Confirm(const std::string& text) override;
  void ShowError(const std::string& text) override;
  void Beep() override;
  void SetStatusPanelText(int panel, const std::string& text) override;
  void SetCloseItemVisible(bool visible) override;
  void SetTasksEnabled(bool enabled) override;
  void HideWindow() override;
  void RestoreWindow() override;
  void CloseWindow() override;
  TBRNWindowLayout GetLayout() const override;
  void SetLayout(const TBRNWindowLayout& layout, bool positionToo) override;

  // The parts that the panels fill.
  TBRNTaskPaneScrollBox& ServerTaskPanelScrollBox() const { return *scrollBox_; }
  TBRNTaskHeaderPanel& ServerTaskHeaderPanel() const { return *taskHeader_; }
  TBRNTaskLinksTaskPanel& ServerTaskPanel() const { return *taskPanel_; }
  TBRNTaskHeaderPanel& ServerDetailsHeaderPanel() const { return *serverHeader_; }
  TBRNDetailsTaskPanel& ServerDetailsPanel() const { return *serverDetails_; }
  TBRNTaskHeaderPanel& SessionDetailsHeaderPanel() const { return *sessionHeader_; }
  TBRNDetailsTaskPanel& SessionDetailsPanel() const { return *sessionDetails_; }
  QLabel& SessionDetailsSpacerLabel() const { return *spacerLabel_; }
  QLabel& StatusPanel(int index) const { return *statusPanels_.at(size_t(index)); }
  TBRNImageList& TasksImageList() const { return *tasksImages_; }
  TBRNImageList& UserImageList() const { return *userImages_; }
  // Whether the tray menu shows "Close" (a service hides it).
  bool CloseItemVisible() const { return closeItemVisible_; }
  // Puts the session list on the right of the splitter; the window owns it.
  void SetSessionsListView(QWidget* view);
  QWidget* SessionsListView() const { return sessionsListView_; }

  // Re-places the headers and bodies below each other and the spacer label.
  void PlacePanels();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  TMainForm* form_ = nullptr;
  QWidget* taskPanel225_ = nullptr;
  QSplitter* splitter_ = nullptr;
  TBRNTaskPaneScrollBox* scrollBox_ = nullptr;
  TBRNTaskHeaderPanel* taskHeader_ = nullptr;
  TBRNTaskLinksTaskPanel* taskPanel_ = nullptr;
  TBRNTaskHeaderPanel* serverHeader_ = nullptr;
  TBRNDetailsTaskPanel* serverDetails_ = nullptr;
  TBRNTaskHeaderPanel* sessionHeader_ = nullptr;
  TBRNDetailsTaskPanel* sessionDetails_ = nullptr;
  QLabel* spacerLabel_ = nullptr;
  QWidget* sessionsListView_ = nullptr;
  std::array<QLabel*, 4> statusPanels_{};
  TBRNImageList* tasksImages_ = nullptr;
  TBRNImageList* userImages_ = nullptr;
  bool closeItemVisible_ = true;
};

// The main loop under Qt: calls and wake-ups are queued calls on the
// application's thread, the quit request ends the application's loop. Post
// calls are safe from any thread once the application exists.
class TBRNQtMainLoop : public TBRNMainLoop {
 public:
  void PostCall(std::function<void()> call) override;
  void PostQuit() override;
  void Wake() override;
  TBRNIdleHandler SetIdleHandler(TBRNIdleHandler handler) override;
  void Run() override;
  bool Terminated() const override;

 private:
  TBRNIdleHandler idle_;
  std::atomic<bool> quit_{false};
};

// The windowed run: the application, the window, the form and its loop.
// Made only once headless is ruled out, so no toolkit object exists before.
class TBRNQtDesktop : public TBRNHostDesktop {
 public:
  // argc and argv outlive the object (the application keeps them).
  TBRNQtDesktop(std::string programPath, int& argc, char** argv)
      : programPath_(std::move(programPath)), argc_(argc), argv_(argv) {}

  // The form's panels, given the form and its window.
  std::function<std::unique_ptr<TBRNMainFormPanels>(TMainForm&, TBRNMainWindow&)> MakePanels;

  int Run(const TBRNHostRunOptions& options) override;

 private:
  std::string programPath_;
  int& argc_;
  char** argv_;
};

}  // namespace brn

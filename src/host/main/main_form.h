#pragma once

#include <memory>
#include <string>

#include "clientserver/components/engine_component.h"
#include "host/events/application_event_queue.h"
#include "platform/event_log.h"

namespace brn {

class TBRNMainLoop;
class TMainForm;

// The window's size and place as the "Layout" section keeps them.
struct TBRNWindowLayout {
  int TaskPanelWidth = 225;
  int WindowState = 0;  // 0 normal, 1 minimized, 2 maximized
  int Top = 0;
  int Left = 0;
  int Height = 0;
  int Width = 0;
};

// What the form needs of its window: boxes, the status bar, the tray menu's
// "Close" item and the layout. The window toolkit implements it; tests
// answer the boxes themselves. Main thread only.
class TBRNMainFormView {
 public:
  virtual ~TBRNMainFormView() = default;

  virtual std::string Caption() const = 0;
  // A Yes/No confirmation box; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  virtual void ShowError(const std::string& text) = 0;
  virtual void Beep() = 0;
  // Panel 0 to 3 of the status bar, repainted at once.
  virtual void SetStatusPanelText(int panel, const std::string& text) = 0;
  virtual void SetCloseItemVisible(bool visible) = 0;
  // The task links panel's own enabled flag (hovering and clicking only).
  virtual void SetTasksEnabled(bool enabled) = 0;
  virtual void HideWindow() = 0;
  // Restores the application and shows the window.
  virtual void RestoreWindow() = 0;
  // Asks the window to close; the toolkit then runs TMainForm::FormCloseQuery.
  virtual void CloseWindow() = 0;
  virtual TBRNWindowLayout GetLayout() const = 0;
  // With positionToo false only the task panel's width and the state are
  // applied.
  virtual void SetLayout(const TBRNWindowLayout& layout, bool positionToo) = 0;
};

// The tray icon, status bar counters, task links, details panels, session
// list, options dialog and administrator set-up that the form drives. The
// defaults do nothing, so the form also runs without them.
// ServerSessionEvent runs on server threads, concurrently for different
// sessions; every other method on the main thread.
class TBRNMainFormPanels {
 public:
  virtual ~TBRNMainFormPanels() = default;

  virtual void UpdateTrayIcon() {}
  virtual void RemoveTrayIcon() {}
  virtual void StartIconTimer() {}
  virtual void StopIconTimer() {}
  virtual void UpdateTaskLinks() {}
  virtual void UpdateServerDetails() {}
  virtual void UpdateUpTime() {}
  // Runs after every start of the server.
  virtual void SetUpAdministratorSession() {}
  virtual void ServerSessionEvent(TBRNServerSessionEventType, const TBRNServerSession&,
                                  void*& /*userObject*/) {}
  // Must report every event as handled.
  virtual void HandleApplicationEvent(TBRNApplicationEvent&, bool& handled) { handled = true; }
  // Makes the options dialog, fills it from the engine and shows it
  // modally; true when it closed with OK.
  virtual bool RunOptionsDialog() { return false; }
  // Copies the dialog's fields into the engine, which is stopped; called
  // after RunOptionsDialog answered true.
  virtual void ApplyOptions() {}
  // Frees the dialog; called after every RunOptionsDialog, also when a
  // later step failed.
  virtual void ReleaseOptionsDialog() {}
  // Frees the host's session copies; called after the event queue is gone.
  virtual void ReleaseSessions() {}
};

// The host's main form: owner of the server engine (a TBRNEngine of type
// etServer), the settings file, starting and stopping, the engine's events,
// the event log and closing.
//
// Threads: everything runs on the main thread, the thread that creates the
// form; only the engine's session events come from server threads and go
// through EventQueue.
class TMainForm {
 public:
  // programPath: the program file, whose folder becomes the current one at
  // start-up and names the settings file. view is null without a user
  // interface; loop is the main thread's loop (null: events are handed
  // over only on the main thread's own posts).
  TMainForm(std::string programPath, TBRNMainFormView* view, TBRNMainLoop* loop);
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Before FormCreate: server threads call the panels once the engine runs.
  void SetPanels(std::unique_ptr<TBRNMainFormPanels> panels);
  TBRNMainFormPanels& Panels() { return *panels_; }
  TBRNMainFormView* View() const { return view_; }
  TBRNEngine& ServerEngine() { return *engine_; }
  TBRNApplicationEventQueue* EventQueue() { return eventQueue_.get(); }

  // The event queue and the layout.
  void FormCreate();
  // The start routine: the program's folder made current (a failure
  // raises), the event logger, the settings of the instance's section, then
  // the engine started (a failure is left to the start events).
  void StartUp(bool service);
  // Stops the engine (unless installing), frees the event queue (its events
  // are handed over first) and the sessions, saves the layout. Called once.
  void FormDestroy(bool installing = false);

  void LoadSettings(const std::string& section);
  // Raises the file's error when it cannot be saved.
  void SaveSettings(const std::string& section);
  void LoadLayout();
  void SaveLayout();
  std::string GetSettingsFileName() const;

  void LogError(const std::string& text);
  void LogInformation(const std::string& text);

  // The task links. StartClick and StopClick raise the engine's failure
  // again after reporting it; EditClick raises a failure to save.
  void StartClick();
  void StopClick();
  void EditClick();

  // Closing. FormCloseQuery answers whether the window may close.
  void CloseItemClick();
  void RestoreItemClick();
  bool FormCloseQuery();
  void QueryEndSession();
  void EndSession(bool loggingOff);

  // Tray tip texts.
  std::string GetRunningText() const;
  std::string GetStoppedText() const;
  // Panel 0 of the status bar, after one blank.
  void SetStatusText(const std::string& text);

  bool IsService = false;
  bool NoUserInterface = false;
  bool EndingSession = false;
  bool CloseRequested = false;
  std::string TrayTip;
  std::string CurrentFolder;

 private:
  void BeforeStart();
  void AfterStart();
  void BeforeStop();
  void AfterStop();
  void DisableTasks();
  void EnableTasks();
  std::string Caption() const;
  void ShowError(const std::string& text);

  std::string programPath_;
  TBRNMainFormView* view_;
  TBRNMainLoop* loop_;
  std::unique_ptr<TBRNMainFormPanels> panels_;
  std::unique_ptr<TBRNEngine> engine_;
  std::unique_ptr<TBRNApplicationEventQueue> eventQueue_;
  std::unique_ptr<TBRNEventLogger> eventLogger_;
  bool destroyed_ = false;
};

}  // namespace brn

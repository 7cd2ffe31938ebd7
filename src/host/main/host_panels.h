#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clientserver/components/engine_component.h"
#include "host/events/application_event_queue.h"
#include "host/main/main_form.h"

namespace brn {

class TBRNServerDialogView;
class TServerDialog;

// The host's copy of one server session, owned by the panels' session list
// and used on the main thread only.
class TServerSession : public std::enable_shared_from_this<TServerSession> {
 public:
  TBRNServerSession Session;
};

// One session event on its way to the main thread: the session record as
// the server thread saw it, applied to the TServerSession (Data) only when
// the main thread handles the event, so that no thread writes a record the
// main thread may be reading.
class TBRNSessionApplicationEvent : public TBRNApplicationEvent {
 public:
  TBRNSessionApplicationEvent(TBRNServerSessionEventType eventType,
                              std::shared_ptr<TServerSession> session,
                              const TBRNServerSession& record)
      : TBRNApplicationEvent(eventType, std::move(session)), Record(record) {}

  TBRNServerSession Record;
};

// A row of the session list: image 0 plain, 1 encrypted.
struct TBRNSessionRow {
  int Image = 0;
  std::string Caption;
  std::string Address;
  std::string Process;
  std::string CreatedOn;
};

// A task link, or a separator line.
struct TBRNTaskLink {
  std::string Caption;
  int Image = -1;
  std::function<void()> OnClick;
  bool Separator = false;
};

// A details panel's title, description and information lines.
struct TBRNDetails {
  std::string Title;
  std::string Description;
  std::vector<std::string> Lines;
};

// Task link images.
enum TBRNTaskImage {
  tiStartServer = 0,
  tiStopServer = 1,
  tiEditOptions = 2,
  tiDisconnect = 3,
  tiRemove = 4
};

// What the panels need of the window beyond TBRNMainFormView: the session
// list (rows keyed by their TServerSession), the task links, the two details
// panels, the tray icon, the timers and the options dialog. Main thread
// only.
class TBRNHostPanelsView {
 public:
  virtual ~TBRNHostPanelsView() = default;

  virtual void AddSessionRow(TServerSession* session, const TBRNSessionRow& row) = 0;
  // Caption and columns again; the image stays.
  virtual void UpdateSessionRow(TServerSession* session, const TBRNSessionRow& row) = 0;
  virtual void DeleteSessionRow(TServerSession* session) = 0;
  // The selected and the focused row's session; null when none.
  virtual TServerSession* SelectedSession() const = 0;
  virtual TServerSession* FocusedSession() const = 0;
  // Replaces the links inside one update, shows the task header (and the
  // panel unless the header is collapsed) and re-places the panels below.
  virtual void SetTaskLinks(const std::vector<TBRNTaskLink>& links) = 0;
  // Fills the server details inside one update and re-places the panels
  // below.
  virtual void SetServerDetails(const TBRNDetails& details) = 0;
  // Fills and shows the session details header and panel; null hides both.
  virtual void SetSessionDetails(const TBRNDetails* details) = 0;
  // The tray icon: false when the platform refused (no tray, icon gone).
  virtual bool AddTrayIcon(bool serverActive, const std::string& tip) = 0;
  virtual bool ModifyTrayIcon(bool serverActive, const std::string& tip) = 0;
  virtual bool DeleteTrayIcon() = 0;
  // The 1000 ms timers that call UpdateTrayIcon (IconTimer) and
  // UpdateUpTime (SystemTimer).
  virtual void SetIconTimer(bool on) = 0;
  virtual void SetSystemTimer(bool on) = 0;
  virtual void FocusSessionList() = 0;
  virtual std::unique_ptr<TBRNServerDialogView> CreateServerDialog() = 0;
};

// The form's tray icon, status bar counters, session list, task links,
// details panels, options dialog and administrator set-up.
//
// Threads: ServerSessionEvent runs on server threads, concurrently for
// different sessions, and touches nothing but the event it posts; every
// other method runs on the main thread. TrayLock serialises the tray calls.
class TBRNHostPanels : public TBRNMainFormPanels {
 public:
  // view is null without a user interface.
  TBRNHostPanels(TMainForm& form, TBRNHostPanelsView* view);
  ~TBRNHostPanels() override;

  void UpdateTrayIcon() override;
  void RemoveTrayIcon() override;
  void StartIconTimer() override;
  void StopIconTimer() override;
  void UpdateTaskLinks() override;
  void UpdateServerDetails() override;
  void UpdateUpTime() override;
  void SetUpAdministratorSession() override;
  void ServerSessionEvent(TBRNServerSessionEventType eventType, const TBRNServerSession& session,
                          void*& userObject) override;
  void HandleApplicationEvent(TBRNApplicationEvent& event, bool& handled) override;
  bool RunOptionsDialog() override;
  void ApplyOptions() override;
  void ReleaseOptionsDialog() override;
  void ReleaseSessions() override;

  void UpdateSessionCounts();
  // Item null: the session details hidden.
  void ShowSessionDetails(TServerSession* item);
  void DisconnectClick();
  void RemoveClick();
  // The Delete key without Shift, Ctrl or Alt removes the selected session.
  void SessionsListViewKeyDown(bool deleteKey, bool shift, bool ctrl, bool alt);
  // A change of the focused row's state, or a click on the list.
  void SessionsListViewChange();
  void SessionsListViewClick();
  void FormShow();
  // Hands the queued events over now and stops the up-time timer.
  void FormHide();

  // A session's caption: "<user>:<id>", or "None:<id>" before login.
  static std::string SessionCaption(const TBRNServerSession& session);
  static TBRNSessionRow MakeRow(const TBRNServerSession& session);
  // Date and time in the platform's short date and long time format.
  static std::string FormatDateTime(TDateTime value);

  TBRNHostPanelsView* PanelsView() const { return view_; }

  int SessionCount = 0;
  int ConnectedCount = 0;
  bool TrayIconAdded = false;
  std::mutex TrayLock;
  // The host's copies in the order their sessions opened.
  std::vector<std::shared_ptr<TServerSession>> Sessions;
  // The details panel as last shown (for tests of the panels' logic).
  TBRNDetails ServerDetails;
  std::vector<TBRNTaskLink> TaskLinks;

 private:
  TBRNEngine& engine() { return form_.ServerEngine(); }
  bool hasUserInterface() const { return view_ != nullptr && !form_.NoUserInterface; }
  void runTask(const std::function<void()>& task);

  TMainForm& form_;
  TBRNHostPanelsView* view_;
  std::unique_ptr<TBRNServerDialogView> dialogView_;
  std::unique_ptr<TServerDialog> dialog_;
};

// "Yes" or "No".
std::string YesNoText(bool flag);

}  // namespace brn

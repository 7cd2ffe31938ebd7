#include "host/main/host_panels.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>

#include "foundation/types/date_time.h"
#include "host/options/server_dialog.h"
#include "host/security/administrator_setup.h"
#include "host/startup/host_startup.h"
#include "platform/registry_file.h"

namespace brn {

namespace {

// What a tray tip holds.
constexpr size_t kTrayTipLength = 127;

const char* const kDisconnectQuestion =
    "Disconnecting an active session can cause errors in the application that is using the "
    "session.  Are you sure you want to continue ?";
const char* const kRemoveQuestion =
    "Removing a session can cause errors in the application that is using the session.  Are you "
    "sure you want to continue ?";

}  // namespace

std::string YesNoText(bool flag) {
  return flag ? "Yes" : "No";
}

TBRNHostPanels::TBRNHostPanels(TMainForm& form, TBRNHostPanelsView* view)
    : form_(form), view_(view) {}

TBRNHostPanels::~TBRNHostPanels() {
  ReleaseOptionsDialog();
}

std::string TBRNHostPanels::SessionCaption(const TBRNServerSession& session) {
  return (session.UserName.empty() ? std::string("None") : session.UserName) + ":" +
         std::to_string(session.SessionID);
}

std::string TBRNHostPanels::FormatDateTime(TDateTime value) {
  TBRNTimestampParts parts;
  DecodeTimestamp(DateTimeToTimestampMs(value), parts);
  std::tm time{};
  time.tm_year = parts.Year - 1900;
  time.tm_mon = parts.Month - 1;
  time.tm_mday = parts.Day;
  time.tm_hour = parts.Hour;
  time.tm_min = parts.Minute;
  time.tm_sec = parts.Second;
  char text[128];
  const size_t length = std::strftime(text, sizeof(text), "%x %X", &time);
  return std::string(text, length);
}

TBRNSessionRow TBRNHostPanels::MakeRow(const TBRNServerSession& session) {
  TBRNSessionRow row;
  row.Image = session.Encrypted ? 1 : 0;
  row.Caption = SessionCaption(session);
  row.Address = session.ClientAddress + (session.Connected ? "" : " (Disconnected)");
  row.Process = session.ProcessName;
  row.CreatedOn = FormatDateTime(session.CreatedOn);
  return row;
}

// ---- Session events

void TBRNHostPanels::ServerSessionEvent(TBRNServerSessionEventType eventType,
                                        const TBRNServerSession& session, void*& userObject) {
  if (form_.NoUserInterface) return;
  std::shared_ptr<TServerSession> target;
  if (eventType == seOpen) {
    target = std::make_shared<TServerSession>();
    userObject = target.get();
  } else {
    // The copy stays alive until its seClose is handled: the open event
    // holds it until the main thread puts it into Sessions.
    if (userObject == nullptr) return;
    target = static_cast<TServerSession*>(userObject)->shared_from_this();
  }
  TBRNApplicationEventQueue* queue = form_.EventQueue();
  if (queue == nullptr) return;
  queue->Post(std::make_unique<TBRNSessionApplicationEvent>(eventType, std::move(target), session));
}

void TBRNHostPanels::HandleApplicationEvent(TBRNApplicationEvent& event, bool& handled) {
  handled = true;
  auto* sessionEvent = dynamic_cast<TBRNSessionApplicationEvent*>(&event);
  if (sessionEvent == nullptr) return;
  std::shared_ptr<TServerSession> session = std::static_pointer_cast<TServerSession>(event.Data);
  if (!session) return;
  session->Session = sessionEvent->Record;
  const bool focused = view_ != nullptr && view_->FocusedSession() == session.get();
  switch (event.EventType) {
    case seOpen:
      Sessions.push_back(session);
      ++SessionCount;
      if (view_ != nullptr) view_->AddSessionRow(session.get(), MakeRow(session->Session));
      UpdateSessionCounts();
      break;
    case seConnect:
    case seDisconnect:
      ConnectedCount += event.EventType == seConnect ? 1 : -1;
      if (view_ != nullptr) view_->UpdateSessionRow(session.get(), MakeRow(session->Session));
      UpdateSessionCounts();
      UpdateTaskLinks();
      if (focused) ShowSessionDetails(session.get());
      break;
    case seLogin:
    case seLogout:
      if (view_ != nullptr) view_->UpdateSessionRow(session.get(), MakeRow(session->Session));
      if (focused) ShowSessionDetails(session.get());
      break;
    case seClose: {
      auto found = std::find(Sessions.begin(), Sessions.end(), session);
      if (found == Sessions.end()) break;
      --SessionCount;
      if (focused) ShowSessionDetails(nullptr);
      if (view_ != nullptr) view_->DeleteSessionRow(session.get());
      Sessions.erase(found);
      UpdateTaskLinks();
      UpdateSessionCounts();
      break;
    }
  }
}

void TBRNHostPanels::ReleaseSessions() {
  // The rows first: they name the copies about to go.
  if (view_ != nullptr) {
    for (const std::shared_ptr<TServerSession>& session : Sessions) {
      view_->DeleteSessionRow(session.get());
    }
  }
  Sessions.clear();
  SessionCount = 0;
  ConnectedCount = 0;
}

// ---- Status bar

void TBRNHostPanels::UpdateUpTime() {
  if (form_.NoUserInterface || form_.View() == nullptr) return;
  std::string text = "Stopped";
  if (engine().GetActive()) text = "Up Time: " + FormatElapsedTime(engine().GetServerUpTime());
  form_.View()->SetStatusPanelText(1, text);
}

void TBRNHostPanels::UpdateSessionCounts() {
  if (form_.View() == nullptr) return;
  form_.View()->SetStatusPanelText(2, "Sessions: " + std::to_string(SessionCount));
  form_.View()->SetStatusPanelText(3, "Connected: " + std::to_string(ConnectedCount));
}

void TBRNHostPanels::FormShow() {
  UpdateUpTime();
  UpdateSessionCounts();
  if (view_ != nullptr) {
    view_->SetSystemTimer(true);
    view_->FocusSessionList();
  }
}

void TBRNHostPanels::FormHide() {
  if (form_.EventQueue() != nullptr) form_.EventQueue()->ProcessEvents();
  if (view_ != nullptr) view_->SetSystemTimer(false);
}

// ---- Task links and details

void TBRNHostPanels::runTask(const std::function<void()>& task) {
  try {
    task();
  } catch (const std::exception& error) {
    // Start and stop have reported their failure already; anything else
    // (a settings file that cannot be saved) is shown here.
    if (form_.View() != nullptr) form_.View()->ShowError(error.what());
  }
}

void TBRNHostPanels::UpdateTaskLinks() {
  std::vector<TBRNTaskLink> links;
  if (engine().GetActive()) {
    links.push_back({"Stop Server", tiStopServer, [this] {
                       try {
                         form_.StopClick();
                       } catch (const std::exception&) {
                         // Reported by the form.
                       }
                     }});
    TServerSession* selected = view_ != nullptr ? view_->SelectedSession() : nullptr;
    if (SessionCount > 0 && selected != nullptr) {
      links.push_back({"", -1, nullptr, true});
      if (selected->Session.Connected) {
        links.push_back({"Disconnect Session", tiDisconnect, [this] { DisconnectClick(); }});
      }
      links.push_back({"Remove Session", tiRemove, [this] { RemoveClick(); }});
    }
  } else {
    links.push_back({"Start Server", tiStartServer, [this] {
                       try {
                         form_.StartClick();
                       } catch (const std::exception&) {
                         // Reported by the form.
                       }
                     }});
    links.push_back({"", -1, nullptr, true});
    links.push_back(
        {"Edit Server Options", tiEditOptions, [this] { runTask([this] { form_.EditClick(); }); }});
  }
  TaskLinks = links;
  if (view_ != nullptr) view_->SetTaskLinks(links);
}

void TBRNHostPanels::UpdateServerDetails() {
  TBRNEngine& e = engine();
  TBRNDetails details;
  details.Title = e.GetServerName() + (HostNamedInstance ? " (Named)" : "");
  details.Description = e.GetServerDescription();
  std::vector<std::string>& lines = details.Lines;
  lines.push_back(form_.IsService ? "Mode: Service" : "Mode: Application");
  lines.push_back("IP Address: " + (e.GetServerAddress().empty() ? std::string("All Addresses")
                                                                 : e.GetServerAddress()));
  lines.push_back("Port: " + std::to_string(e.GetServerPort()));
  lines.push_back("");
  lines.push_back("Version: " + e.GetEngineVersion());
  lines.push_back("");
  lines.push_back(e.GetConfigMemory() ? std::string("Config In-Memory: Yes")
                                      : "Config Folder: " + e.GetConfigPath());
  lines.push_back("");
  lines.push_back("Large File Support: " + YesNoText(e.GetLargeFileSupport()));
  lines.push_back("Max Log File Size: " + std::to_string(e.GetMaxLogFileSize()));
  lines.push_back("");
  lines.push_back("Standard NULL Behavior: " + YesNoText(e.GetStandardNullBehavior()));
  lines.push_back("Temp Tables Folder: " + e.GetTempTablesPath());
  ServerDetails = details;
  if (view_ != nullptr) view_->SetServerDetails(details);
}

void TBRNHostPanels::ShowSessionDetails(TServerSession* item) {
  if (view_ == nullptr) return;
  if (item == nullptr) {
    view_->SetSessionDetails(nullptr);
    return;
  }
  const TBRNServerSession& session = item->Session;
  TBRNDetails details;
  details.Title = SessionCaption(session);
  details.Description = session.SessionDescription;
  const std::string changed = FormatDateTime(session.LastStateChangeOn);
  if (session.Connected) {
    details.Lines = {"IP Address: " + session.ClientAddress, "Connected: " + changed};
  } else {
    details.Lines = {"Last IP Address: " + session.ClientAddress, "Last Connected: " + changed};
  }
  view_->SetSessionDetails(&details);
}

// ---- Session tasks

void TBRNHostPanels::DisconnectClick() {
  TServerSession* selected = view_ != nullptr ? view_->SelectedSession() : nullptr;
  if (selected == nullptr || form_.View() == nullptr) return;
  if (!form_.View()->Confirm(kDisconnectQuestion)) return;
  engine().DisconnectServerSession(selected->Session.SessionID);
  UpdateTaskLinks();
  ShowSessionDetails(view_->SelectedSession());
}

void TBRNHostPanels::RemoveClick() {
  TServerSession* selected = view_ != nullptr ? view_->SelectedSession() : nullptr;
  if (selected == nullptr || form_.View() == nullptr) return;
  if (!form_.View()->Confirm(kRemoveQuestion)) return;
  // The row goes when the engine reports the session's close.
  engine().RemoveServerSession(selected->Session.SessionID);
  UpdateTaskLinks();
  ShowSessionDetails(nullptr);
}

void TBRNHostPanels::SessionsListViewKeyDown(bool deleteKey, bool shift, bool ctrl, bool alt) {
  if (deleteKey && !shift && !ctrl && !alt) RemoveClick();
}

void TBRNHostPanels::SessionsListViewChange() {
  UpdateTaskLinks();
  ShowSessionDetails(view_ != nullptr ? view_->SelectedSession() : nullptr);
}

void TBRNHostPanels::SessionsListViewClick() {
  SessionsListViewChange();
}

// ---- Tray icon

void TBRNHostPanels::UpdateTrayIcon() {
  if (!hasUserInterface()) return;
  std::lock_guard<std::mutex> lock(TrayLock);
  const std::string tip = form_.TrayTip.substr(0, kTrayTipLength);
  const bool active = engine().GetActive();
  if (TrayIconAdded) {
    if (!view_->ModifyTrayIcon(active, tip)) view_->AddTrayIcon(active, tip);
  } else if (view_->AddTrayIcon(active, tip)) {
    TrayIconAdded = true;
  }
}

void TBRNHostPanels::RemoveTrayIcon() {
  if (view_ == nullptr) return;
  std::lock_guard<std::mutex> lock(TrayLock);
  if (view_->DeleteTrayIcon()) TrayIconAdded = false;
}

void TBRNHostPanels::StartIconTimer() {
  if (hasUserInterface()) view_->SetIconTimer(true);
}

void TBRNHostPanels::StopIconTimer() {
  if (view_ != nullptr) view_->SetIconTimer(false);
}

// ---- Options dialog and administrator set-up

bool TBRNHostPanels::RunOptionsDialog() {
  if (view_ == nullptr) return false;
  ReleaseOptionsDialog();
  dialogView_ = view_->CreateServerDialog();
  dialog_ = std::make_unique<TServerDialog>(*dialogView_);
  dialogView_->SetCaption("Edit Server Options");
  dialog_->Fill(engine(), HostNamedInstance, form_.IsService);
  dialog_->FormCreate();
  return dialogView_->ShowModal();
}

void TBRNHostPanels::ApplyOptions() {
  if (dialog_ != nullptr) dialog_->ReadBack(engine());
}

void TBRNHostPanels::ReleaseOptionsDialog() {
  // The logic first: it detaches itself from its view.
  dialog_.reset();
  dialogView_.reset();
}

void TBRNHostPanels::SetUpAdministratorSession() {
  TBRNRegistryFile registry(TBRNRegistryFile::DefaultFileName(form_.IsService));
  TBRNAdministratorSetupReport report;
  report.Information = [this](const std::string& text) { form_.LogInformation(text); };
  report.Error = [this](const std::string& text) {
    form_.LogError(text);
    if (!form_.IsService && form_.View() != nullptr) form_.View()->ShowError(text);
  };
  // Only a person at a terminal gets a new password shown, never a log: it
  // is stored encrypted and could not be learnt otherwise.
  if (!form_.IsService && isatty(STDERR_FILENO) == 1) {
    const std::string fileName = registry.FileName();
    report.NewPassword = [fileName](const std::string& password) {
      std::fprintf(stderr,
                   "The administrator password of this new configuration is %s\n"
                   "(kept encrypted in %s; ALTER USER changes it).\n",
                   password.c_str(), fileName.c_str());
    };
  }
  brn::SetUpAdministratorSession(engine(), registry, report);
}

}  // namespace brn

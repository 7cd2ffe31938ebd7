#include "host/main/main_form.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>

#include "host/startup/host_startup.h"
#include "platform/ini_file.h"

namespace brn {

namespace {

constexpr std::string_view CRLF = "\r\n";
constexpr const char* LayoutSection = "Layout";

int32_t ToInt32(int64_t value) {
  return int32_t(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                     std::numeric_limits<int32_t>::max()));
}

// Each line followed by a line break, as the address lists are stored.
std::string JoinLines(const TStringList& list) {
  std::string text;
  for (const std::string& line : list.Items()) {
    text += line;
    text += CRLF;
  }
  return text;
}

// Lines broken at CR LF or a lone LF; a break at the very end opens no
// further line.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

void SetLogCategory(TBRNEngine& engine, TBRNLogCategory category, bool on) {
  TBRNLogCategories bits = engine.GetLogCategories();
  if (on) {
    bits = TBRNLogCategories(bits | LogCategoryBit(category));
  } else {
    bits = TBRNLogCategories(bits & ~LogCategoryBit(category));
  }
  engine.SetLogCategories(bits);
}

bool HasLogCategory(const TBRNEngine& engine, TBRNLogCategory category) {
  return (engine.GetLogCategories() & LogCategoryBit(category)) != 0;
}

}  // namespace

TMainForm::TMainForm(std::string programPath, TBRNMainFormView* view, TBRNMainLoop* loop)
    : programPath_(std::move(programPath)),
      view_(view),
      loop_(loop),
      panels_(std::make_unique<TBRNMainFormPanels>()),
      engine_(std::make_unique<TBRNEngine>(nullptr)) {
  TBRNEngine& e = *engine_;
  e.SetEngineType(etServer);
  e.SetConfigPath(".");
  e.SetConfigName("BRNConfig");
  e.SetConfigExtension(".BRNCfg");
  e.SetLockExtension(".BRNLck");
  e.SetLogExtension(".BRNLog");
  e.SetMaxLogFileSize(1048576);
  e.SetLogCategories(TBRNLogCategories(LogCategoryBit(lcInformation) | LogCategoryBit(lcWarning) |
                                       LogCategoryBit(lcError)));
  e.SetCatalogName("BRNDatabase");
  e.SetCatalogExtension(".BRNCat");
  e.SetBackupExtension(".BRNBkp");
  e.SetUpdateExtension(".BRNUpd");
  e.SetTableExtension(".BRNTbl");
  e.SetTableIndexExtension(".BRNIdx");
  e.SetTableBlobExtension(".BRNBlb");
  e.SetTablePublishExtension(".BRNPbl");
  e.SetShowUserPasswords(true);
  e.SetShowDatabaseCatalogVersions(false);
  e.SetServerDescription(std::string(DefaultServerDescription));
  e.SetServerDeadSessionExpiration(60);
  TStringList authorized;
  authorized.Add("*");
  e.SetServerAuthorizedAddresses(authorized);
  e.SetStoreActive(false);
  e.SetBeforeStart([this](TComponent*) { BeforeStart(); });
  e.SetAfterStart([this](TComponent*) { AfterStart(); });
  e.SetBeforeStop([this](TComponent*) { BeforeStop(); });
  e.SetAfterStop([this](TComponent*) { AfterStop(); });
  // Server threads: NoUserInterface and the panels are settled before the
  // engine starts and do not change while it runs.
  e.SetOnServerSessionEvent([this](TComponent*, TBRNServerSessionEventType type,
                                   const TBRNServerSession& session, void*& userObject) {
    if (NoUserInterface) return;
    panels_->ServerSessionEvent(type, session, userObject);
  });
}

TMainForm::~TMainForm() {
  if (!destroyed_) {
    try {
      FormDestroy();
    } catch (...) {
      // A destructor cannot report; the engine stops with its component.
    }
  }
}

void TMainForm::SetPanels(std::unique_ptr<TBRNMainFormPanels> panels) {
  panels_ = panels ? std::move(panels) : std::make_unique<TBRNMainFormPanels>();
}

void TMainForm::FormCreate() {
  eventQueue_ = std::make_unique<TBRNApplicationEventQueue>(loop_);
  eventQueue_->Handler = [this](TBRNApplicationEvent& event, bool& handled) {
    panels_->HandleApplicationEvent(event, handled);
  };
  eventQueue_->OnDropped = [this](const std::string& text) { LogError(text); };
  LoadLayout();
}

std::string TMainForm::GetSettingsFileName() const {
  return GetIniFileName(programPath_);
}

void TMainForm::ShowError(const std::string& text) {
  if (view_ != nullptr) {
    view_->ShowError(text);
  } else if (HostShowError) {
    HostShowError(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

std::string TMainForm::Caption() const {
  return view_ != nullptr ? view_->Caption() : HostFileDescription();
}

void TMainForm::StartUp(bool service) {
  std::filesystem::current_path(std::filesystem::path(programPath_).parent_path());
  IsService = service;
  // The system log needs no registered source.
  eventLogger_ = std::make_unique<TBRNEventLogger>(HostServerName);
  NoUserInterface = false;
  engine_->SetServerName(HostServerName);
  engine_->SetServerDescription(HostServerDescription);
  try {
    LoadSettings(InstanceSectionName());
  } catch (const std::exception& error) {
    ShowError("Error reading the " + HostFileDescription() + " configuration information:\r\n\r\n" +
              error.what());
  }
  if (IsService) {
    if (view_ != nullptr) view_->SetCloseItemVisible(false);
    NoUserInterface = !HostInteractive;
  }
  // Without a window there is nothing to show, whatever the setting says.
  if (view_ == nullptr) NoUserInterface = true;
  if (!NoUserInterface) {
    panels_->UpdateServerDetails();
    panels_->StartIconTimer();
  }
  try {
    engine_->SetActive(true);
  } catch (...) {
    // The start events have shown the failure in the status bar and tip.
  }
}

void TMainForm::FormDestroy(bool installing) {
  if (destroyed_) return;
  destroyed_ = true;
  if (!installing) {
    if (!NoUserInterface) panels_->StopIconTimer();
    try {
      engine_->SetActive(false);
    } catch (...) {
      // Closing goes on; the engine component stops what is left when freed.
    }
    if (!NoUserInterface) panels_->RemoveTrayIcon();
  }
  eventQueue_.reset();
  panels_->ReleaseSessions();
  SaveLayout();
}

void TMainForm::LoadSettings(const std::string& section) {
  TBRNIniFile ini(GetSettingsFileName());
  TBRNEngine& e = *engine_;
  auto readBool = [&](const char* key, bool current) {
    return ini.ReadBool(section, key, current);
  };
  auto readInt = [&](const char* key, int32_t current) {
    return ToInt32(ini.ReadInteger(section, key, current));
  };
  auto readString = [&](const char* key, const std::string& current) {
    return ini.ReadString(section, key, current);
  };

  e.SetEncryptionPassword(readString("Encryption Password", e.GetEncryptionPassword()));
  e.SetSignature(readString("Signature", e.GetSignature()));
  e.SetConfigMemory(readBool("Configuration In Memory", e.GetConfigMemory()));
  e.SetConfigPath(readString("Configuration Folder", "."));
  e.SetLargeFileSupport(readBool("Large File Support", e.GetLargeFileSupport()));
  e.SetStandardNullBehavior(readBool("Standard NULL Behavior", e.GetStandardNullBehavior()));
  e.SetExclusiveFileAccess(readBool("Exclusive File Access", e.GetExclusiveFileAccess()));
  e.SetMaxLogFileSize(readInt("Maximum Log File Size", e.GetMaxLogFileSize()));
  SetLogCategory(e, lcInformation,
                 readBool("Log Information Events", HasLogCategory(e, lcInformation)));
  SetLogCategory(e, lcWarning, readBool("Log Warning Events", HasLogCategory(e, lcWarning)));
  SetLogCategory(e, lcError, readBool("Log Error Events", HasLogCategory(e, lcError)));
  e.SetConfigName(readString("Configuration Name", e.GetConfigName()));
  e.SetCatalogName(readString("Catalog Name", e.GetCatalogName()));
  e.SetConfigExtension(readString("Configuration File Extension", e.GetConfigExtension()));
  e.SetLockExtension(readString("Lock Files Extension", e.GetLockExtension()));
  e.SetLogExtension(readString("Log File Extension", e.GetLogExtension()));
  e.SetBackupExtension(readString("Backup Files Extension", e.GetBackupExtension()));
  e.SetUpdateExtension(readString("Update Files Extension", e.GetUpdateExtension()));
  e.SetCatalogExtension(readString("Catalog Files Extension", e.GetCatalogExtension()));
  e.SetTableExtension(readString("Table Files Extension", e.GetTableExtension()));
  e.SetTableIndexExtension(readString("Table Index Files Extension", e.GetTableIndexExtension()));
  e.SetTableBlobExtension(readString("Table BLOB Files Extension", e.GetTableBlobExtension()));
  e.SetTablePublishExtension(
      readString("Table Publish Files Extension", e.GetTablePublishExtension()));
  e.SetTempTablesPath(readString("Temporary Tables Folder", e.GetDefaultTempTablesPath()));
  {
    // One level only; the engine reports a folder it cannot use when it
    // needs it.
    std::error_code ignored;
    const std::string& folder = e.GetTempTablesPath();
    if (!folder.empty() && !std::filesystem::exists(folder, ignored))
      std::filesystem::create_directory(folder, ignored);
  }
  e.SetShowUserPasswords(readBool("Show User Passwords", e.GetShowUserPasswords()));
  e.SetShowDatabaseCatalogVersions(
      readBool("Show Database Catalog Versions", e.GetShowDatabaseCatalogVersions()));
  if (!HostNamedInstance) e.SetServerName(readString("Server Name", e.GetServerName()));
  e.SetServerDescription(ini.ReadText(section, "Server Description", e.GetServerDescription()));
  e.SetServerRunJobs(readBool("Server Run Jobs", e.GetServerRunJobs()));
  e.SetServerJobCategory(readString("Server Job Category", e.GetServerJobCategory()));
  e.SetServerAddress(readString("Server Address", e.GetServerAddress()));
  e.SetServerPort(readInt("Server Port", e.GetServerPort()));
  e.SetServerThreadCacheSize(readInt("Server Thread Cache Size", e.GetServerThreadCacheSize()));
  e.SetServerEncryptedOnly(readBool("Server Encrypted Only", e.GetServerEncryptedOnly()));
  e.SetServerSessionTimeout(readInt("Server Session Timeout", e.GetServerSessionTimeout()));
  e.SetServerDeadSessionInterval(
      readInt("Server Dead Session Interval", e.GetServerDeadSessionInterval()));
  e.SetServerDeadSessionExpiration(
      readInt("Server Dead Session Expiration", e.GetServerDeadSessionExpiration()));
  e.SetServerMaxDeadSessions(readInt("Server Maximum Dead Sessions", e.GetServerMaxDeadSessions()));
  TStringList list;
  list.Assign(SplitLines(ini.ReadText(section, "Server Authorized Addresses",
                                      JoinLines(e.GetServerAuthorizedAddresses()))));
  e.SetServerAuthorizedAddresses(list);
  list.Assign(SplitLines(
      ini.ReadText(section, "Server Blocked Addresses", JoinLines(e.GetServerBlockedAddresses()))));
  e.SetServerBlockedAddresses(list);
  NoUserInterface = readBool("No User Interface", NoUserInterface);
  CurrentFolder = readString("Current Folder", CurrentFolder);
}

void TMainForm::SaveSettings(const std::string& section) {
  TBRNIniFile ini(GetSettingsFileName());
  const TBRNEngine& e = *engine_;
  ini.WriteBool(section, "Configuration In Memory", e.GetConfigMemory());
  ini.WriteString(section, "Configuration Folder", e.GetConfigPath());
  ini.WriteString(section, "Configuration Name", e.GetConfigName());
  ini.WriteBool(section, "Large File Support", e.GetLargeFileSupport());
  ini.WriteBool(section, "Standard NULL Behavior", e.GetStandardNullBehavior());
  ini.WriteInteger(section, "Maximum Log File Size", e.GetMaxLogFileSize());
  ini.WriteBool(section, "Log Information Events", HasLogCategory(e, lcInformation));
  ini.WriteBool(section, "Log Warning Events", HasLogCategory(e, lcWarning));
  ini.WriteBool(section, "Log Error Events", HasLogCategory(e, lcError));
  ini.WriteString(section, "Catalog Name", e.GetCatalogName());
  ini.WriteString(section, "Configuration File Extension", e.GetConfigExtension());
  ini.WriteString(section, "Lock Files Extension", e.GetLockExtension());
  ini.WriteString(section, "Log File Extension", e.GetLogExtension());
  ini.WriteString(section, "Backup Files Extension", e.GetBackupExtension());
  ini.WriteString(section, "Update Files Extension", e.GetUpdateExtension());
  ini.WriteString(section, "Catalog Files Extension", e.GetCatalogExtension());
  ini.WriteString(section, "Table Files Extension", e.GetTableExtension());
  ini.WriteString(section, "Table Index Files Extension", e.GetTableIndexExtension());
  ini.WriteString(section, "Table BLOB Files Extension", e.GetTableBlobExtension());
  ini.WriteString(section, "Table Publish Files Extension", e.GetTablePublishExtension());
  ini.WriteString(section, "Signature", e.GetSignature());
  ini.WriteString(section, "Temporary Tables Folder", e.GetTempTablesPath());
  if (!HostNamedInstance) ini.WriteString(section, "Server Name", e.GetServerName());
  ini.WriteText(section, "Server Description", e.GetServerDescription());
  ini.WriteBool(section, "Server Run Jobs", e.GetServerRunJobs());
  ini.WriteString(section, "Server Job Category", e.GetServerJobCategory());
  ini.WriteString(section, "Server Address", e.GetServerAddress());
  ini.WriteInteger(section, "Server Port", e.GetServerPort());
  ini.WriteInteger(section, "Server Thread Cache Size", e.GetServerThreadCacheSize());
  ini.WriteBool(section, "Server Encrypted Only", e.GetServerEncryptedOnly());
  ini.WriteInteger(section, "Server Session Timeout", e.GetServerSessionTimeout());
  ini.WriteInteger(section, "Server Dead Session Interval", e.GetServerDeadSessionInterval());
  ini.WriteInteger(section, "Server Dead Session Expiration", e.GetServerDeadSessionExpiration());
  ini.WriteInteger(section, "Server Maximum Dead Sessions", e.GetServerMaxDeadSessions());
  ini.WriteText(section, "Server Authorized Addresses",
                JoinLines(e.GetServerAuthorizedAddresses()));
  ini.WriteText(section, "Server Blocked Addresses", JoinLines(e.GetServerBlockedAddresses()));
  ini.WriteString(section, "Current Folder", CurrentFolder);
  ini.UpdateFile();
}

void TMainForm::LoadLayout() {
  if (view_ == nullptr) return;
  TBRNWindowLayout layout = view_->GetLayout();
  try {
    TBRNIniFile ini(GetSettingsFileName());
    auto read = [&](const char* key, int current) {
      return int(ToInt32(ini.ReadInteger(LayoutSection, key, current)));
    };
    layout.TaskPanelWidth = read("Task Panel Width", layout.TaskPanelWidth);
    layout.WindowState = read("Window State", 0);
    if (layout.WindowState == 2) {
      view_->SetLayout(layout, false);
      return;
    }
    layout.Top = read("Window Top", layout.Top);
    layout.Left = read("Window Left", layout.Left);
    layout.Height = read("Window Height", layout.Height);
    layout.Width = read("Window Width", layout.Width);
  } catch (const std::exception&) {
    // An unreadable file leaves the window as it was made.
    return;
  }
  view_->SetLayout(layout, true);
}

void TMainForm::SaveLayout() {
  // Without a window there is no layout to keep.
  if (view_ == nullptr) return;
  try {
    TBRNWindowLayout layout = view_->GetLayout();
    TBRNIniFile ini(GetSettingsFileName());
    ini.WriteInteger(LayoutSection, "Task Panel Width", layout.TaskPanelWidth);
    ini.WriteInteger(LayoutSection, "Window State", layout.WindowState);
    ini.WriteInteger(LayoutSection, "Window Top", layout.Top);
    ini.WriteInteger(LayoutSection, "Window Left", layout.Left);
    ini.WriteInteger(LayoutSection, "Window Height", layout.Height);
    ini.WriteInteger(LayoutSection, "Window Width", layout.Width);
    ini.UpdateFile();
  } catch (const std::exception&) {
    // The layout is a convenience; losing it harms nothing.
  }
}

void TMainForm::LogError(const std::string& text) {
  if (eventLogger_) eventLogger_->LogMessage(text, TBRNEventLogType::Error);
}

void TMainForm::LogInformation(const std::string& text) {
  if (eventLogger_) eventLogger_->LogMessage(text, TBRNEventLogType::Information);
}

std::string TMainForm::GetRunningText() const {
  const std::string& address = engine_->GetServerAddress();
  std::string port = std::to_string(engine_->GetServerPort());
  return address.empty() ? "Running on all addresses and port " + port
                         : "Running on address " + address + " and port " + port;
}

std::string TMainForm::GetStoppedText() const {
  const std::string& address = engine_->GetServerAddress();
  std::string port = std::to_string(engine_->GetServerPort());
  return address.empty() ? "Stopped on all addresses and port " + port
                         : "Stopped on address " + address + " and port " + port;
}

void TMainForm::SetStatusText(const std::string& text) {
  if (view_ != nullptr) view_->SetStatusPanelText(0, " " + text);
}

void TMainForm::BeforeStart() {
  TrayTip = "Starting";
  panels_->UpdateTrayIcon();
  SetStatusText("Starting...");
}

void TMainForm::AfterStart() {
  TrayTip = GetRunningText();
  panels_->UpdateTrayIcon();
  SetStatusText("");
  panels_->UpdateTaskLinks();
  panels_->UpdateUpTime();
  panels_->SetUpAdministratorSession();
  LogInformation("Server " + HostServerName + " is started.");
}

void TMainForm::BeforeStop() {
  TrayTip = "Stopping";
  panels_->UpdateTrayIcon();
  SetStatusText("Stopping...");
}

void TMainForm::AfterStop() {
  TrayTip = GetStoppedText();
  panels_->UpdateTrayIcon();
  SetStatusText("");
  panels_->UpdateTaskLinks();
  panels_->UpdateUpTime();
  LogInformation("Server " + HostServerName + " is stopped.");
}

void TMainForm::DisableTasks() {
  if (view_ != nullptr) view_->SetTasksEnabled(false);
}

void TMainForm::EnableTasks() {
  if (view_ != nullptr) view_->SetTasksEnabled(true);
}

void TMainForm::StartClick() {
  DisableTasks();
  try {
    engine_->SetActive(true);
  } catch (...) {
    SetStatusText("Error starting server");
    TrayTip = GetStoppedText();
    panels_->UpdateTrayIcon();
    EnableTasks();
    throw;
  }
  EnableTasks();
}

void TMainForm::StopClick() {
  DisableTasks();
  if (engine_->GetActive() && engine_->GetServerConnectedSessionCount() > 0) {
    std::string caption = Caption();
    bool yes =
        view_ == nullptr ||
        view_->Confirm("There are active sessions currently connected and stopping the " + caption +
                       " will disconnect and remove these active sessions.  "
                       "Are you sure you want to stop the " +
                       caption + " ?");
    if (!yes) {
      EnableTasks();
      return;
    }
  }
  try {
    engine_->SetActive(false);
  } catch (...) {
    SetStatusText("Error stopping server");
    TrayTip = GetRunningText();
    panels_->UpdateTrayIcon();
    EnableTasks();
    throw;
  }
  EnableTasks();
}

void TMainForm::EditClick() {
  struct Release {
    TBRNMainFormPanels& panels;
    ~Release() { panels.ReleaseOptionsDialog(); }
  } release{*panels_};
  if (!panels_->RunOptionsDialog()) return;
  engine_->SetActive(false);
  panels_->ApplyOptions();
  panels_->UpdateServerDetails();
  SaveSettings(InstanceSectionName());
}

void TMainForm::CloseItemClick() {
  CloseRequested = true;
  if (view_ != nullptr) view_->CloseWindow();
}

void TMainForm::RestoreItemClick() {
  if (view_ != nullptr) view_->RestoreWindow();
}

bool TMainForm::FormCloseQuery() {
  if (EndingSession) return true;
  bool canClose = false;
  if (CloseRequested) {
    canClose = true;
    if (engine_->GetActive()) {
      std::string caption = Caption();
      std::string text =
          engine_->GetServerConnectedSessionCount() > 0
              ? "There are active sessions currently connected and closing the " + caption +
                    " will disconnect and remove these active sessions.  "
                    "Are you sure you want to close the " +
                    caption + " ?"
              : "The " + caption +
                    " is currently running.  Are you sure that you want to close the " + caption +
                    " ?";
      if (view_ != nullptr) {
        view_->Beep();
        canClose = view_->Confirm(text);
      }
    }
  } else if (view_ != nullptr) {
    view_->HideWindow();
  }
  CloseRequested = false;
  return canClose;
}

void TMainForm::QueryEndSession() {
  if (view_ != nullptr) view_->HideWindow();
}

void TMainForm::EndSession(bool loggingOff) {
  // A service goes on when only the user logs off.
  if (!(IsService && loggingOff)) EndingSession = true;
}

}  // namespace brn

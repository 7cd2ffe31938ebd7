#include "host/ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QSessionManager>
#include <QSplitter>
#include <QStatusBar>

#include "foundation/files/version_info.h"
#include "host/startup/host_startup.h"

namespace brn {

namespace {

constexpr int PaneMargin = 12;
constexpr int HeaderHeight = 25;

// The product name of the program's version information, else the
// server's default description.
std::string ProductCaption() {
  std::string path = ResolvedProgramPath();
  std::string name = path.empty() ? std::string() : TBRNVersionInfo(path).ProductName;
  return name.empty() ? std::string(DefaultServerDescription) : name;
}

std::string ToAnsi(const QString& text) {
  QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), size_t(bytes.size()));
}

}  // namespace

TBRNMainWindow::TBRNMainWindow() {
  setObjectName("MainForm");
  SetFormFont(*this);
  std::string caption = ProductCaption();
  setWindowTitle(AnsiToQString(caption));
  QApplication::setApplicationDisplayName(AnsiToQString(caption));
  resize(860, 560);

  tasksImages_ = new TBRNImageList(16, 16, this);
  tasksImages_->setObjectName("TasksImageList");
  userImages_ = new TBRNImageList(16, 16, this);
  userImages_->setObjectName("UserImageList");

  const int widths[4] = {200, 260, 110, 110};
  for (int i = 0; i < 4; ++i) {
    statusPanels_[size_t(i)] = new QLabel(this);
    statusPanels_[size_t(i)]->setFixedWidth(widths[i]);
    statusBar()->addWidget(statusPanels_[size_t(i)], i == 3 ? 1 : 0);
  }
  statusBar()->setObjectName("MainStatusBar");

  auto* mainPanel = new QWidget(this);
  mainPanel->setObjectName("MainPanel");
  splitter_ = new QSplitter(Qt::Horizontal, mainPanel);
  splitter_->setChildrenCollapsible(false);
  auto* mainLayout = new QHBoxLayout(mainPanel);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  mainLayout->addWidget(splitter_);
  setCentralWidget(mainPanel);

  taskPanel225_ = new QWidget(splitter_);
  taskPanel225_->setObjectName("TaskPanel");
  taskPanel225_->setMinimumWidth(225);
  scrollBox_ = new TBRNTaskPaneScrollBox(taskPanel225_);
  scrollBox_->setObjectName("ServerTaskPanelScrollBox");
  auto* taskLayout = new QHBoxLayout(taskPanel225_);
  taskLayout->setContentsMargins(0, 0, 0, 0);
  taskLayout->addWidget(scrollBox_);
  splitter_->addWidget(taskPanel225_);

  QWidget* content = scrollBox_->Content();
  auto header = [&](const char* name, const char* title) {
    auto* panel = new TBRNTaskHeaderPanel(content);
    panel->setObjectName(name);
    panel->SetTitle(title);
    panel->resize(panel->width(), HeaderHeight);
    return panel;
  };
  taskHeader_ = header("ServerTaskHeaderPanel", "Tasks");
  taskHeader_->SetSpecial(true);
  taskPanel_ = new TBRNTaskLinksTaskPanel(content);
  taskPanel_->setObjectName("ServerTaskPanel");
  taskPanel_->SetImages(tasksImages_);
  serverHeader_ = header("ServerDetailsHeaderPanel", "Server Details");
  serverDetails_ = new TBRNDetailsTaskPanel(content);
  serverDetails_->setObjectName("ServerDetailsPanel");
  sessionHeader_ = header("SessionDetailsHeaderPanel", "Session Details");
  sessionDetails_ = new TBRNDetailsTaskPanel(content);
  sessionDetails_->setObjectName("SessionDetailsPanel");
  sessionHeader_->hide();
  sessionDetails_->hide();
  spacerLabel_ = new QLabel(content);
  spacerLabel_->setObjectName("SessionDetailsSpacerLabel");
  spacerLabel_->resize(8, 13);
  taskHeader_->move(PaneMargin, PaneMargin);

  // A collapsed group hides its body; the groups below move up.
  struct Group {
    TBRNTaskHeaderPanel* header;
    QWidget* body;
  };
  for (Group group : {Group{taskHeader_, taskPanel_}, Group{serverHeader_, serverDetails_},
                      Group{sessionHeader_, sessionDetails_}}) {
    group.header->OnCollapse = [this, group] {
      group.body->hide();
      PlacePanels();
    };
    group.header->OnExpand = [this, group] {
      group.body->show();
      PlacePanels();
    };
  }
  scrollBox_->OnResize = [this] { PlacePanels(); };

  auto* placeholder = new QWidget(splitter_);
  placeholder->setObjectName("SessionsListView");
  sessionsListView_ = placeholder;
  splitter_->addWidget(placeholder);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({225, 635});
  PlacePanels();

  // The desktop session ends: close without asking.
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
    if (form_ == nullptr) return;
    form_->QueryEndSession();
    form_->EndSession(false);
  });
}

TBRNMainWindow::~TBRNMainWindow() = default;

void TBRNMainWindow::SetSessionsListView(QWidget* view) {
  QWidget* old = sessionsListView_;
  splitter_->replaceWidget(1, view);
  sessionsListView_ = view;
  if (old != nullptr && old != view) old->deleteLater();
}

void TBRNMainWindow::PlacePanels() {
  QWidget* content = scrollBox_->Content();
  int width = std::max(0, scrollBox_->viewport()->width() - 2 * PaneMargin);
  for (QWidget* panel :
       std::initializer_list<QWidget*>{taskHeader_, taskPanel_, serverHeader_, serverDetails_,
                                       sessionHeader_, sessionDetails_}) {
    panel->move(PaneMargin, panel->y());
    panel->resize(width, panel->height());
  }
  taskPanel_->move(PaneMargin, taskHeader_->geometry().bottom());
  PlaceTaskPanels(*taskHeader_, *taskPanel_, *serverHeader_, *serverDetails_);
  PlaceTaskPanels(*serverHeader_, *serverDetails_, *sessionHeader_, *sessionDetails_);
  PlaceSpacerLabel(*sessionHeader_, *sessionDetails_, *spacerLabel_);
  if (sessionHeader_->isHidden()) PlaceSpacerLabel(*serverHeader_, *serverDetails_, *spacerLabel_);
  int bottom = std::max(scrollBox_->viewport()->height(), spacerLabel_->geometry().bottom() + 1);
  content->resize(scrollBox_->viewport()->width(), bottom);
}

std::string TBRNMainWindow::Caption() const {
  return ToAnsi(windowTitle());
}

bool TBRNMainWindow::Confirm(const std::string& text) {
  if (AnswerConfirm) return AnswerConfirm(text);
  return QMessageBox::question(this, windowTitle(), AnsiToQString(text),
                               QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

void TBRNMainWindow::ShowError(const std::string& text) {
  QMessageBox::critical(this, windowTitle(), AnsiToQString(text));
}

void TBRNMainWindow::Beep() {
  QApplication::beep();
}

void TBRNMainWindow::SetStatusPanelText(int panel, const std::string& text) {
  if (panel < 0 || panel > 3) return;
  statusPanels_[size_t(panel)]->setText(AnsiToQString(text));
  statusPanels_[size_t(panel)]->repaint();
}

void TBRNMainWindow::SetCloseItemVisible(bool visible) {
  closeItemVisible_ = visible;
}

void TBRNMainWindow::SetTasksEnabled(bool enabled) {
  taskPanel_->SetLinksEnabled(enabled);
}

void TBRNMainWindow::HideWindow() {
  hide();
}

void TBRNMainWindow::RestoreWindow() {
  if (isMinimized()) showNormal();
  show();
  raise();
  activateWindow();
}

void TBRNMainWindow::CloseWindow() {
  close();
}

void TBRNMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Minimized, only the tray icon remains.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && isVisible())
    QMetaObject::invokeMethod(
        this, [this] { hide(); }, Qt::QueuedConnection);
}

void TBRNMainWindow::closeEvent(QCloseEvent* event) {
  if (form_ == nullptr || form_->FormCloseQuery()) {
    event->accept();
    QCoreApplication::quit();
  } else {
    event->ignore();
  }
}

TBRNWindowLayout TBRNMainWindow::GetLayout() const {
  TBRNWindowLayout layout;
  layout.TaskPanelWidth = taskPanel225_->width();
  layout.WindowState = isMaximized() ? 2 : isMinimized() ? 1 : 0;
  QRect frame = normalGeometry().isValid() ? normalGeometry() : geometry();
  layout.Top = frame.top();
  layout.Left = frame.left();
  layout.Height = frame.height();
  layout.Width = frame.width();
  return layout;
}

void TBRNMainWindow::SetLayout(const TBRNWindowLayout& layout, bool positionToo) {
  int taskWidth = std::max(225, layout.TaskPanelWidth);
  QList<int> sizes = splitter_->sizes();
  int total = sizes.size() == 2 ? sizes[0] + sizes[1] : width();
  splitter_->setSizes({taskWidth, std::max(0, total - taskWidth)});
  if (positionToo) setGeometry(layout.Left, layout.Top, layout.Width, layout.Height);
  Qt::WindowStates state = layout.WindowState == 2   ? Qt::WindowMaximized
                           : layout.WindowState == 1 ? Qt::WindowMinimized
                                                     : Qt::WindowNoState;
  setWindowState(state);
}

// -- Loop -------------------------------------------------------------------------

void TBRNQtMainLoop::PostCall(std::function<void()> call) {
  QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
}

void TBRNQtMainLoop::PostQuit() {
  quit_ = true;
  QMetaObject::invokeMethod(
      qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

void TBRNQtMainLoop::Wake() {
  QMetaObject::invokeMethod(
      qApp,
      [this] {
        if (idle_) idle_();
      },
      Qt::QueuedConnection);
}

TBRNMainLoop::TBRNIdleHandler TBRNQtMainLoop::SetIdleHandler(TBRNIdleHandler handler) {
  std::swap(idle_, handler);
  return handler;
}

void TBRNQtMainLoop::Run() {
  if (!quit_) QApplication::exec();
}

bool TBRNQtMainLoop::Terminated() const {
  return quit_;
}

// -- Desktop ------------------------------------------------------------------------

int TBRNQtDesktop::Run(const TBRNHostRunOptions&) {
  QApplication application(argc_, argv_);
  // The window is hidden most of the time; only the form ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  TBRNQtMainLoop loop;
  TBRNStopSignals stopSignals(loop);
  TBRNMainWindow window;
  TMainForm form(programPath_, &window, &loop);
  window.SetForm(&form);
  if (MakePanels) form.SetPanels(MakePanels(form, window));
  form.FormCreate();
  form.StartUp(false);
  loop.Run();
  form.FormDestroy();
  window.SetForm(nullptr);
  return 0;
}

}  // namespace brn

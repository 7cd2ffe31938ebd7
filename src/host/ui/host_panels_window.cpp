#include "host/ui/host_panels_window.h"

#include <QApplication>
#include <QCursor>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>

#include "host/ui/main_window.h"
#include "host/ui/server_dialog_window.h"
#include "host/ui/task_pane.h"

namespace brn {

namespace {

// A 16-pixel picture drawn here, so that the program needs no image files:
// a filled shape of colour with a mark in it.
QPixmap makePicture(const QColor& colour, char mark) {
  QPixmap picture(16, 16);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(colour.darker(150));
  painter.setBrush(colour);
  painter.drawEllipse(1, 1, 14, 14);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setPixelSize(10);
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(QChar(mark)));
  return picture;
}

QIcon serverIcon(bool active) {
  return QIcon(makePicture(active ? QColor(40, 150, 60) : QColor(190, 50, 40), active ? 'S' : 'X'));
}

}  // namespace

TBRNQtHostPanelsView::TBRNQtHostPanelsView(TBRNMainWindow& window, TMainForm& form)
    : QObject(&window), window_(window), form_(form) {
  // Start, Stop, Edit, Disconnect and Remove; plain and encrypted session.
  if (window.TasksImageList().Count() == 0) {
    window.TasksImageList().Add(makePicture(QColor(40, 150, 60), '>'));
    window.TasksImageList().Add(makePicture(QColor(190, 50, 40), 'x'));
    window.TasksImageList().Add(makePicture(QColor(60, 90, 170), 'e'));
    window.TasksImageList().Add(makePicture(QColor(200, 140, 30), '-'));
    window.TasksImageList().Add(makePicture(QColor(120, 120, 120), 'r'));
  }
  if (window.UserImageList().Count() == 0) {
    window.UserImageList().Add(makePicture(QColor(70, 110, 180), 'u'));
    window.UserImageList().Add(makePicture(QColor(150, 110, 30), 'k'));
  }

  list_ = new QTreeWidget(&window);
  list_->setObjectName("SessionsListView");
  list_->setColumnCount(4);
  list_->setHeaderLabels({"Session", "Address", "Process", "Created On"});
  const int widths[4] = {160, 140, 120, 145};
  for (int i = 0; i < 4; ++i) list_->setColumnWidth(i, widths[i]);
  list_->setRootIsDecorated(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setIconSize(QSize(16, 16));
  list_->installEventFilter(this);
  window.installEventFilter(this);
  window.SetSessionsListView(list_);
  QObject::connect(list_, &QTreeWidget::currentItemChanged, this, [this] {
    if (panels_ != nullptr) panels_->SessionsListViewChange();
  });
  QObject::connect(list_, &QTreeWidget::itemClicked, this, [this] {
    if (panels_ != nullptr) panels_->SessionsListViewClick();
  });

  trayMenu_ = new QMenu(&window);
  trayMenu_->setObjectName("TrayMenu");
  QAction* restore = trayMenu_->addAction("Restore");
  QObject::connect(restore, &QAction::triggered, this, [this] { form_.RestoreItemClick(); });
  trayMenu_->addSeparator();
  QAction* close = trayMenu_->addAction("Close");
  QObject::connect(close, &QAction::triggered, this, [this] { form_.CloseItemClick(); });
  QObject::connect(trayMenu_, &QMenu::aboutToShow, this,
                   [this, close] { close->setVisible(window_.CloseItemVisible()); });

  iconTimer_ = new QTimer(this);
  iconTimer_->setInterval(1000);
  QObject::connect(iconTimer_, &QTimer::timeout, this, [this] {
    if (panels_ != nullptr) panels_->UpdateTrayIcon();
  });
  systemTimer_ = new QTimer(this);
  systemTimer_->setInterval(1000);
  QObject::connect(systemTimer_, &QTimer::timeout, this, [this] {
    if (panels_ != nullptr) panels_->UpdateUpTime();
  });
}

TBRNQtHostPanelsView::~TBRNQtHostPanelsView() = default;

bool TBRNQtHostPanelsView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && panels_ != nullptr) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      const Qt::KeyboardModifiers modifiers = key->modifiers();
      panels_->SessionsListViewKeyDown(
          key->key() == Qt::Key_Delete, modifiers.testFlag(Qt::ShiftModifier),
          modifiers.testFlag(Qt::ControlModifier), modifiers.testFlag(Qt::AltModifier));
    }
  }
  if (watched == &window_ && panels_ != nullptr) {
    if (event->type() == QEvent::Show) panels_->FormShow();
    if (event->type() == QEvent::Hide) panels_->FormHide();
  }
  return QObject::eventFilter(watched, event);
}

void TBRNQtHostPanelsView::fillRow(QTreeWidgetItem& item, const TBRNSessionRow& row) {
  item.setText(0, AnsiToQString(row.Caption));
  item.setText(1, AnsiToQString(row.Address));
  item.setText(2, AnsiToQString(row.Process));
  item.setText(3, AnsiToQString(row.CreatedOn));
}

TServerSession* TBRNQtHostPanelsView::sessionOf(QTreeWidgetItem* item) const {
  if (item == nullptr) return nullptr;
  for (const auto& [session, row] : rows_) {
    if (row == item) return session;
  }
  return nullptr;
}

void TBRNQtHostPanelsView::AddSessionRow(TServerSession* session, const TBRNSessionRow& row) {
  auto* item = new QTreeWidgetItem(list_);
  QPixmap image(16, 16);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    window_.UserImageList().Draw(painter, 0, 0, row.Image);
  }
  item->setIcon(0, QIcon(image));
  fillRow(*item, row);
  rows_[session] = item;
}

void TBRNQtHostPanelsView::UpdateSessionRow(TServerSession* session, const TBRNSessionRow& row) {
  auto found = rows_.find(session);
  if (found != rows_.end()) fillRow(*found->second, row);
}

void TBRNQtHostPanelsView::DeleteSessionRow(TServerSession* session) {
  auto found = rows_.find(session);
  if (found == rows_.end()) return;
  QTreeWidgetItem* item = found->second;
  rows_.erase(found);
  // Deleting the current row changes the current one: the handler must see
  // the row gone first.
  delete item;
}

TServerSession* TBRNQtHostPanelsView::SelectedSession() const {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  return selected.isEmpty() ? nullptr : sessionOf(selected.front());
}

TServerSession* TBRNQtHostPanelsView::FocusedSession() const {
  return sessionOf(list_->currentItem());
}

void TBRNQtHostPanelsView::SetTaskLinks(const std::vector<TBRNTaskLink>& links) {
  TBRNTaskLinksTaskPanel& panel = window_.ServerTaskPanel();
  panel.BeginUpdate();
  ClearTaskLinks(panel);
  for (const TBRNTaskLink& link : links) {
    if (link.Separator) {
      AddTaskLinkSeparator(panel);
    } else {
      AddTaskLink(panel, link.Caption, 0, link.OnClick, link.Image);
    }
  }
  panel.EndUpdate();
  window_.ServerTaskHeaderPanel().show();
  if (!window_.ServerTaskHeaderPanel().Collapsed()) panel.show();
  window_.PlacePanels();
}

void TBRNQtHostPanelsView::SetServerDetails(const TBRNDetails& details) {
  TBRNDetailsTaskPanel& panel = window_.ServerDetailsPanel();
  panel.BeginUpdate();
  panel.SetTitle(details.Title);
  panel.SetDescription(details.Description);
  panel.SetInformation(details.Lines);
  panel.EndUpdate();
  window_.PlacePanels();
}

void TBRNQtHostPanelsView::SetSessionDetails(const TBRNDetails* details) {
  TBRNDetailsTaskPanel& panel = window_.SessionDetailsPanel();
  TBRNTaskHeaderPanel& header = window_.SessionDetailsHeaderPanel();
  if (details == nullptr) {
    header.hide();
    panel.hide();
  } else {
    panel.BeginUpdate();
    panel.SetTitle(details->Title);
    panel.SetDescription(details->Description);
    panel.SetInformation(details->Lines);
    panel.EndUpdate();
    header.show();
    if (!header.Collapsed()) panel.show();
  }
  window_.PlacePanels();
}

bool TBRNQtHostPanelsView::AddTrayIcon(bool serverActive, const std::string& tip) {
  // Platforms without a tray (the offscreen one among them) refuse.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  if (tray_ == nullptr) {
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(trayMenu_);
    QObject::connect(tray_, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                       if (reason == QSystemTrayIcon::DoubleClick) form_.RestoreItemClick();
                     });
  }
  tray_->setIcon(serverIcon(serverActive));
  tray_->setToolTip(AnsiToQString(tip));
  tray_->show();
  return tray_->isVisible();
}

bool TBRNQtHostPanelsView::ModifyTrayIcon(bool serverActive, const std::string& tip) {
  if (tray_ == nullptr || !tray_->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) {
    return false;
  }
  tray_->setIcon(serverIcon(serverActive));
  tray_->setToolTip(AnsiToQString(tip));
  return true;
}

bool TBRNQtHostPanelsView::DeleteTrayIcon() {
  if (tray_ == nullptr) return false;
  tray_->hide();
  return true;
}

void TBRNQtHostPanelsView::SetIconTimer(bool on) {
  if (on) {
    iconTimer_->start();
  } else {
    iconTimer_->stop();
  }
}

void TBRNQtHostPanelsView::SetSystemTimer(bool on) {
  if (on) {
    systemTimer_->start();
  } else {
    systemTimer_->stop();
  }
}

void TBRNQtHostPanelsView::FocusSessionList() {
  list_->setFocus();
}

std::unique_ptr<TBRNServerDialogView> TBRNQtHostPanelsView::CreateServerDialog() {
  return std::make_unique<TBRNServerDialogWindow>(&window_);
}

TBRNQtHostPanels::TBRNQtHostPanels(TMainForm& form, TBRNMainWindow& window)
    : TBRNHostPanels(form, new TBRNQtHostPanelsView(window, form)) {
  view_ = static_cast<TBRNQtHostPanelsView*>(PanelsView());
  view_->SetPanels(this);
}

TBRNQtHostPanels::~TBRNQtHostPanels() {
  if (view_ != nullptr) view_->SetPanels(nullptr);
}

}  // namespace brn

#include "host/ui/task_pane.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QEnterEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

#include <stdexcept>

#include "platform/code_pages.h"

namespace brn {

namespace {

constexpr int TextFlags = Qt::TextWordWrap;

// Links added since the last ClearTaskLinks, for the whole process.
int linkCount = 0;

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

QColor ActiveCaption(const QWidget& widget) {
  return widget.palette().color(QPalette::Active, QPalette::Highlight);
}
QColor ButtonFace(const QWidget& widget) {
  return widget.palette().color(QPalette::Button);
}
QColor WindowColor(const QWidget& widget) {
  return widget.palette().color(QPalette::Base);
}
QColor WindowText(const QWidget& widget) {
  return widget.palette().color(QPalette::Text);
}

// A chevron of the given size with its top left corner at (x, y).
void DrawChevron(QPainter& painter, int x, int y, int size, bool down, const QColor& color) {
  painter.setPen(QPen(color, 1));
  for (int row = 0; row < 2; ++row) {
    int top = y + row * (size + 1);
    for (int i = 0; i <= size; ++i) {
      int dy = down ? i : size - i;
      painter.drawPoint(x + i, top + dy);
      painter.drawPoint(x + 2 * size - i, top + dy);
    }
  }
}

}  // namespace

QString AnsiToQString(const std::string& text) {
  std::u16string wide(text.size(), u'\0');
  int32_t count =
      CodePageToUTF16(1252, text.data(), int32_t(text.size()), wide.data(), int32_t(wide.size()));
  if (count < 0) return QString::fromLatin1(text.data(), qsizetype(text.size()));
  return QString::fromUtf16(wide.data(), count);
}

bool TaskPaneThemed() {
  QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

int TBRNImageList::Add(const QPixmap& image) {
  images_.push_back(image.scaled(width_, height_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  return int(images_.size()) - 1;
}

void TBRNImageList::Draw(QPainter& painter, int x, int y, int index) const {
  if (index < 0 || index >= Count()) return;
  painter.drawPixmap(x, y, images_[size_t(index)]);
}

// -- Scroll box ---------------------------------------------------------------

namespace {

// The pane's background behind the panels.
class TaskPaneContent : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (TaskPaneThemed()) {
      painter.fillRect(rect(), palette().color(QPalette::Window));
    } else {
      painter.fillRect(rect(), WindowColor(*this));
    }
  }
};

}  // namespace

TBRNTaskPaneScrollBox::TBRNTaskPaneScrollBox(QWidget* parent) : QScrollArea(parent) {
  resize(185, 41);
  setFrameShape(QFrame::NoFrame);
  setWidgetResizable(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* content = new TaskPaneContent();
  content->resize(185, 41);
  setWidget(content);
}

void TBRNTaskPaneScrollBox::resizeEvent(QResizeEvent* event) {
  QScrollArea::resizeEvent(event);
  // The content is as wide as the view and tall enough for its panels.
  QWidget* content = widget();
  int bottom = viewport()->height();
  for (QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!child->isHidden()) bottom = std::max(bottom, child->geometry().bottom() + 1);
  content->resize(viewport()->width(), bottom);
  if (OnResize) OnResize();
}

// -- Header ---------------------------------------------------------------------

TBRNTaskHeaderPanel::TBRNTaskHeaderPanel(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  resize(185, 25);
}

QRect TBRNTaskHeaderPanel::TitleRect() const {
  QRect r = rect();
  return QRect(r.left() + 10, r.top(), std::max(0, r.width() - 10 - 36), r.height());
}

QRect TBRNTaskHeaderPanel::ButtonRect() const {
  return QRect(width() - 26, (height() - 20) / 2, 20, 20);
}

void TBRNTaskHeaderPanel::SetTitle(const std::string& value) {
  if (value == title_) return;
  title_ = value;
  update(TitleRect());
}

void TBRNTaskHeaderPanel::SetCollapsed(bool value) {
  if (value == collapsed_) return;
  collapsed_ = value;
  update(ButtonRect());
  if (collapsed_) {
    if (OnCollapse) OnCollapse();
  } else if (OnExpand) {
    OnExpand();
  }
}

void TBRNTaskHeaderPanel::SetShowButton(bool value) {
  if (value == showButton_) return;
  showButton_ = value;
  update();
}

void TBRNTaskHeaderPanel::SetSpecial(bool value) {
  if (value == special_) return;
  special_ = value;
  update();
}

void TBRNTaskHeaderPanel::SetButtonState(bool hot, bool pressed) {
  if (hot == hot_ && pressed == pressed_) return;
  hot_ = hot;
  pressed_ = pressed;
  update(ButtonRect());
}

void TBRNTaskHeaderPanel::mouseMoveEvent(QMouseEvent* event) {
  if (!showButton_) return;
  bool over = ButtonRect().contains(event->position().toPoint());
  SetButtonState(over, over && (event->buttons() & Qt::LeftButton));
}

void TBRNTaskHeaderPanel::mousePressEvent(QMouseEvent* event) {
  if (showButton_ && event->button() == Qt::LeftButton && hot_) SetButtonState(true, true);
}

void TBRNTaskHeaderPanel::mouseReleaseEvent(QMouseEvent* event) {
  if (!showButton_ || event->button() != Qt::LeftButton || !hot_) return;
  SetButtonState(true, false);
  SetCollapsed(!collapsed_);
}

void TBRNTaskHeaderPanel::leaveEvent(QEvent*) {
  SetButtonState(false, false);
}

void TBRNTaskHeaderPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor textColor;
  if (TaskPaneThemed()) {
    QStyleOptionButton head;
    head.initFrom(this);
    head.rect = rect();
    head.state |= special_ ? QStyle::State_On : QStyle::State_Off;
    style()->drawControl(QStyle::CE_PushButtonBevel, &head, &painter, this);
    textColor = palette().color(QPalette::ButtonText);
  } else {
    painter.fillRect(rect(), special_ ? ActiveCaption(*this) : ButtonFace(*this));
    textColor = special_ ? palette().color(QPalette::HighlightedText) : WindowText(*this);
  }
  painter.setPen(textColor);
  painter.drawText(TitleRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   AnsiToQString(title_));
  if (!showButton_) return;
  QRect button = ButtonRect();
  if (TaskPaneThemed()) {
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = button;
    if (hot_) arrow.state |= QStyle::State_MouseOver;
    if (pressed_) arrow.state |= QStyle::State_Sunken;
    style()->drawPrimitive(collapsed_ ? QStyle::PE_IndicatorArrowDown : QStyle::PE_IndicatorArrowUp,
                           &arrow, &painter, this);
    return;
  }
  painter.fillRect(button, special_ ? ActiveCaption(*this) : ButtonFace(*this));
  int shift = 0;
  if (hot_ && !pressed_) {
    qDrawShadePanel(&painter, button, palette(), false, 1);
  } else if (pressed_) {
    qDrawShadePanel(&painter, button, palette(), true, 1);
    shift = 1;
  }
  DrawChevron(painter, button.left() + 6 + shift, button.top() + 8 + shift, 3, collapsed_,
              textColor);
}

// -- Body -----------------------------------------------------------------------

TBRNTaskPanel::TBRNTaskPanel(QWidget* parent) : QWidget(parent) {
  resize(185, 41);
}

void TBRNTaskPanel::SetSpecial(bool value) {
  if (value == special_) return;
  special_ = value;
  update();
}

QColor TBRNTaskPanel::PaintBody(QPainter& painter) {
  if (TaskPaneThemed()) {
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect();
    frame.lineWidth = 1;
    painter.fillRect(rect(), palette().color(QPalette::Base));
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
    return palette().color(QPalette::Text);
  }
  painter.fillRect(rect(), WindowColor(*this));
  painter.setPen(special_ ? ActiveCaption(*this) : ButtonFace(*this));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  return WindowText(*this);
}

void TBRNTaskPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintBody(painter);
}

// -- Links ----------------------------------------------------------------------

void TBRNTaskLinkItem::SetName(const std::string& value) {
  if (value == name_) return;
  if (!value.empty()) {
    for (int i = 0; i < panel_->Count(); ++i) {
      const TBRNTaskLinkItem& other = panel_->Item(i);
      if (&other != this && SameName(other.name_, value))
        throw std::invalid_argument("Duplicate task link item");
    }
  }
  name_ = value;
}

void TBRNTaskLinkItem::SetCaption(const std::string& value) {
  if (value == caption_) return;
  caption_ = value;
  Changed();
}

void TBRNTaskLinkItem::SetVisible(bool value) {
  if (value == visible_) return;
  visible_ = value;
  Changed();
}

void TBRNTaskLinkItem::SetImageIndex(int value) {
  if (value == imageIndex_) return;
  imageIndex_ = value;
  Changed();
}

void TBRNTaskLinkItem::Click() {
  if (OnClick) OnClick();
}

void TBRNTaskLinkItem::Changed() {
  panel_->ItemsChanged();
}

TBRNTaskLinksTaskPanel::TBRNTaskLinksTaskPanel(QWidget* parent) : TBRNTaskPanel(parent) {
  setMouseTracking(true);
  UpdateHeight(false);
}

TBRNTaskLinkItem& TBRNTaskLinksTaskPanel::Add() {
  items_.push_back(std::unique_ptr<TBRNTaskLinkItem>(new TBRNTaskLinkItem(this)));
  ItemsChanged();
  return *items_.back();
}

void TBRNTaskLinksTaskPanel::Clear() {
  items_.clear();
  ItemsChanged();
}

void TBRNTaskLinksTaskPanel::BeginUpdate() {
  ++updateCount_;
}

void TBRNTaskLinksTaskPanel::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0 && changedInUpdate_) {
    changedInUpdate_ = false;
    ItemsChanged();
  }
}

void TBRNTaskLinksTaskPanel::ItemsChanged() {
  if (updateCount_ > 0) {
    changedInUpdate_ = true;
    return;
  }
  UpdateHeight(true);
}

void TBRNTaskLinksTaskPanel::SetImages(TBRNImageList* images) {
  if (images == images_) return;
  images_ = images;
  UpdateHeight(true);
}

int TBRNTaskLinksTaskPanel::RowHeight() const {
  return (images_ ? images_->Height() : 16) + 4;
}

QRect TBRNTaskLinksTaskPanel::RowRect(int index) const {
  return QRect(10, 8 + index * RowHeight(), std::max(0, width() - 20), RowHeight());
}

QRect TBRNTaskLinksTaskPanel::TextRect(int index) const {
  QRect row = RowRect(index);
  int imageWidth = (images_ ? images_->Width() : 16) + 4;
  int textHeight = fontMetrics().boundingRect(QStringLiteral("Wg")).height();
  int top = row.top() + (row.height() - textHeight) / 2;
  return QRect(row.left() + imageWidth, top, std::max(0, row.width() - imageWidth), textHeight);
}

void TBRNTaskLinksTaskPanel::UpdateHeight(bool repaint) {
  int height = 8 + Count() * RowHeight() + 8;
  if (height != this->height()) {
    resize(width(), height);
  } else if (repaint) {
    update();
  }
}

void TBRNTaskLinksTaskPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateHeight(false);
}

void TBRNTaskLinksTaskPanel::UpdateHot(const QPoint& position) {
  bool anyHot = false;
  for (int i = 0; i < Count(); ++i) {
    TBRNTaskLinkItem& item = Item(i);
    bool hot = !item.IsSeparator() && RowRect(i).contains(position);
    if (hot != item.hot_) {
      item.hot_ = hot;
      update(TextRect(i));
    }
    anyHot = anyHot || hot;
  }
  if (anyHot) {
    setCursor(Qt::PointingHandCursor);
  } else {
    unsetCursor();
  }
}

void TBRNTaskLinksTaskPanel::ClearHot() {
  for (int i = 0; i < Count(); ++i) {
    if (Item(i).hot_) {
      Item(i).hot_ = false;
      update(TextRect(i));
    }
  }
  unsetCursor();
}

void TBRNTaskLinksTaskPanel::mouseMoveEvent(QMouseEvent* event) {
  if (linksEnabled_) UpdateHot(event->position().toPoint());
}

void TBRNTaskLinksTaskPanel::enterEvent(QEnterEvent*) {
  ClearHot();
}

void TBRNTaskLinksTaskPanel::leaveEvent(QEvent*) {
  ClearHot();
}

void TBRNTaskLinksTaskPanel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) armed_ = true;
}

void TBRNTaskLinksTaskPanel::mouseReleaseEvent(QMouseEvent* event) {
  bool armed = armed_;
  armed_ = false;
  if (!armed || !linksEnabled_) return;
  QPoint position = event->position().toPoint();
  for (int i = 0; i < Count(); ++i) {
    TBRNTaskLinkItem& item = Item(i);
    if (!item.hot_ || !RowRect(i).contains(position)) continue;
    item.hot_ = false;
    update(TextRect(i));
    linksEnabled_ = false;
    try {
      item.Click();
    } catch (...) {
      linksEnabled_ = true;
      throw;
    }
    // The handler may have rebuilt the links: the item may be gone.
    linksEnabled_ = true;
    UpdateHot(mapFromGlobal(QCursor::pos()));
    return;
  }
}

void TBRNTaskLinksTaskPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor textColor = PaintBody(painter);
  for (int i = 0; i < Count(); ++i) {
    const TBRNTaskLinkItem& item = Item(i);
    QRect row = RowRect(i);
    if (item.IsSeparator()) {
      int middle = row.top() + row.height() / 2;
      if (TaskPaneThemed()) {
        QStyleOption line;
        line.initFrom(this);
        line.rect = QRect(0, middle - 1, width(), 2);
        line.state |= QStyle::State_Horizontal;
        style()->drawPrimitive(QStyle::PE_IndicatorToolBarSeparator, &line, &painter, this);
      } else {
        painter.setPen(textColor);
        painter.drawLine(row.left(), middle, row.right(), middle);
      }
      continue;
    }
    if (images_ && item.ImageIndex() != -1)
      images_->Draw(painter, row.left(), row.top(), item.ImageIndex());
    QFont font = this->font();
    font.setUnderline(item.hot_);
    painter.setFont(font);
    painter.setPen(textColor);
    painter.drawText(TextRect(i), TextFlags, AnsiToQString(item.Caption()));
  }
}

// -- Details --------------------------------------------------------------------

TBRNDetailsTaskPanel::TBRNDetailsTaskPanel(QWidget* parent) : TBRNTaskPanel(parent) {
  UpdateHeight(false);
}

void TBRNDetailsTaskPanel::SetTitle(const std::string& value) {
  if (value == title_) return;
  title_ = value;
  ContentChanged();
}

void TBRNDetailsTaskPanel::SetDescription(const std::string& value) {
  if (value == description_) return;
  description_ = value;
  ContentChanged();
}

void TBRNDetailsTaskPanel::SetInformation(const std::vector<std::string>& lines) {
  if (lines == information_) return;
  information_ = lines;
  ContentChanged();
}

void TBRNDetailsTaskPanel::SetPicture(const QPixmap& picture) {
  picture_ = picture;
  ContentChanged();
}

void TBRNDetailsTaskPanel::BeginUpdate() {
  ++updateCount_;
}

void TBRNDetailsTaskPanel::EndUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0 && pending_) {
    pending_ = false;
    UpdateHeight(true);
  }
}

void TBRNDetailsTaskPanel::ContentChanged() {
  if (updateCount_ > 0) {
    pending_ = true;
    return;
  }
  UpdateHeight(true);
}

QRect TBRNDetailsTaskPanel::TextArea() const {
  return QRect(10, 8, std::max(0, width() - 20), std::max(0, height() - 8));
}

int TBRNDetailsTaskPanel::MeasuredHeight(const QString& text, bool bold) const {
  if (text.isEmpty()) return 0;
  QFont font = this->font();
  font.setBold(bold);
  QFontMetrics metrics(font);
  return metrics.boundingRect(QRect(0, 0, std::max(1, width() - 20), 1 << 20), TextFlags, text)
      .height();
}

QSize TBRNDetailsTaskPanel::FittedPicture() const {
  if (picture_.isNull()) return {};
  int areaWidth = std::max(0, width() - 20);
  if (picture_.width() <= areaWidth) return picture_.size();
  return QSize(areaWidth, int(int64_t(picture_.height()) * areaWidth / picture_.width()));
}

namespace {

QString JoinInformation(const std::vector<std::string>& lines) {
  QString text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += QLatin1Char('\n');
    text += AnsiToQString(lines[i]);
  }
  return text;
}

}  // namespace

void TBRNDetailsTaskPanel::UpdateHeight(bool repaint) {
  int t = MeasuredHeight(AnsiToQString(title_), true);
  int d = MeasuredHeight(AnsiToQString(description_), false);
  int i = MeasuredHeight(JoinInformation(information_), false);
  int height = t + (description_.empty() ? 20 : d + 20) + (information_.empty() ? 0 : i + 12);
  height += picture_.isNull() ? -4 : FittedPicture().height() + 8;
  if (height != this->height()) {
    resize(width(), height);
  } else if (repaint) {
    update();
  }
}

void TBRNDetailsTaskPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  UpdateHeight(false);
}

void TBRNDetailsTaskPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  PaintBody(painter);
  QRect area = TextArea();
  painter.setPen(Qt::black);
  QFont bold = font();
  bold.setBold(true);
  int top = area.top();
  painter.setFont(bold);
  QString title = AnsiToQString(title_);
  painter.drawText(QRect(area.left(), top, area.width(), 1 << 20), TextFlags, title);
  top += MeasuredHeight(title, true);
  painter.setFont(font());
  QString description = AnsiToQString(description_);
  painter.drawText(QRect(area.left(), top, area.width(), 1 << 20), TextFlags, description);
  top += MeasuredHeight(description, false) + 12;
  QString information = JoinInformation(information_);
  if (!information.isEmpty()) {
    painter.drawText(QRect(area.left(), top, area.width(), 1 << 20), TextFlags, information);
    top += MeasuredHeight(information, false) + 12;
  }
  if (!picture_.isNull()) {
    QSize size = FittedPicture();
    QRect target(area.left() + (area.width() - size.width()) / 2, top, size.width(), size.height());
    painter.drawPixmap(target, picture_);
  }
}

// -- Helpers --------------------------------------------------------------------

void SetFormFont(QWidget& form) {
  QFont font = QApplication::font();
  font.setPointSize(TaskPaneThemed() ? 9 : 8);
  form.setFont(font);
}

TBRNTaskLinkItem& AddTaskLink(TBRNTaskLinksTaskPanel& panel, const std::string& caption, int tag,
                              std::function<void()> onClick, int imageIndex) {
  panel.BeginUpdate();
  TBRNTaskLinkItem& item = panel.Add();
  item.SetCaption(caption);
  item.Tag = tag;
  item.OnClick = std::move(onClick);
  item.SetImageIndex(imageIndex);
  panel.EndUpdate();
  ++linkCount;
  return item;
}

void AddTaskLinkSeparator(TBRNTaskLinksTaskPanel& panel) {
  if (linkCount > 0) AddTaskLink(panel, "-", 0, nullptr, -1);
}

void ClearTaskLinks(TBRNTaskLinksTaskPanel& panel) {
  panel.Clear();
  linkCount = 0;
}

void PlaceTaskPanels(QWidget& header, QWidget& body, QWidget& nextHeader, QWidget& nextBody) {
  int top = header.y();
  if (!body.isHidden()) {
    top = body.geometry().bottom() + 1 + 20;
  } else if (!header.isHidden()) {
    top = header.geometry().bottom() + 1 + 20;
  }
  nextHeader.move(nextHeader.x(), top);
  nextBody.move(nextBody.x(), nextHeader.geometry().bottom() + 1 - 1);
}

void PlaceSpacerLabel(QWidget& header, QWidget& body, QWidget& label) {
  if (!body.isHidden()) {
    label.move(label.x(), body.geometry().bottom() + 1 + 20 - label.height());
  } else if (!header.isHidden()) {
    label.move(label.x(), header.geometry().bottom() + 1 + 20 - label.height());
  }
}

}  // namespace brn

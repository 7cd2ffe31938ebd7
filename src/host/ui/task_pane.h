#pragma once

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QScrollArea>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;

namespace brn {

// Controls of an explorer-bar style task pane: a scroll box, collapsible
// group headers, group bodies, a body of clickable links and a body of
// details text. Main thread only, like every widget.

// Windows-1252 text of the engine as the toolkit's text.
QString AnsiToQString(const std::string& text);

// Whether the drawing goes through the platform's style (a real desktop) or
// the plain drawing (no platform theme, as under the offscreen platform).
bool TaskPaneThemed();

// Images of one size, drawn by index. The links panel forgets a list when
// the list is destroyed.
class TBRNImageList : public QObject {
 public:
  TBRNImageList(int width, int height, QObject* parent = nullptr)
      : QObject(parent), width_(width), height_(height) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  // Scaled to the list's size; returns the new index.
  int Add(const QPixmap& image);
  int Count() const { return int(images_.size()); }
  void Draw(QPainter& painter, int x, int y, int index) const;

 private:
  int width_;
  int height_;
  std::vector<QPixmap> images_;
};

// The pane itself: scrolls its content automatically and paints the pane's
// background behind the panels, which are placed on Content() by their
// tops.
class TBRNTaskPaneScrollBox : public QScrollArea {
 public:
  explicit TBRNTaskPaneScrollBox(QWidget* parent = nullptr);
  QWidget* Content() const { return widget(); }
  // Called whenever the box changes size.
  std::function<void()> OnResize;

 protected:
  void resizeEvent(QResizeEvent* event) override;
};

// A group's header: its title and, with ShowButton, a button that collapses
// and expands the group.
class TBRNTaskHeaderPanel : public QWidget {
 public:
  explicit TBRNTaskHeaderPanel(QWidget* parent = nullptr);

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value);
  bool Collapsed() const { return collapsed_; }
  // Also by code, OnCollapse or OnExpand follows a change.
  void SetCollapsed(bool value);
  bool ShowButton() const { return showButton_; }
  void SetShowButton(bool value);
  bool Special() const { return special_; }
  void SetSpecial(bool value);

  std::function<void()> OnCollapse;
  std::function<void()> OnExpand;

  QRect TitleRect() const;
  QRect ButtonRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void SetButtonState(bool hot, bool pressed);

  std::string title_;
  bool collapsed_ = false;
  bool showButton_ = true;
  bool special_ = false;
  bool hot_ = false;
  bool pressed_ = false;
};

// A group's body.
class TBRNTaskPanel : public QWidget {
 public:
  explicit TBRNTaskPanel(QWidget* parent = nullptr);
  bool Special() const { return special_; }
  void SetSpecial(bool value);

 protected:
  void paintEvent(QPaintEvent* event) override;
  // The body's background and frame; the text colour for what follows.
  QColor PaintBody(QPainter& painter);

 private:
  bool special_ = false;
};

class TBRNTaskLinksTaskPanel;

// One link of a links panel; a Caption of "-" makes it a separator.
class TBRNTaskLinkItem {
 public:
  const std::string& Name() const { return name_; }
  // Names are unique within the panel, compared without regard to case;
  // std::invalid_argument "Duplicate task link item" otherwise. Empty names
  // never clash.
  void SetName(const std::string& value);
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int value);
  std::string Hint;
  int Tag = 0;
  std::function<void()> OnClick;

  bool IsSeparator() const { return caption_ == "-"; }
  virtual void Click();
  virtual ~TBRNTaskLinkItem() = default;

 private:
  friend class TBRNTaskLinksTaskPanel;
  explicit TBRNTaskLinkItem(TBRNTaskLinksTaskPanel* panel) : panel_(panel) {}
  void Changed();

  TBRNTaskLinksTaskPanel* panel_;
  std::string name_;
  std::string caption_;
  bool visible_ = true;
  int imageIndex_ = -1;
  bool hot_ = false;
};

// A body of links, one row each, with an image from Images.
class TBRNTaskLinksTaskPanel : public TBRNTaskPanel {
 public:
  explicit TBRNTaskLinksTaskPanel(QWidget* parent = nullptr);

  // The items, owned by the panel, in order.
  int Count() const { return int(items_.size()); }
  TBRNTaskLinkItem& Item(int index) const { return *items_.at(size_t(index)); }
  TBRNTaskLinkItem& Add();
  void Clear();
  // Changes of the items between BeginUpdate and EndUpdate resize the panel
  // once.
  void BeginUpdate();
  void EndUpdate();

  TBRNImageList* Images() const { return images_; }
  void SetImages(TBRNImageList* images);
  // Governs hovering and clicking only; the panel stays a normal widget.
  bool LinksEnabled() const { return linksEnabled_; }
  void SetLinksEnabled(bool value) { linksEnabled_ = value; }

  int RowHeight() const;
  QRect RowRect(int index) const;
  QRect TextRect(int index) const;
  virtual void UpdateHeight(bool repaint);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  friend class TBRNTaskLinkItem;
  void ItemsChanged();
  void UpdateHot(const QPoint& position);
  void ClearHot();

  std::vector<std::unique_ptr<TBRNTaskLinkItem>> items_;
  QPointer<TBRNImageList> images_;
  bool linksEnabled_ = true;
  bool armed_ = false;
  int updateCount_ = 0;
  bool changedInUpdate_ = false;
};

// A body of text: a bold title, a description, information lines and a
// picture, its height fitted to them.
class TBRNDetailsTaskPanel : public TBRNTaskPanel {
 public:
  explicit TBRNDetailsTaskPanel(QWidget* parent = nullptr);

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& value);
  const std::string& Description() const { return description_; }
  void SetDescription(const std::string& value);
  const std::vector<std::string>& Information() const { return information_; }
  void SetInformation(const std::vector<std::string>& lines);
  const QPixmap& Picture() const { return picture_; }
  void SetPicture(const QPixmap& picture);

  // Nest; the change pending at the last EndUpdate resizes the panel once.
  void BeginUpdate();
  void EndUpdate();

  virtual void UpdateHeight(bool repaint);
  virtual void ContentChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRect TextArea() const;
  int MeasuredHeight(const QString& text, bool bold) const;
  QSize FittedPicture() const;

  std::string title_;
  std::string description_;
  std::vector<std::string> information_;
  QPixmap picture_;
  int updateCount_ = 0;
  bool pending_ = false;
};

// The windows' font: the desktop's UI font at 9 points under a platform
// theme, else at 8 points.
void SetFormFont(QWidget& form);

// Appends a link and counts it (one count for the whole process).
TBRNTaskLinkItem& AddTaskLink(TBRNTaskLinksTaskPanel& panel, const std::string& caption, int tag,
                              std::function<void()> onClick, int imageIndex);
// A separator, only once a link was added since the last ClearTaskLinks.
void AddTaskLinkSeparator(TBRNTaskLinksTaskPanel& panel);
// Removes every link and resets the count.
void ClearTaskLinks(TBRNTaskLinksTaskPanel& panel);
// Places the next group 20 pixels below the visible part of this one; the
// next body overlaps its header by one pixel.
void PlaceTaskPanels(QWidget& header, QWidget& body, QWidget& nextHeader, QWidget& nextBody);
// Places label so that it ends 20 pixels below the visible part of a group.
void PlaceSpacerLabel(QWidget& header, QWidget& body, QWidget& label);

}  // namespace brn

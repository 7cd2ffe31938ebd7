#include "host/ui/task_pane.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <stdexcept>

#include <gtest/gtest.h>

#include "host/host_test_support.h"
#include "host/ui/ui_test_support.h"

namespace brn {
namespace {

class TaskPaneTest : public testing::HostSandbox {
 protected:
  void SetUp() override {
    HostSandbox::SetUp();
    RequireSandbox(temp.Path);
    testing::TestApplication();
  }

  static QPixmap Square(QColor color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return pixmap;
  }

  static void Mouse(QWidget& widget, QEvent::Type type, QPoint at, Qt::MouseButton button) {
    Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
  }
};

TEST_F(TaskPaneTest, LinksPanelHeightIsEightAboveAndBelowTheRows) {
  struct Case {
    int imageSize;  // 0: no image list
    int links;
    bool separator;
    int height;
  } cases[] = {
      {16, 3, true, 8 + 4 * 20 + 8},  // 96
      {0, 3, true, 96},
      {0, 0, false, 16},
      {24, 2, false, 8 + 2 * 28 + 8},
  };
  for (const Case& c : cases) {
    TBRNImageList images(c.imageSize, c.imageSize);
    TBRNTaskLinksTaskPanel panel;
    if (c.imageSize > 0) panel.SetImages(&images);
    ClearTaskLinks(panel);
    for (int i = 0; i < c.links; ++i) {
      AddTaskLink(panel, "Link " + std::to_string(i), i, nullptr, 0);
      if (i == 0 && c.separator) AddTaskLinkSeparator(panel);
    }
    EXPECT_EQ(panel.height(), c.height) << c.imageSize << " " << c.links;
    // A resize keeps the height the rows need (a hidden widget hears of
    // its resize only when shown).
    panel.show();
    panel.resize(300, 10);
    EXPECT_EQ(panel.height(), c.height);
  }
}

TEST_F(TaskPaneTest, SeparatorNeedsALinkBeforeIt) {
  TBRNTaskLinksTaskPanel panel;
  ClearTaskLinks(panel);
  AddTaskLinkSeparator(panel);
  EXPECT_EQ(panel.Count(), 0);
  EXPECT_EQ(panel.height(), 16);
  AddTaskLink(panel, "Start Server", 0, nullptr, 0);
  AddTaskLinkSeparator(panel);
  ASSERT_EQ(panel.Count(), 2);
  EXPECT_TRUE(panel.Item(1).IsSeparator());
  EXPECT_EQ(panel.Item(1).ImageIndex(), -1);
  // Clearing starts the count again.
  ClearTaskLinks(panel);
  AddTaskLinkSeparator(panel);
  EXPECT_EQ(panel.Count(), 0);
}

TEST_F(TaskPaneTest, ItemNamesAreUniqueWithoutRegardToCase) {
  TBRNTaskLinksTaskPanel panel;
  TBRNTaskLinkItem& start = panel.Add();
  TBRNTaskLinkItem& stop = panel.Add();
  start.SetName("Start");
  try {
    stop.SetName("START");
    ADD_FAILURE() << "a duplicate name was taken";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "Duplicate task link item");
  }
  EXPECT_EQ(stop.Name(), "");
  // Empty names never clash, and an item may change the case of its own.
  panel.Add();
  start.SetName("start");
  EXPECT_EQ(start.Name(), "start");
}

TEST_F(TaskPaneTest, ClickRunsTheHotLinkWithTheLinksDisabledMeanwhile) {
  TBRNImageList images(16, 16);
  images.Add(Square(Qt::green));
  TBRNTaskLinksTaskPanel panel;
  panel.SetImages(&images);
  panel.resize(200, 10);
  std::vector<bool> enabledDuringClick;
  ClearTaskLinks(panel);
  AddTaskLink(
      panel, "Start Server", 0, [&] { enabledDuringClick.push_back(panel.LinksEnabled()); }, 0);
  AddTaskLinkSeparator(panel);
  AddTaskLink(
      panel, "Edit Server Options", 2, [&] { enabledDuringClick.push_back(true); }, 0);
  QPoint first = panel.RowRect(0).center();
  QPoint separator = panel.RowRect(1).center();

  // Over a separator nothing is hot, so nothing runs.
  Mouse(panel, QEvent::MouseMove, separator, Qt::NoButton);
  Mouse(panel, QEvent::MouseButtonPress, separator, Qt::LeftButton);
  Mouse(panel, QEvent::MouseButtonRelease, separator, Qt::LeftButton);
  EXPECT_TRUE(enabledDuringClick.empty());

  Mouse(panel, QEvent::MouseMove, first, Qt::NoButton);
  EXPECT_EQ(panel.cursor().shape(), Qt::PointingHandCursor);
  // A release without a press before it is no click.
  Mouse(panel, QEvent::MouseButtonRelease, first, Qt::LeftButton);
  EXPECT_TRUE(enabledDuringClick.empty());
  Mouse(panel, QEvent::MouseButtonPress, first, Qt::LeftButton);
  Mouse(panel, QEvent::MouseButtonRelease, first, Qt::LeftButton);
  EXPECT_EQ(enabledDuringClick, std::vector<bool>{false});
  EXPECT_TRUE(panel.LinksEnabled());

  // Switched off, the panel neither hovers nor clicks.
  panel.SetLinksEnabled(false);
  Mouse(panel, QEvent::MouseMove, panel.RowRect(2).center(), Qt::NoButton);
  Mouse(panel, QEvent::MouseButtonPress, panel.RowRect(2).center(), Qt::LeftButton);
  Mouse(panel, QEvent::MouseButtonRelease, panel.RowRect(2).center(), Qt::LeftButton);
  EXPECT_EQ(enabledDuringClick.size(), 1u);
  testing::SaveScreenshot(panel, "links_panel");
}

TEST_F(TaskPaneTest, DetailsPanelHeightFollowsItsContent) {
  TBRNDetailsTaskPanel panel;
  panel.resize(200, 10);
  QFont bold = panel.font();
  bold.setBold(true);
  int title = QFontMetrics(bold).height();
  int line = QFontMetrics(panel.font()).height();

  panel.SetTitle("Server");
  EXPECT_EQ(panel.height(), title + 16);

  // One update for several changes; the height follows at its end.
  panel.BeginUpdate();
  panel.BeginUpdate();
  panel.SetDescription("Main");
  panel.SetInformation({"Mode: Application", "Port: 12010"});
  panel.EndUpdate();
  EXPECT_EQ(panel.height(), title + 16);
  panel.EndUpdate();
  EXPECT_EQ(panel.height(), title + (line + 20) + (2 * line + 12) - 4);

  QPixmap wide(400, 100);
  wide.fill(Qt::blue);
  panel.SetPicture(wide);
  // 400 x 100 fitted into 180 pixels is 45 high.
  EXPECT_EQ(panel.height(), title + (line + 20) + (2 * line + 12) + 45 + 8);
  testing::SaveScreenshot(panel, "details_panel");
}

TEST_F(TaskPaneTest, HeaderButtonCollapsesAndExpands) {
  TBRNTaskHeaderPanel header;
  header.resize(200, 25);
  header.SetTitle("Tasks");
  std::vector<std::string> calls;
  header.OnCollapse = [&] { calls.push_back("collapse"); };
  header.OnExpand = [&] { calls.push_back("expand"); };
  QPoint button = header.ButtonRect().center();
  EXPECT_EQ(header.ButtonRect(), QRect(174, 2, 20, 20));
  EXPECT_EQ(header.TitleRect(), QRect(10, 0, 154, 25));

  Mouse(header, QEvent::MouseMove, button, Qt::NoButton);
  Mouse(header, QEvent::MouseButtonPress, button, Qt::LeftButton);
  Mouse(header, QEvent::MouseButtonRelease, button, Qt::LeftButton);
  EXPECT_TRUE(header.Collapsed());
  testing::SaveScreenshot(header, "header_collapsed");
  // Clicking the title does nothing.
  Mouse(header, QEvent::MouseMove, QPoint(20, 12), Qt::NoButton);
  Mouse(header, QEvent::MouseButtonPress, QPoint(20, 12), Qt::LeftButton);
  Mouse(header, QEvent::MouseButtonRelease, QPoint(20, 12), Qt::LeftButton);
  EXPECT_TRUE(header.Collapsed());
  header.SetCollapsed(false);
  EXPECT_EQ(calls, (std::vector<std::string>{"collapse", "expand"}));

  // Without the button the mouse does nothing.
  header.SetShowButton(false);
  Mouse(header, QEvent::MouseMove, button, Qt::NoButton);
  Mouse(header, QEvent::MouseButtonPress, button, Qt::LeftButton);
  Mouse(header, QEvent::MouseButtonRelease, button, Qt::LeftButton);
  EXPECT_FALSE(header.Collapsed());
}

TEST_F(TaskPaneTest, PanelsArePlacedTwentyPixelsBelowTheVisiblePart) {
  struct Case {
    bool headerVisible;
    bool bodyVisible;
    int nextHeaderTop;
    int labelTop;
  } cases[] = {
      {true, true, 12 + 25 - 1 + 50 + 20, 12 + 25 - 1 + 50 + 20 - 13},
      {true, false, 12 + 25 + 20, 12 + 25 + 20 - 13},
      {false, false, 12, 500},
  };
  for (const Case& c : cases) {
    QWidget parent;
    QWidget header(&parent), body(&parent), nextHeader(&parent), nextBody(&parent);
    QLabel label(&parent);
    header.setGeometry(12, 12, 100, 25);
    body.setGeometry(12, 36, 100, 50);
    nextHeader.setGeometry(12, 0, 100, 25);
    nextBody.setGeometry(12, 0, 100, 40);
    label.setGeometry(0, 500, 8, 13);
    header.setVisible(c.headerVisible);
    body.setVisible(c.bodyVisible);
    PlaceTaskPanels(header, body, nextHeader, nextBody);
    EXPECT_EQ(nextHeader.y(), c.nextHeaderTop);
    EXPECT_EQ(nextBody.y(), c.nextHeaderTop + 25 - 1);
    PlaceSpacerLabel(header, body, label);
    EXPECT_EQ(label.y(), c.labelTop);
  }
}

TEST_F(TaskPaneTest, FormFontIsTheSmallFallbackWithoutAPlatformTheme) {
  QWidget form;
  SetFormFont(form);
  EXPECT_FALSE(TaskPaneThemed());
  EXPECT_EQ(form.font().pointSize(), 8);
}

}  // namespace
}  // namespace brn

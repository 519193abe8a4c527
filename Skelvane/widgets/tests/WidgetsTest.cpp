#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>

#include "Skelvane/widgets/CollapsibleSplitter.h"
#include "Skelvane/widgets/DropDownButton.h"
#include "Skelvane/widgets/ImageButton.h"
#include "tests/support/TestApplication.h"

namespace {

class WidgetsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartTestApplication(); }
    static void TearDownTestSuite() { StopTestApplication(); }
};

TEST_F(WidgetsTest, PicturesFitWithTheirProportionsCentred) {
    const struct {
        QSize picture;
        QRect area;
        QRect expected;
    } cases[] = {
        {{64, 64}, {4, 4, 48, 31}, {12, 4, 31, 31}},  // square picture in a wide button
        {{100, 50}, {0, 0, 32, 28}, {0, 6, 32, 16}},  // wide picture in a squarish button
        {{10, 40}, {2, 2, 20, 20}, {9, 2, 5, 20}},    // tall picture
        {{16, 16}, {0, 0, 64, 64}, {0, 0, 64, 64}},   // small pictures grow to fit
        {{0, 0}, {0, 0, 32, 28}, {}},                 // nothing to draw
    };
    for (const auto& c : cases)
        EXPECT_EQ(CXPStyleButtonST::FitPicture(c.picture, c.area), c.expected) << c.picture.width();
}

TEST_F(WidgetsTest, ImageButtonReportsHoverOnlyWithAPictureAndWorksWithoutOne) {
    QTemporaryDir folder;
    const QString picture = folder.filePath("p.png");
    QImage(8, 8, QImage::Format_RGB32).save(picture);
    QWidget parent;
    CXPStyleButtonST button(&parent);
    button.setGeometry(100, 50, 40, 30);
    button.SetTooltipText("Take a Photo");
    EXPECT_EQ(button.accessibleName(), "Take a Photo");
    EXPECT_EQ(button.toolTip(), "Take a Photo");
    std::vector<QPoint> reported;
    button.SetHoverReport([&](const QPoint& point) { reported.push_back(point); });
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    const auto move = [&] {
        QMouseEvent event(QEvent::MouseMove, QPointF(5, 6), button.mapToGlobal(QPointF(5, 6)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&button, &event);
    };

    button.SetPicture(folder.filePath("missing.png"));
    EXPECT_FALSE(button.HasPicture());
    move();
    EXPECT_TRUE(reported.empty());
    button.click();
    EXPECT_EQ(clicks, 1);

    button.SetPicture(picture);
    EXPECT_TRUE(button.HasPicture());
    move();
    EXPECT_EQ(reported, std::vector<QPoint>{QPoint(105, 56)});  // in the parent's pixels
}

TEST_F(WidgetsTest, MenuOpensBelowTheButtonUnlessItWouldLeaveTheScreen) {
    const QRect button(500, 700, 83, 25);  // rows 700 to 724
    EXPECT_EQ(CCoolBtn::MenuPosition(button, 60, 799), QPoint(500, 725));
    EXPECT_EQ(CCoolBtn::MenuPosition(button, 75, 799), QPoint(500, 725));  // ends on row 799
    EXPECT_EQ(CCoolBtn::MenuPosition(button, 76, 799), QPoint(500, 624));  // above the button
}

TEST_F(WidgetsTest, DropDownMenuReportsItsItemsAndKeepsTheirTexts) {
    CCoolBtn button;
    button.SetCaption("Flip");
    EXPECT_EQ(button.accessibleName(), "Flip");
    button.AddMenuItem(32783, "Rotate 90 CW", "/nonexistent/right90.png");
    button.AddMenuItem(32780, "Flip Horizontal", "/nonexistent/horz.png");
    std::vector<int> chosen;
    button.SetCommandHandler([&](int id) { chosen.push_back(id); });
    button.MenuItem(32780)->trigger();
    button.MenuItem(32783)->trigger();
    EXPECT_EQ(chosen, (std::vector<int>{32780, 32783}));
    button.SetMenuItemText(32780, "水平翻转");
    EXPECT_EQ(button.MenuItem(32780)->text(), "水平翻转");
    EXPECT_EQ(button.MenuItem(1), nullptr);
}

TEST_F(WidgetsTest, DropDownMenuOpensFromTheAccessiblePressAction) {
    QWidget window;
    auto* button = new CCoolBtn(&window);
    button->SetCaption("Flip");
    button->AddMenuItem(32779, "Flip Vertical", "/nonexistent/vert.png");
    window.show();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(accessible, nullptr);
    ASSERT_NE(accessible->actionInterface(), nullptr);
    bool shown = false;
    QObject::connect(button->Menu(), &QMenu::aboutToShow, [&] {
        shown = true;
        QTimer::singleShot(0, button->Menu(), &QMenu::close);
    });
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(shown);  // the caller is answered before the menu's loop runs
    QElapsedTimer waited;
    waited.start();
    while (!shown && waited.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(shown);
}

// Screen readers find the open menu under the button and pick an item by its press
// action, which closes the menu as a mouse pick does.
TEST_F(WidgetsTest, OpenDropDownMenuIsTheButtonsAccessibleChildAndPicksByPress) {
    const std::pair<int, QString> items[] = {{32783, "Rotate 90 CW"},
                                             {32784, "Rotate 90 CCW"},
                                             {32785, "Rotate 180"},
                                             {32779, "Flip Vertical"},
                                             {32780, "Flip Horizontal"}};
    QWidget window;
    auto* button = new CCoolBtn(&window);
    button->SetCaption("Flip");
    for (const auto& [id, text] : items) button->AddMenuItem(id, text, "/nonexistent/item.png");
    std::vector<int> chosen;
    button->SetCommandHandler([&](int id) { chosen.push_back(id); });
    window.show();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(accessible, nullptr);
    const int closedChildren = accessible->childCount();

    bool timedOut = false;
    QTimer::singleShot(5000, button->Menu(), [&] {
        timedOut = true;
        button->Menu()->close();
    });
    QStringList names;
    QTimer::singleShot(0, button->Menu(), [&] {
        ASSERT_TRUE(button->Menu()->isVisible());
        ASSERT_EQ(accessible->childCount(), closedChildren + 1);
        QAccessibleInterface* menu = accessible->child(closedChildren);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->role(), QAccessible::PopupMenu);
        EXPECT_EQ(menu->parent(), accessible);
        EXPECT_EQ(accessible->indexOfChild(menu), closedChildren);
        EXPECT_FALSE(menu->state().invisible);
        QAccessibleInterface* picked = nullptr;
        for (int i = 0; i < menu->childCount(); ++i) {
            QAccessibleInterface* item = menu->child(i);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->role(), QAccessible::MenuItem);
            EXPECT_EQ(item->parent(), menu);
            EXPECT_EQ(menu->indexOfChild(item), i);
            EXPECT_FALSE(item->state().invisible);
            names.push_back(item->text(QAccessible::Name));
            if (names.back() == "Rotate 180") picked = item;
        }
        ASSERT_NE(picked, nullptr);
        ASSERT_NE(picked->actionInterface(), nullptr);
        EXPECT_EQ(picked->actionInterface()->actionNames(),
                  QStringList{QAccessibleActionInterface::pressAction()});
        picked->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    });
    button->OpenMenu();  // returns when the menu closes

    EXPECT_FALSE(timedOut);
    EXPECT_EQ(names.join(", ").toStdString(),
              "Rotate 90 CW, Rotate 90 CCW, Rotate 180, Flip Vertical, Flip Horizontal");
    EXPECT_EQ(chosen, std::vector<int>{32785});
    EXPECT_FALSE(button->Menu()->isVisible());
    EXPECT_EQ(accessible->childCount(), closedChildren);
}

TEST_F(WidgetsTest, LeftColumnCollapsesAndComesBackAtItsWidth) {
    CXSplitterWnd splitter;
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    splitter.setGeometry(0, 0, 800, 400);
    splitter.show();
    splitter.SetLeftWidth(200);
    const int total = splitter.sizes()[0] + splitter.sizes()[1];
    EXPECT_FALSE(splitter.IsCollapsed());

    splitter.Expand();  // not collapsed: nothing changes
    EXPECT_EQ(splitter.sizes()[0], 200);
    splitter.Collapse();
    EXPECT_TRUE(splitter.IsCollapsed());
    EXPECT_EQ(splitter.sizes()[1], total);
    splitter.Collapse();
    splitter.Expand();
    EXPECT_EQ(splitter.sizes()[0], 200);

    splitter.SetLeftWidth(0);  // as when the user drags the divider to the edge
    splitter.Expand();
    EXPECT_EQ(splitter.sizes()[0], 200);
}

}  // namespace

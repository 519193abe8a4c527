// The media browser's panes on Qt's offscreen platform, against real folders, real
// pictures and movies, and the product's settings store.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QUrl>
#include <QWheelEvent>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "Skelvane/browser/ResourceWindow.h"
#include "Skelvane/settings/tests/ProductStoreTest.h"
#include "platform/imaging/Imaging.h"
#include "platform/imaging/tests/TestPictures.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/TestApplication.h"

namespace {

namespace fs = std::filesystem;

// Takes every file URL the desktop is asked to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~OpenedUrls() override { QDesktopServices::unsetUrlHandler("file"); }
    QStringList paths;
    std::vector<std::string> pathBytes;  // the paths as the file system spells them

public slots:
    void Open(const QUrl& url) {
        paths.push_back(url.toLocalFile());
        pathBytes.push_back(
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    }
};

bool WaitFor(const std::function<bool()>& done, int milliseconds = 10000) {
    return ProcessEventsUntil(done, milliseconds);
}

// A picture of width x height in four colours (red at the top left).
void WritePicture(const fs::path& path, int width, int height) {
    const imaging::BgrBitmap picture = testing_pictures::QuadrantPicture(width, height);
    ASSERT_EQ(imaging::WriteJpegFile(picture.View(), path.string(), 90).status, Gdiplus::Ok);
}

bool WriteMovie(const fs::path& path, int width, int height) {
    return testing_pictures::WriteTestMovie(
        path.string(), {testing_pictures::QuadrantPicture(width, height)}, width, height);
}

class BrowserWindowTest : public support::ProductStoreTest {
protected:
    static void SetUpTestSuite() { StartTestApplication(); }
    static void TearDownTestSuite() { StopTestApplication(); }

    void SetUp() override {
        ProductStoreTest::SetUp();
        ProvisionStore();
    }

    fs::path MediaRoot() const {
        return CSettingParamManage::Instance()->GetCurrent().GetMediaRoot();
    }

    // A strip whose drawing area is `width` x `height` pixels.
    static void Size(CResourcesBrowserDlg& strip, int width, int height) {
        strip.resize(width + strip.ScrollBar()->sizeHint().width(), height);
        strip.show();
        QApplication::processEvents();
    }

    // Paints the strip until no slot waits for its thumbnail.
    static bool PaintedWhenDecoded(CResourcesBrowserDlg& strip) {
        return WaitFor([&] {
            strip.grab();
            return strip.PendingSlots() == 0;
        });
    }
};

TEST_F(BrowserWindowTest, StripScrollsBySlotsAndFitsThumbnailsIntoTheirBoxes) {
    const fs::path folder = MediaRoot() / "Single Shots";
    fs::create_directories(folder);
    // Seven entries: the second is wide, the rest 640 x 480.
    for (int i = 0; i < 7; ++i)
        WritePicture(folder / ("S" + std::to_string(i) + ".jpg"), i == 1 ? 400 : 640,
                     i == 1 ? 100 : 480);
    CResourcesBrowserDlg strip;
    Size(strip, 160, 300);
    strip.Model().SwitchFolder(folder.string(), false);
    QApplication::processEvents();

    EXPECT_EQ(strip.Range().maximum, 770);
    EXPECT_EQ(strip.Range().page, 300);
    EXPECT_TRUE(strip.ScrollBar()->isVisible());
    EXPECT_EQ(strip.ScrollBar()->value(), 0);

    ASSERT_TRUE(PaintedWhenDecoded(strip));
    EXPECT_EQ(strip.ItemRects().at(0), QRect(13, 10, 133, 100));
    EXPECT_EQ(strip.ItemRects().at(1), QRect(0, 120 + 30, 160, 40));
    EXPECT_EQ(strip.ItemRects().size(), 3u);  // 300 / 110 + 1 slots

    strip.ScrollBar()->setValue(110);
    strip.grab();
    EXPECT_EQ(strip.FirstVisible(), 1);
    EXPECT_EQ(strip.ItemRects().at(0), QRect(0, 10 + 30, 160, 40));
    EXPECT_EQ(strip.SlotNames().at(0), "S1.jpg");

    // Readers see every entry, drawn or scrolled away, and the scroll bar after them.
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&strip);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->childCount(), 8);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), "S0.jpg");
    EXPECT_TRUE(list->child(0)->state().offscreen);
    EXPECT_TRUE(list->child(0)->rect().isEmpty());
    EXPECT_FALSE(list->child(1)->state().offscreen);
    EXPECT_EQ(list->child(6)->text(QAccessible::Name), "S6.jpg");
    EXPECT_EQ(list->indexOfChild(list->child(6)), 6);
    EXPECT_EQ(list->child(7)->object(), strip.ScrollBar());

    // Wheel and keys move one slot, limited to the bar's ends.
    const auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(50, 50), strip.mapToGlobal(QPointF(50, 50)), {}, {0, delta},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&strip, &event);
        return strip.ScrollBar()->value();
    };
    EXPECT_EQ(wheel(-120), 220);
    EXPECT_EQ(wheel(120), 110);
    EXPECT_EQ(wheel(120), 0);
    EXPECT_EQ(wheel(120), 0);
    EXPECT_EQ(wheel(0), 0);

    // At the end the last entry is drawn whole at the bottom.
    strip.ScrollToEnd();
    EXPECT_EQ(strip.ScrollBar()->value(), 770 - 300 + 1);
    EXPECT_EQ(wheel(-120), 770 - 300 + 1);
    ASSERT_TRUE(PaintedWhenDecoded(strip));
    EXPECT_EQ(strip.SlotNames().rbegin()->second, "S6.jpg");
    EXPECT_LE(strip.ItemRects().rbegin()->second.bottom(), 300);

    // Removing an entry keeps the distance from the end.
    strip.ScrollBar()->setValue(300);
    const int fromEnd = 770 - 300;
    strip.Model().RemoveFile("S0.jpg");
    strip.KeepScrollFromEnd();
    EXPECT_EQ(strip.Range().maximum, 660);
    EXPECT_EQ(660 - strip.ScrollBar()->value(), fromEnd);
    EXPECT_EQ(list->childCount(), 7);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), "S1.jpg");

    // Two entries fit: the bar goes.
    strip.Model().SwitchFolder("", false);
    strip.Model().AppendFile("a.jpg");
    strip.Model().AppendFile("b.jpg");
    strip.UpdateScrollRange();
    EXPECT_FALSE(strip.ScrollBar()->isVisible());
}

TEST_F(BrowserWindowTest, UnreadableEntriesTakeNoSlotAndMoviesCarryTheBadge) {
    const fs::path folder = MediaRoot() / "Movies";
    fs::create_directories(folder);
    ASSERT_TRUE(WriteMovie(folder / "M1.avi", 320, 240));
    std::ofstream(folder / "M2.avi") << "not a movie";
    WritePicture(folder / "M3.jpg", 640, 480);
    CResourcesBrowserDlg strip;
    Size(strip, 160, 400);
    strip.Model().SwitchFolder(folder.string(), false);
    ASSERT_TRUE(PaintedWhenDecoded(strip));
    ASSERT_TRUE(WaitFor([&] {
        strip.grab();
        return strip.SlotNames().size() == 2;
    }));
    // The broken movie is skipped: the picture after it is drawn in the next place down.
    EXPECT_EQ(strip.ItemRects().at(0), QRect(13, 10, 133, 100));
    EXPECT_EQ(strip.ItemRects().at(2), QRect(13, 120, 133, 100));
    EXPECT_FALSE(strip.ItemRects().contains(1));

    const QImage shown = strip.grab().toImage();
    const QImage badge(QString::fromStdString(GetInstallFolder()) +
                       "Resource/Image/MovieBadge.png");
    ASSERT_FALSE(badge.isNull());
    int compared = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (qAlpha(badge.pixel(x, y)) == 255) {
                EXPECT_EQ(shown.pixel(13 + x, 10 + y), badge.pixel(x, y));
                ++compared;
            }
    EXPECT_GT(compared, 0);
    // The picture itself has no badge: its corner is the red of the picture.
    EXPECT_GT(qRed(shown.pixel(13 + 2, 120 + 2)), 200);
    EXPECT_LT(qBlue(shown.pixel(13 + 2, 120 + 2)), 60);
}

TEST_F(BrowserWindowTest, DoubleClickAndThePressActionOpenTheFileAFailureShowsTheSystemText) {
    const fs::path folder = MediaRoot() / "Single Shots";
    fs::create_directories(folder);
    WritePicture(folder / "a.jpg", 640, 480);
    WritePicture(folder / "b.jpg", 640, 480);
    // Not watched: a file removed below stays listed, as before the monitor sees it go.
    CResourcesBrowserDlg strip(
        nullptr, [] { return std::string(); }, [](const std::string&) { return nullptr; });
    Size(strip, 160, 300);
    strip.Model().SwitchFolder(folder.string(), false);
    ASSERT_TRUE(PaintedWhenDecoded(strip));
    {
        OpenedUrls opened;
        const auto doubleClick = [&](QPoint at) {
            QMouseEvent event(QEvent::MouseButtonDblClick, at, strip.mapToGlobal(at),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&strip, &event);
        };
        doubleClick({80, 150});  // inside the second thumbnail
        doubleClick({5, 150});   // beside it
        doubleClick({80, 5});    // above the first
        EXPECT_EQ(opened.paths, QStringList{QString::fromStdString((folder / "b.jpg").string())});

        // The strip is a list of its entries, named by file name.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&strip);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->role(), QAccessible::List);
        ASSERT_GE(list->childCount(), 2);
        QAccessibleInterface* first = list->child(0);
        EXPECT_EQ(first->role(), QAccessible::ListItem);
        EXPECT_EQ(first->text(QAccessible::Name), "a.jpg");
        EXPECT_EQ(list->indexOfChild(list->child(1)), 1);
        EXPECT_EQ(first->parent()->object(), &strip);
        EXPECT_EQ(first->rect().topLeft(), strip.mapToGlobal(QPoint(13, 10)));
        first->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_EQ(opened.paths.size(), 2);
        EXPECT_EQ(opened.paths.back(), QString::fromStdString((folder / "a.jpg").string()));
    }
    // The offscreen desktop opens nothing: the box says why.
    support::ScopedRecordingPresenter boxes;
    EXPECT_TRUE(strip.OpenSlot(0));
    fs::remove(folder / "b.jpg");
    EXPECT_TRUE(strip.OpenSlot(1));
    EXPECT_FALSE(strip.OpenSlot(5));
    EXPECT_EQ(boxes->Texts(),
              (std::vector<std::string>{"No application is associated with the specified file for "
                                        "this operation.",
                                        "No such file or directory"}));
    EXPECT_EQ(boxes->Captions().front(), "Lumivor");
}

// ---- The folder tree ----

struct Panes {
    explicit Panes(std::function<bool()> busy = [] { return false; })
        : view(nullptr), folders(nullptr, std::move(busy)) {
        folders.SetBrowserView(&view);
        folders.resize(200, 300);
        view.resize(200, 400);
        folders.show();
        view.show();
    }
    CResourcesBrowserDlg& Strip() { return *view.Dialog(); }
    std::string Browsed() { return Strip().Model().GetBrowsedFolder(); }
    QTreeWidgetItem* Item(const QStringList& texts) {
        QTreeWidgetItem* item = folders.Tree()->topLevelItem(0);
        for (const QString& text : texts) {
            item = item != nullptr ? CResourceWindow::FindChildItem(item, text.toStdString())
                                   : nullptr;
        }
        return item;
    }
    QStringList Children(QTreeWidgetItem* item) {
        QStringList texts;
        for (int i = 0; item != nullptr && i < item->childCount(); ++i)
            texts.push_back(item->child(i)->text(0));
        return texts;
    }
    void Select(QTreeWidgetItem* item) { folders.Tree()->setCurrentItem(item); }

    CResourceBrowserView view;
    CResourceWindow folders;
};

TEST_F(BrowserWindowTest, FlatLayoutBrowsesKindFoldersAndRevealsPhotosAtTheEnd) {
    for (const char* kind : {"Single Shots", "Timed Shots", "Movies"})
        fs::create_directories(MediaRoot() / kind);
    WritePicture(MediaRoot() / "Movies" / "x.jpg", 64, 48);
    Panes panes;
    QTreeWidgetItem* top = panes.folders.Tree()->topLevelItem(0);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->text(0), "Skelvane");
    EXPECT_TRUE(top->isExpanded());
    EXPECT_EQ(panes.Children(top), (QStringList{"Movies", "Single Shots", "Timed Shots"}));
    EXPECT_FALSE(top->child(0)->icon(0).isNull());

    panes.Select(top);
    EXPECT_EQ(panes.Browsed(), "");
    panes.Select(panes.Item({"Movies"}));
    EXPECT_EQ(panes.Browsed(), (MediaRoot() / "Movies").string());
    EXPECT_EQ(panes.Strip().Model().GetFileCount(), 1u);

    // A photo stored by the streaming thread: its folder is selected and it is the last entry
    // in view; the next one is appended.
    const fs::path shots = MediaRoot() / "Single Shots";
    for (int i = 1; i <= 5; ++i)
        WritePicture(shots / ("S2026121" + std::to_string(i) + ".jpg"), 64, 48);
    WritePicture(shots / "S20261216.jpg", 64, 48);
    std::thread([&] { panes.folders.RevealFile((shots / "S20261216.jpg").string()); }).join();
    ASSERT_TRUE(WaitFor([&] { return panes.Browsed() == shots.string(); }));
    EXPECT_EQ(panes.folders.Tree()->currentItem(), panes.Item({"Single Shots"}));
    CResourcesBrowserDlg& strip = panes.Strip();
    EXPECT_EQ(strip.Model().GetItemPath(5), (shots / "S20261216.jpg").string());
    EXPECT_EQ(strip.ScrollBar()->value(), strip.ScrollBar()->maximum());
    EXPECT_GT(strip.ScrollBar()->maximum(), 0);

    WritePicture(shots / "S20261217.jpg", 64, 48);
    panes.folders.RevealFile((shots / "S20261217.jpg").string());
    EXPECT_EQ(strip.Model().GetFileCount(), 7u);
    EXPECT_EQ(strip.Model().GetItemPath(6), (shots / "S20261217.jpg").string());
    EXPECT_EQ(strip.ScrollBar()->value(), 7 * 110 - strip.DrawingArea().height() + 1);
    // Listed already (the monitor saw it renamed into place): not again, but in view.
    strip.ScrollBar()->setValue(0);
    panes.folders.RevealFile((shots / "S20261217.jpg").string());
    EXPECT_EQ(strip.Model().GetFileCount(), 7u);
    EXPECT_EQ(strip.ScrollBar()->value(), strip.ScrollBar()->maximum());

    // Paths the tree cannot place are not revealed.
    panes.folders.RevealFile("S1.jpg");
    panes.folders.RevealFile((MediaRoot() / "Elsewhere" / "S1.jpg").string());
    EXPECT_EQ(panes.Browsed(), shots.string());

    // The button opens the selected folder, or the media root with nothing selected.
    OpenedUrls opened;
    EXPECT_TRUE(panes.folders.ExploreSelected());
    panes.folders.Tree()->setCurrentItem(nullptr);
    panes.folders.MoreResourcesButton()->click();
    EXPECT_EQ(opened.paths, (QStringList{QString::fromStdString(shots.string()),
                                         QString::fromStdString(MediaRoot().string())}));
}

TEST_F(BrowserWindowTest, DatedLayoutBrowsesRunFoldersOnlyAndRevealAddsNewFolders) {
    ChangeSettings([](CSettingParam& param) { param.autocreatingfolder = 1; });
    ChangeSettings([](CSettingParam&) {});  // the previous record has the same layout
    const fs::path run = MediaRoot() / "Single Shots" / "20261209" / "000";
    fs::create_directories(run);
    fs::create_directories(MediaRoot() / "Movies");
    WritePicture(run / "S1.jpg", 64, 48);
    bool recording = false;
    Panes panes([&] { return recording; });
    EXPECT_EQ(panes.Children(panes.Item({"Single Shots", "20261209"})), QStringList{"000"});

    panes.Select(panes.Item({"Single Shots", "20261209"}));  // has run folders
    EXPECT_EQ(panes.Browsed(), "");
    panes.Select(panes.Item({"Movies"}));  // a kind folder is not browsed in this layout
    EXPECT_EQ(panes.Browsed(), "");
    panes.Select(panes.Item({"Single Shots", "20261209", "000"}));
    EXPECT_EQ(panes.Browsed(), run.string());
    EXPECT_EQ(panes.Strip().Model().GetFileCount(), 1u);

    // While recording, choosing another folder changes the selection, not the strip.
    recording = true;
    panes.Select(panes.Item({"Movies"}));
    EXPECT_EQ(panes.Browsed(), run.string());

    // A movie in a folder the tree has not seen yet: the date and run items are made.
    const fs::path movies = MediaRoot() / "Movies" / "20261210" / "001";
    fs::create_directories(movies);
    ASSERT_TRUE(WriteMovie(movies / "M1.avi", 160, 120));
    panes.folders.RevealFile((movies / "M1.avi").string());
    EXPECT_EQ(panes.Children(panes.Item({"Movies"})), QStringList{"20261210"});
    EXPECT_EQ(panes.folders.Tree()->currentItem(), panes.Item({"Movies", "20261210", "001"}));
    EXPECT_EQ(panes.Browsed(), movies.string());
    EXPECT_EQ(panes.Strip().Model().GetFileCount(), 1u);
    // Too few folders in the path for this layout: nothing happens.
    panes.folders.RevealFile((MediaRoot() / "Movies" / "M2.avi").string());
    EXPECT_EQ(panes.Browsed(), movies.string());
}

// The tree's menu offers "Make a movie" on the folders that hold a timed-shot run only, and
// hands over that folder once the menu has closed.
TEST_F(BrowserWindowTest, FolderMenuOffersAMovieOnTimedShotFoldersOnly) {
    const struct {
        int32_t dated;
        QStringList item;
        bool offered;
    } cases[] = {
        {0, {"Timed Shots"}, true},
        {0, {"Single Shots"}, false},
        {0, {"Movies"}, false},
        {0, {}, false},  // the media root
        {1, {"Timed Shots", "20261209", "000"}, true},
        {1, {"Timed Shots", "20261209"}, false},
        {1, {"Timed Shots"}, false},
        {1, {"Single Shots", "20261209", "000"}, false},
    };
    for (const char* kind : {"Single Shots", "Timed Shots"})
        fs::create_directories(MediaRoot() / kind / "20261209" / "000");
    fs::create_directories(MediaRoot() / "Movies");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.join("/").toStdString());
        ChangeSettings([&](CSettingParam& param) { param.autocreatingfolder = c.dated; });
        Panes panes;
        std::vector<std::string> asked;
        panes.folders.SetMakeMovieHandler(
            [&](const std::string& folder) { asked.push_back(folder); });
        QTreeWidgetItem* item = panes.Item(c.item);
        ASSERT_NE(item, nullptr);
        const std::unique_ptr<QMenu> menu(panes.folders.CreateFolderMenu(item));
        ASSERT_EQ(menu->actions().size(), c.offered ? 1 : 0);
        if (!c.offered) continue;
        EXPECT_EQ(menu->actions()[0]->text(), "Make a movie");
        menu->actions()[0]->trigger();
        EXPECT_TRUE(asked.empty());  // the menu is still closing
        ASSERT_TRUE(WaitFor([&] { return !asked.empty(); }));
        fs::path folder = MediaRoot();
        for (const QString& name : c.item) folder /= name.toStdString();
        EXPECT_EQ(asked, std::vector<std::string>{folder.string()});
    }
}

// A folder and a file whose names are not UTF-8 (byte 0xFF): the folder is browsed, and the
// desktop is asked to open the file and the folder that are really there.
TEST_F(BrowserWindowTest, NamesThatAreNotUtf8LeadToTheirFiles) {
    const fs::path odd = MediaRoot() / "Odd\xff";
    fs::create_directories(odd);
    WritePicture(odd / "p\xff.jpg", 64, 48);
    Panes panes;
    QTreeWidgetItem* item =
        CResourceWindow::FindChildItem(panes.folders.Tree()->topLevelItem(0), "Odd\xff");
    ASSERT_NE(item, nullptr);
    panes.Select(item);
    EXPECT_EQ(panes.Browsed(), odd.string());
    CResourcesBrowserDlg& strip = panes.Strip();
    ASSERT_EQ(strip.Model().GetFileCount(), 1u);
    Size(strip, 160, 300);
    ASSERT_TRUE(PaintedWhenDecoded(strip));
    ASSERT_EQ(strip.ItemRects().size(), 1u);
    OpenedUrls opened;
    EXPECT_TRUE(strip.OpenSlot(0));
    EXPECT_TRUE(panes.folders.ExploreSelected());
    EXPECT_EQ(opened.pathBytes,
              (std::vector<std::string>{(odd / "p\xff.jpg").string(), odd.string()}));
}

// Links to folders are not followed (a link to ".." or "/" would nest the tree without end or
// walk the whole disk), and the dated layout's tree ends at its run folders.
TEST_F(BrowserWindowTest, TreeFollowsNoLinkedFolderAndEndsAtRunFolders) {
    ChangeSettings([](CSettingParam& param) { param.autocreatingfolder = 1; });
    const fs::path run = MediaRoot() / "Single Shots" / "20261209" / "000";
    fs::create_directories(run / "deeper" / "deepest");
    fs::create_directory_symlink("..", run / "loop");
    fs::create_directory_symlink("/", run / "root");
    fs::create_directory_symlink(".", MediaRoot() / "Linked");
    QElapsedTimer timer;
    timer.start();
    Panes panes;
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(panes.Children(panes.Item({})), QStringList{"Single Shots"});
    EXPECT_EQ(panes.Children(panes.Item({"Single Shots", "20261209"})), QStringList{"000"});
    EXPECT_EQ(panes.Children(panes.Item({"Single Shots", "20261209", "000"})), QStringList{});
}

TEST_F(BrowserWindowTest, TreeIsRebuiltOnlyWhenTheRootOrTheLayoutChanges) {
    fs::create_directories(MediaRoot() / "Movies");
    Panes panes;
    panes.Select(panes.Item({"Movies"}));
    ASSERT_FALSE(panes.Browsed().empty());
    fs::create_directories(MediaRoot() / "Single Shots");
    panes.folders.RefreshTree();  // nothing changed
    EXPECT_EQ(panes.Children(panes.Item({})), QStringList{"Movies"});
    EXPECT_FALSE(panes.Browsed().empty());

    const fs::path other = root_ / "other";
    fs::create_directories(other / "Skelvane" / "Timed Shots");
    ChangeSettings([&](CSettingParam& param) { param.SetResourcesPath(other.string()); });
    panes.folders.RefreshTree();
    EXPECT_EQ(panes.Children(panes.Item({})), QStringList{"Timed Shots"});
    EXPECT_EQ(panes.Browsed(), "");
}

}  // namespace

#include "BrowserWindowTest.moc"

// The quick-look panel (showing, following, closing, its frame kept between launches, hidden
// when the application goes inactive, the footer) and the keys the file tables install.
#include "App/Preview/QuickLookPanel.h"
#include "App/DesignSystem/Format.h"
#include "App/Preview/PreviewContentView.h"
#include "App/Preview/QuickLookKeys.h"
#include "App/Shell/PreviewWiring.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace tw;
using namespace tw::test;

namespace {

class QuickLookPanelTest : public PreviewFixture {
protected:
    void SetUp() override {
        PreviewFixture::SetUp();
        build();
        panelSettings = std::make_shared<SettingsStore>(
            settingsDir.filePath(QStringLiteral("panel.ini")), QSettings::IniFormat);
        one = addFile(QStringLiteral("one.txt"), QStringLiteral("text/plain"), "first file");
        two = addFile(QStringLiteral("two.txt"), QStringLiteral("text/plain"), "second file");
        main.setObjectName(QStringLiteral("mainWindow"));
        main.setGeometry(100, 80, 1100, 700);
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    }
    QuickLook::OpenFull recordOpen() {
        return [this](const FileItem& item) { opened.append(item.name); };
    }
    std::shared_ptr<SettingsStore> panelSettings;
    QMainWindow main;
    FileItem one, two;
    QStringList opened;
};

TEST_F(QuickLookPanelTest, ShowsTheFileCentredOnTheMainWindow) {
    QuickLookPanel panel(panelSettings);
    EXPECT_FALSE(panel.isPanelVisible());
    EXPECT_EQ(panel.panel(), nullptr) << "made on first use";
    panel.show(one, *model, recordOpen());
    ASSERT_TRUE(panel.isPanelVisible());
    QWidget* window = panel.panel();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("one.txt"));
    EXPECT_TRUE(window->windowFlags() & Qt::Tool);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(window->size(), QuickLookPanel::contentSize);
    EXPECT_LE((window->frameGeometry().center() - main.frameGeometry().center()).manhattanLength(),
              2);
    ASSERT_NE(panel.view(), nullptr);
    EXPECT_EQ(panel.view()->content()->mode(), PreviewMode::compact);
}

TEST_F(QuickLookPanelTest, FollowsTheSelectionOnlyWhileVisible) {
    QuickLookPanel panel(panelSettings);
    panel.follow(one, *model, recordOpen());
    EXPECT_FALSE(panel.isPanelVisible()) << "following never opens the panel";
    panel.show(one, *model, recordOpen());
    panel.panel()->move(10, 20);
    const QRect frame = panel.panel()->geometry();
    QPointer<QuickLookView> first = panel.view();

    FileItem folder = one;
    folder.ref.providerID = QStringLiteral("folder");
    folder.mimeType = FileItem::folderMimeType;
    struct Case {
        std::optional<FileItem> item;
        QString shown;
        bool newView;
    };
    const QList<Case> cases{{std::nullopt, QStringLiteral("one.txt"), false},
                            {folder, QStringLiteral("one.txt"), false},
                            {one, QStringLiteral("one.txt"), false},
                            {two, QStringLiteral("two.txt"), true}};
    for (const Case& c : cases) {
        panel.follow(c.item, *model, recordOpen());
        EXPECT_EQ(panel.item()->name, c.shown);
        EXPECT_EQ(first.isNull(), c.newView);
    }
    EXPECT_EQ(panel.panel()->windowTitle(), QStringLiteral("two.txt"));
    EXPECT_EQ(panel.panel()->geometry(), frame) << "a visible panel keeps its place and size";
}

TEST_F(QuickLookPanelTest, ClosingTearsThePreviewDownAndShowingAgainRecentres) {
    QuickLookPanel panel(panelSettings);
    panel.show(one, *model, recordOpen());
    QPointer<QuickLookView> view = panel.view();
    panel.close();
    EXPECT_FALSE(panel.isPanelVisible());
    EXPECT_TRUE(view.isNull());
    EXPECT_FALSE(panel.item().has_value());
    panel.close(); // harmless when hidden

    // A panel made small comes back at the standard size; a large one keeps its size.
    panel.show(one, *model, recordOpen());
    panel.panel()->resize(500, 360);
    panel.close();
    panel.show(two, *model, recordOpen());
    EXPECT_EQ(panel.panel()->size(), QuickLookPanel::contentSize);
    panel.panel()->resize(800, 560);
    panel.close();
    panel.show(one, *model, recordOpen());
    EXPECT_EQ(panel.panel()->size(), QSize(800, 560));
    EXPECT_LE(
        (panel.panel()->frameGeometry().center() - main.frameGeometry().center()).manhattanLength(),
        2);

    // The user's close control empties it too.
    view = panel.view();
    panel.panel()->close();
    EXPECT_FALSE(panel.isPanelVisible());
    EXPECT_TRUE(view.isNull());
    EXPECT_FALSE(panel.item().has_value());
}

TEST_F(QuickLookPanelTest, OpenPreviewClosesThePanelAndOpensTheWindow) {
    QuickLookPanel panel(panelSettings);
    panel.show(two, *model, recordOpen());
    auto* open = panel.view()->findChild<QPushButton*>(QStringLiteral("quickLookOpenPreview"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->toolTip(), QStringLiteral("Open in a full preview window"));
    open->click();
    EXPECT_EQ(opened, QStringList{QStringLiteral("two.txt")});
    EXPECT_FALSE(panel.isPanelVisible());

    panel.show(one, *model, recordOpen());
    panels->saveLocation.reset();
    panel.view()->findChild<QPushButton*>(QStringLiteral("quickLookDownload"))->click();
    EXPECT_EQ(panels->asked.last(), QStringLiteral("save | one.txt"));
}

TEST_F(QuickLookPanelTest, HidesWhenTheApplicationGoesInactiveAndStaysHidden) {
    QuickLookPanel panel(panelSettings);
    panel.show(one, *model, recordOpen());
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(panel.isPanelVisible());
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(panel.isPanelVisible());
}

TEST_F(QuickLookPanelTest, KeepsItsFrameBetweenLaunches) {
    {
        QuickLookPanel panel(panelSettings);
        panel.show(one, *model, recordOpen());
        panel.panel()->setGeometry(40, 50, 640, 420);
        panel.close();
    }
    main.hide(); // no main window to centre on: the kept frame stands
    QuickLookPanel again(panelSettings);
    again.show(one, *model, recordOpen());
    EXPECT_EQ(again.panel()->geometry(), QRect(40, 50, 640, 420));
}

TEST_F(QuickLookPanelTest, TheApplicationsPanelKeepsItsFrameInTheModelsSettings) {
    // The application's panel, as the shell wires it: one panel, over the model's own settings
    // store, so what it keeps reads back through the model's store at once.
    auto& panel = dynamic_cast<QuickLookPanel&>(PreviewWiring::quickLook(*model));
    const std::unique_ptr<QuickLookPanel> owned(&panel); // the next test's panel is its own
    EXPECT_EQ(&PreviewWiring::quickLook(*model), &panel);
    panel.show(one, *model, recordOpen());
    panel.panel()->setGeometry(40, 50, 640, 420);
    panel.close();
    EXPECT_EQ(defaults->value(QStringLiteral("QuickLookPanel")).toByteArray(),
              panel.panel()->saveGeometry());
}

TEST_F(QuickLookPanelTest, TheDetailLineLeavesOutWhatIsUnknown) {
    FileItem bare = one;
    bare.sizeBytes.reset();
    bare.modifiedAt.reset();
    bare.ref.accountID = QUuid::createUuid();
    EXPECT_EQ(QuickLookView::detail(*model, bare), QStringLiteral("--"));
    EXPECT_EQ(QuickLookView::detail(*model, one),
              Format::byteCount(10) + QStringLiteral(" \u00b7 ") +
                  Format::modified(one.modifiedAt) + QStringLiteral(" \u00b7 Work"));
}

// ---- keys ----------------------------------------------------------------------------------

/// A panel that only records.
class FakeQuickLook : public QuickLook {
public:
    bool visible = false;
    int closes = 0;
    bool isPanelVisible() const override { return visible; }
    void show(const FileItem&, AppModel&, OpenFull) override { visible = true; }
    void follow(const std::optional<FileItem>&, AppModel&, OpenFull) override {}
    void close() override {
        visible = false;
        ++closes;
    }
};

class QuickLookKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        search = new QLineEdit(&window);
        QuickLookKeys::markSearchField(search);
        other = new QLineEdit(&window);
        table = new QTableView(&window);
        rows.setRowCount(3);
        rows.setColumnCount(1);
        table->setModel(&rows);
        layout->addWidget(search);
        layout->addWidget(other);
        layout->addWidget(table);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QuickLookKeys::install(table, quickLook, [this] {
            ++spaces;
            return answer;
        });
    }
    /// Sends a key press to a widget; true when something let it through to the widget.
    bool press(QWidget* to, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier,
               bool repeat = false) {
        QKeyEvent event(QEvent::KeyPress, key, mods,
                        key == Qt::Key_Space ? QStringLiteral(" ") : QString(), repeat);
        delivered = false;
        QApplication::sendEvent(to, &event);
        return delivered;
    }
    QWidget window;
    QLineEdit* search;
    QLineEdit* other;
    QTableView* table;
    QStandardItemModel rows;
    FakeQuickLook quickLook;
    int spaces = 0;
    bool answer = true;
    bool delivered = false;
};

TEST_F(QuickLookKeysTest, SpaceGoesToTheCallerAndIsTakenWhenItActed) {
    table->setFocus();
    QLineEdit typed(&window);
    typed.setText(QStringLiteral("ab"));
    typed.show();
    typed.setFocus();
    typed.setCursorPosition(1);
    // Text with content: the space is typed.
    QTest::keyClick(&typed, Qt::Key_Space);
    EXPECT_EQ(typed.text(), QStringLiteral("a b"));
    EXPECT_EQ(spaces, 0);

    table->setFocus();
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(spaces, 1);
    // Modifiers: never Quick Look.
    QTest::keyClick(table, Qt::Key_Space, Qt::ShiftModifier);
    QTest::keyClick(table, Qt::Key_Space, Qt::AltModifier);
    EXPECT_EQ(spaces, 1);
}

TEST_F(QuickLookKeysTest, AHeldSpaceIsSwallowedOnlyWhileThePanelShows) {
    table->setFocus();
    QTest::keyEvent(QTest::Press, table, Qt::Key_Space, Qt::NoModifier);
    ASSERT_EQ(spaces, 1);
    struct Spy : QObject {
        int seen = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress)
                ++seen;
            return false;
        }
    } spy;
    table->installEventFilter(&spy);
    quickLook.visible = true;
    QKeyEvent held(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(table, &held);
    EXPECT_EQ(spy.seen, 0) << "swallowed while visible";
    quickLook.visible = false;
    QKeyEvent heldAgain(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(table, &heldAgain);
    EXPECT_EQ(spy.seen, 1) << "passed on while hidden";
    EXPECT_EQ(spaces, 1) << "repeats never toggle";
}

TEST_F(QuickLookKeysTest, EscapeClosesAVisiblePanelOnly) {
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_EQ(quickLook.closes, 0);
    quickLook.visible = true;
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_EQ(quickLook.closes, 1);
    EXPECT_FALSE(quickLook.visible);
}

TEST_F(QuickLookKeysTest, AnEmptySearchFieldHandsSpaceAndLaterTheFocusToTheTable) {
    search->setFocus();
    ASSERT_TRUE(search->hasFocus());
    QTest::keyClick(search, Qt::Key_Space);
    EXPECT_EQ(spaces, 1);
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_TRUE(table->hasFocus()) << "handled from the search field: the table takes the focus";

    // When the caller did nothing, the space goes on into the field.
    answer = false;
    search->setFocus();
    QTest::keyClick(search, Qt::Key_Space);
    EXPECT_EQ(search->text(), QStringLiteral(" "));

    // Another window's table with an idle search field: 0.4 s later the table has the focus.
    QWidget second;
    auto* box = new QVBoxLayout(&second);
    auto* field = new QLineEdit(&second);
    field->setObjectName(QStringLiteral("searchField"));
    auto* list = new QTableView(&second);
    box->addWidget(field);
    box->addWidget(list);
    second.show();
    second.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&second));
    field->setFocus();
    QuickLookKeys::install(list, quickLook, [] { return true; });
    ASSERT_TRUE(field->hasFocus());
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->hasFocus(); }, 2000));
}

TEST_F(QuickLookKeysTest, KeysOfOtherWindowsAreLeftAlone) {
    QWidget elsewhere;
    elsewhere.show();
    quickLook.visible = true;
    QTest::keyClick(&elsewhere, Qt::Key_Space);
    QTest::keyClick(&elsewhere, Qt::Key_Escape);
    EXPECT_EQ(spaces, 0);
    EXPECT_EQ(quickLook.closes, 0);
}

} // namespace

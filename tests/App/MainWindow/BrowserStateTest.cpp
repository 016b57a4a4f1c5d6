// The storage browser's selection and category filter in the main window, driven by clicks and
// keys: they last while the same account stays chosen, across a visit to Home or a search, and
// start afresh when another account is chosen.
#include "App/Shell/MainWindow.h"
#include "tests/App/Browser/BrowserFixture.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QToolButton>

using namespace tw;
using namespace tw::test;

namespace {

class BrowserStateTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        other = storedAccount(ProviderKind::googleDrive, QStringLiteral("Other"), 1);
        storeAccounts({work, other});
        // A photo and three documents.
        const char* const files[][2] = {{"beach.jpg", "image/jpeg"},
                                        {"plan.pdf", "application/pdf"},
                                        {"budget.pdf", "application/pdf"},
                                        {"minutes.pdf", "application/pdf"}};
        for (const auto& [name, type] : files)
            drive->addItem(typedItem(work.id, QString::fromLatin1(name), QString::fromLatin1(name),
                                     QString::fromLatin1(type)));
        drive->addFiles(other.id, std::nullopt, 2);
        AppModel& app = build();
        app.setHasCompletedOnboarding(true);
        app.setSelection(SidebarItem::home());
        window_ = std::make_unique<MainWindow>(app, quickLook, [](const PreviewTarget&) {});
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }
    void TearDown() override {
        window_.reset();
        AppModelFixture::TearDown();
    }

    /// Clicks the sidebar's row that shows text.
    void choose(const QString& text) {
        auto* list = window_->findChild<QAbstractItemView*>(QStringLiteral("sidebarList"));
        ASSERT_NE(list, nullptr);
        const QAbstractItemModel* rows = list->model();
        for (int row = 0; row < rows->rowCount(); ++row) {
            const QModelIndex index = rows->index(row, 0);
            if (index.data().toString() != text)
                continue;
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(index).center());
            QCoreApplication::processEvents();
            return;
        }
        FAIL() << "no sidebar row " << text.toStdString();
    }
    /// The shown browser's table once it shows rows rows.
    QAbstractItemView* table(int rows) {
        QAbstractItemView* shown = nullptr;
        waitFor([&] {
            auto* pane = qobject_cast<StorageBrowserPane*>(window_->detailWidget());
            shown = pane && pane->content() ? pane->content()->table() : nullptr;
            return shown && shown->isVisible() && shown->model()->rowCount() == rows;
        });
        return shown;
    }
    /// The names of the table's selected rows.
    static QStringList selectedNames(QAbstractItemView* view) {
        QStringList names;
        for (const QModelIndex& index : view->selectionModel()->selectedRows())
            names.append(index.data().toString());
        names.sort();
        return names;
    }
    QToolButton* segment(const QString& name) {
        for (auto* button : window_->findChildren<QToolButton*>(name))
            if (button->isVisible())
                return button;
        return nullptr;
    }

    StorageAccount work;
    StorageAccount other;
    RecordingQuickLook quickLook;
    std::unique_ptr<MainWindow> window_;
};

} // namespace

TEST_F(BrowserStateTest, SelectionAndFilterLastThroughHomeAndSearchUntilAnotherAccount) {
    choose(QStringLiteral("Work"));
    QAbstractItemView* view = table(4);
    ASSERT_NE(view, nullptr);
    ASSERT_NE(segment(QStringLiteral("filterDocuments")), nullptr);
    QTest::mouseClick(segment(QStringLiteral("filterDocuments")), Qt::LeftButton);
    view = table(3);
    ASSERT_NE(view, nullptr);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(1, 0)).center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view->visualRect(view->model()->index(2, 0)).center());
    const QStringList chosen = selectedNames(view);
    ASSERT_EQ(chosen.size(), 2);

    const auto expectKept = [&](const char* after) {
        SCOPED_TRACE(after);
        QAbstractItemView* shown = table(3);
        ASSERT_NE(shown, nullptr) << "the filter still narrows the table to the documents";
        EXPECT_EQ(selectedNames(shown), chosen);
        ASSERT_NE(segment(QStringLiteral("filterDocuments")), nullptr);
        EXPECT_TRUE(segment(QStringLiteral("filterDocuments"))->isChecked());
    };

    // A visit to Home.
    choose(QStringLiteral("Home"));
    EXPECT_EQ(window_->detail(), MainWindow::Detail::home);
    choose(QStringLiteral("Work"));
    expectKept("Home");

    // A search, typed and then cleared.
    auto* field = window_->findChild<QLineEdit*>(QStringLiteral("searchText"));
    ASSERT_NE(field, nullptr);
    QTest::mouseClick(field, Qt::LeftButton);
    QTest::keyClicks(field, QStringLiteral("report"));
    waitFor([&] { return window_->detail() == MainWindow::Detail::search; });
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    waitFor([&] { return window_->detail() == MainWindow::Detail::storage; });
    expectKept("search");

    // Another account, then back: both start afresh.
    choose(QStringLiteral("Other"));
    ASSERT_NE(table(2), nullptr);
    choose(QStringLiteral("Work"));
    view = table(4);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(selectedNames(view).isEmpty());
    EXPECT_TRUE(segment(QStringLiteral("filterAll"))->isChecked());
}

// The folder table's status line before anything is counted, and the context menu opened on a
// row outside the selection.
#include "tests/App/Browser/BrowserFixture.h"

#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;
using State = FolderContentView::State;

namespace {

class FolderTablePointerAndStatusTest : public BrowserFixture {
protected:
    FolderContentView& content() { return *pane->content(); }
    QString status() {
        return child<QLabel>(pane->content(), QStringLiteral("statusText"))->text();
    }
};

} // namespace

TEST_F(FolderTablePointerAndStatusTest, NoCountWhileTheFirstPageLoadsOrFails) {
    start({work});
    drive->addFiles(work.id, std::nullopt, 3);
    auto gate = drive->gateNext(Op::listFolder);
    showPane(work);
    ASSERT_EQ(content().state(), State::spinner);
    EXPECT_EQ(status(), QString()); // not "0 items": nothing is known yet
    gate->release();
    waitLoaded();
    EXPECT_EQ(status(), QStringLiteral("3 items"));

    drive->addItem(folderItem(work.id, QStringLiteral("broken"), QStringLiteral("Broken")));
    drive->failNext(Op::listFolder, StorageError(Code::server));
    model->open(folderItem(work.id, QStringLiteral("broken"), QStringLiteral("Broken")));
    waitLoaded();
    ASSERT_EQ(content().state(), State::error);
    EXPECT_EQ(status(), QString());
}

TEST_F(FolderTablePointerAndStatusTest, ContextMenuOutsideTheSelectionMovesTheHighlight) {
    start({work});
    drive->addFiles(work.id, std::nullopt, 3);
    showPane(work);
    waitLoaded();
    FolderTableView* table = content().table();
    QItemSelectionModel* selection = table->selectionModel();
    selection->select(table->model()->index(0, 0),
                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);

    const QPoint at = rowPoint(2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &event);
    QMenu* menu = nullptr;
    waitFor([&] {
        menu = content().findChild<QMenu*>(QStringLiteral("itemMenu"));
        return menu && menu->isVisible();
    });
    // The menu acts on row 2, and the highlight says so.
    const QModelIndexList rows = selection->selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows.first().row(), 2);
    EXPECT_EQ(content().selection(), QSet<FileRef>{content().tableModel()->item(2).ref});
    menu->close();

    // Inside a selection of two, the menu is the selection's (none for several) and the
    // highlight stays.
    selection->select(table->model()->index(1, 0),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QContextMenuEvent again(QContextMenuEvent::Mouse, at, table->viewport()->mapToGlobal(at));
    QApplication::sendEvent(table->viewport(), &again);
    EXPECT_EQ(selection->selectedRows().size(), 2);
}

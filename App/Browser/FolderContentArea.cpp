#include "App/Browser/FolderContentArea.h"

#include "App/Browser/FolderTableModel.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "StorageCore/Files/FolderListing.h"

#include <QPushButton>

namespace tw {

FolderContentArea::FolderContentArea(QWidget* table, QWidget* parent)
    : QStackedWidget(parent), table_(table) {
    placeholder_ = new ContentUnavailableView(ContentUnavailableView::Shape::pane, this);
    placeholder_->setObjectName(QStringLiteral("folderState"));
    connect(placeholder_, &ContentUnavailableView::recover, this, &FolderContentArea::recover);
    addWidget(placeholder_);
    addWidget(table_);
    placeholder_->showSpinner();
    shown_ = {QStringLiteral("spinner")};
}

FolderContentArea::State FolderContentArea::stateOf(const FolderListing* listing,
                                                    const FolderTableModel& rows) {
    using Kind = FolderListing::Phase::Kind;
    const bool anyLoaded = rows.loadedCount() > 0;
    const Kind phase = listing ? listing->phase().kind : Kind::idle;
    if (phase == Kind::idle || (phase == Kind::loading && !anyLoaded))
        return State::spinner;
    if (phase == Kind::failed && !anyLoaded)
        return State::error;
    if (phase == Kind::loaded && anyLoaded && rows.rowCount() == 0)
        return State::noMatch;
    if (phase == Kind::loaded && !anyLoaded)
        return State::empty;
    return State::table;
}

FolderContentArea::State FolderContentArea::show(const FolderListing* listing,
                                                 const FolderTableModel& rows,
                                                 const StorageAccount& account) {
    const State state = stateOf(listing, rows);
    setCurrentWidget(state == State::table ? table_ : static_cast<QWidget*>(placeholder_));
    // The symbol, title and description, and whether "Load More" is offered.
    QStringList shown;
    bool loadMore = false;
    switch (state) {
    case State::spinner:
        shown = {QStringLiteral("spinner")};
        break;
    case State::error:
        shown = {QStringLiteral("error"), listing->phase().error->presentation().title,
                 listing->phase().error->presentation().message};
        break;
    case State::noMatch: {
        const FileCategory category = *rows.filter();
        loadMore = listing && listing->hasMore();
        shown = {FileCategories::symbolName(category),
                 QStringLiteral("No ") + FileCategories::displayName(category) +
                     QStringLiteral(" Here"),
                 loadMore ? QStringLiteral("Scroll to load more, or choose All.")
                          : QStringLiteral("Choose All to see everything in this folder.")};
        break;
    }
    case State::empty:
        if (ProviderKinds::isWritable(account.provider, listing->folderID()))
            shown = {QStringLiteral("folder"), QStringLiteral("Folder Is Empty"),
                     QStringLiteral("Drag files here to upload them to ") + account.alias +
                         QStringLiteral(".")};
        else
            shown = {QStringLiteral("folder"), QStringLiteral("No Files Here"),
                     QStringLiteral("This chat has no photos, videos, documents or other files.")};
        break;
    case State::table:
        break;
    }
    if (shown == shown_)
        return state;
    shown_ = shown;
    switch (state) {
    case State::spinner:
        placeholder_->showSpinner();
        break;
    case State::error:
        placeholder_->showError(*listing->phase().error);
        break;
    case State::noMatch:
    case State::empty:
        placeholder_->showMessage(shown[0], shown[1], shown[2]);
        break;
    case State::table:
        break;
    }
    if (state == State::noMatch) {
        connect(placeholder_->addButton(QStringLiteral("Show All"), QStringLiteral("stateShowAll")),
                &QPushButton::clicked, this, &FolderContentArea::showAllRequested);
        if (loadMore)
            connect(placeholder_->addButton(QStringLiteral("Load More"),
                                            QStringLiteral("stateLoadMore")),
                    &QPushButton::clicked, this, &FolderContentArea::loadMoreRequested);
    }
    return state;
}

} // namespace tw

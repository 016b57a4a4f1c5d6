#pragma once

#include "App/Preview/PreviewTarget.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Files/FileSearch.h"

#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>

#include <optional>

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QTableView;

namespace tw {

class AppModel;
class ContentUnavailableView;
class QuickLook;
class SearchResultsModel;

/// The detail pane the main window shows while the search field holds a search: the results
/// of every account in scope as one table (or why there are none), and a status bar with the
/// counts, the progress and the first account whose search failed.
///
/// Double-click or Return opens the selected result's preview window; Space shows or hides it
/// in the quick-look panel, which follows the selection while open and closes when the pane
/// goes away. Its name is "searchResults"; children by name: "searchResultsTable",
/// "searchNothingToSearch", "searchNoMatches", "searchSearching", "searchProgress" (the status
/// bar's), "searchStatusText", "searchError", "searchReconnect"; the context actions
/// "searchQuickLook", "searchOpenPreview", "searchDownload", "searchOpenWith",
/// "searchOpenInBrowser".
class SearchResultsView : public QWidget {
    Q_OBJECT
public:
    enum class Content { nothingToSearch, table, noMatches, searching };

    SearchResultsView(AppModel& model, QuickLook& quickLook, OpenPreview openPreview,
                      QWidget* parent = nullptr);
    ~SearchResultsView() override;

    Content content() const { return content_; }
    QTableView* table() const { return table_; }
    SearchResultsModel* resultsModel() const { return results_; }
    /// The selected results.
    QSet<FileRef> selection() const;
    /// The result when refs names exactly one shown result, else none.
    std::optional<FileItem> single(const QSet<FileRef>& refs) const;
    /// The status bar's text.
    QString statusText() const;
    /// "12 files in 3 accounts", or "Searching 3 accounts…" while a search has no result yet.
    static QString statusText(qsizetype accounts, qsizetype files, FileSearch::Phase phase);

    /// Builds the context menu for the rows at a point of the table's viewport (selecting the
    /// row under it first unless it is already selected); none when it would be empty. The
    /// pane owns it until the next one is built.
    QMenu* contextMenu(const QPoint& viewportPos);
    /// Opens (or raises) the preview window of a result.
    void preview(const FileItem& item);
    /// Space on the table: false when the key is not taken.
    bool space();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void selectionMoved();
    void toggleQuickLook(const FileItem& item);
    void saveSelection();
    void restoreSelection();

    AppModel& model_;
    QuickLook& quickLook_;
    OpenPreview openPreview_;
    bool wasSearching_ = false;

    QLabel* subtitle_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    ContentUnavailableView* nothingToSearch_ = nullptr;
    ContentUnavailableView* noMatches_ = nullptr;
    ContentUnavailableView* searching_ = nullptr;
    QTableView* table_ = nullptr;
    SearchResultsModel* results_ = nullptr;
    Content content_ = Content::searching;

    QProgressBar* statusProgress_ = nullptr;
    QLabel* statusText_ = nullptr;
    QLabel* errorDot_ = nullptr;
    QWidget* error_ = nullptr;
    QLabel* errorText_ = nullptr;
    QPushButton* reconnect_ = nullptr;
    std::optional<QUuid> failedAccount_;

    QPointer<QMenu> menu_;

    QList<FileRef> savedSelection_;
};

} // namespace tw

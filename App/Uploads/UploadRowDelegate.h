#pragma once

#include "App/DesignSystem/ControlRowList.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Transfers/UploadJob.h"

#include <QStyledItemDelegate>

#include <functional>

namespace tw {

/// Paints one upload job as a row (file icon with an uploading badge, name, progress bar
/// while active, a caption with the account's dot and the status) with one trailing control,
/// and turns a click on that control into a request. Used by the uploads popover and the
/// smart upload pane's job sections over an UploadJobListModel. On a list it is attached to,
/// the keyboard works the rows too: the focused row has a focus ring and Space (and Return
/// where nothing else takes it) presses its control. On a ControlRowList the control is an
/// accessible button of its row ("Stop uploading a.txt", "Retry a.txt", "Reconnect…").
class UploadRowDelegate : public QStyledItemDelegate, public RowControls {
    Q_OBJECT
public:
    enum class Control { none, stop, retry, reconnect };
    using AccountLookup = std::function<std::optional<StorageAccount>(const QUuid&)>;

    explicit UploadRowDelegate(AccountLookup account, QObject* parent = nullptr);

    /// The status line of a job: "Waiting — …", "2 MB of 5 MB — …", "5 MB — …", "Stopped", or
    /// the failure's title.
    static QString statusText(const UploadJob& job);
    /// The one control a row offers for the job's state. A job that failed for an expired
    /// sign-in offers to reconnect only while its account still needs it (account: the
    /// job's account now, none when it is gone); once signed in again it can be retried.
    static Control control(const UploadJob& job, const std::optional<StorageAccount>& account);
    /// Where the trailing control sits in a row drawn in rowRect.
    static QRect controlRect(const QRect& rowRect, Control control, const QFontMetrics& metrics);

    /// Lets the keyboard press the current row's control in view: Space always, Return and
    /// Enter only when returnPresses (a pane whose default action takes Return says false).
    void attach(QAbstractItemView* view, bool returnPresses);
    /// Presses the control of the job in index's row, as a click would; false without one.
    bool press(const QModelIndex& index);

    QList<RowControls::Control> rowControls(const QAbstractItemView* view,
                                            const QModelIndex& index) const override;
    bool pressRowControl(QAbstractItemView* view, const QModelIndex& index, int control) override;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

Q_SIGNALS:
    void stopRequested(const QUuid& jobID);
    void retryRequested(const QUuid& jobID);
    void reconnectRequested(const QUuid& accountID);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    /// The job a row of the job list shows; null for another model or no row.
    static const UploadJob* jobAt(const QModelIndex& index);
    /// The control of the job's row, for its account as the lookup knows it.
    Control controlOf(const UploadJob& job) const;
    std::optional<StorageAccount> accountOf(const UploadJob& job) const;
    void emitRequest(const UploadJob& job, Control control);

    AccountLookup account_;
    QList<const QObject*> returnViews_;
};

} // namespace tw

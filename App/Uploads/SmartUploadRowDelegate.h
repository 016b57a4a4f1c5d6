#pragma once

#include "App/DesignSystem/ControlRowList.h"
#include "App/Model/ModelTypes.h"
#include "App/Uploads/FolderPickRequest.h"

#include <QStyledItemDelegate>

#include <functional>

class QMenu;

namespace tw {

class AppModel;
struct StorageAccount;

/// Paints one file of the smart-upload batch (type icon, name, size and the reason for its
/// destination, the destination menu's label and the remove button) and turns clicks into
/// requests: the destination menu, built here from the model's accounts, or the removal. On a
/// list it is attached to, the keyboard does the same for the focused row (drawn with a focus
/// ring): Space, the Menu key, Shift+F10 or Alt+Down open the destination menu under its
/// label, Delete or Backspace removes the file. Return is left to the pane (it uploads). On a
/// ControlRowList the destination menu's label and the remove button ("Remove a.pdf") are
/// accessible buttons of their row.
class SmartUploadRowDelegate : public QStyledItemDelegate, public RowControls {
    Q_OBJECT
public:
    enum class Area { none, destination, remove };

    explicit SmartUploadRowDelegate(AppModel& model, QObject* parent = nullptr);

    /// Why the file goes where it goes ("Chosen by you", "Your rule for photos", …).
    static QString reasonText(const SmartUploadItem& item);
    /// The rule item's title: "Always Upload .pdf files Here", "Always Upload photos Here".
    static QString ruleTitle(const LocalFile& file);
    /// Whether the account can take the file now: connected, within its per-file limit and,
    /// when known, its free space.
    static bool fits(const StorageAccount& account, const LocalFile& file);
    /// An account's title under "Upload To": the alias, and for one that cannot take the
    /// file, " — " and why.
    static QString uploadToTitle(const StorageAccount& account, const LocalFile& file);
    /// The label of the destination menu: the destination's name, or "Choose Destination".
    QString destinationLabel(const SmartUploadItem& item) const;
    static QString destinationLabel(const AppModel& model, const SmartUploadItem& item);

    /// Lets the keyboard work the rows of view (see the class comment).
    void attach(QAbstractItemView* view);
    /// Asks for the destination menu of index's row, under its label in view.
    bool requestDestinationMenu(QAbstractItemView* view, const QModelIndex& index);

    QList<RowControls::Control> rowControls(const QAbstractItemView* view,
                                            const QModelIndex& index) const override;
    bool pressRowControl(QAbstractItemView* view, const QModelIndex& index, int control) override;

    /// The destination menu of the item (the caller shows it and deletes it). A folder
    /// request goes to pickFolder.
    QMenu* destinationMenu(const SmartUploadItem& item,
                           const std::function<void(const FolderPickRequest&)>& pickFolder,
                           QWidget* parent) const;

    /// Which control of a row drawn in rowRect is at point.
    Area areaAt(const QRect& rowRect, const SmartUploadItem& item, const QFont& font,
                const QPoint& point) const;
    QRect destinationRect(const QRect& rowRect, const SmartUploadItem& item, const QFont& font) const;
    static QRect removeRect(const QRect& rowRect);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

Q_SIGNALS:
    void destinationMenuRequested(const QUuid& itemID, const QPoint& globalPosition);
    void removeRequested(const QUuid& itemID);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

private:
    /// The file a row of the batch list shows; null for another model or no row.
    static const SmartUploadItem* itemAt(const QModelIndex& index);

    AppModel& model_;
};

} // namespace tw

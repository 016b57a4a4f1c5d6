#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;
class QTableView;
class QLabel;

namespace tw {

class AppModel;

/// The members of an archive listing as table rows: "Name" (type tile and full path), "Size"
/// and "Date Modified". Each row is one member, so members with the same path stay apart.
class ArchiveTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { name, size, modified, columnCount_ };

    explicit ArchiveTableModel(ZipEntries entries, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    ZipEntry entry(int row) const { return entries_.at(row); }

private:
    ZipEntries entries_;
};

/// A ZIP archive's listing: a summary header, the member table, and saving one member to the
/// local disk ("Extract…", left out of the header in the quick-look panel; the rows' context
/// menu offers it in both places).
class ArchiveViewer : public QWidget {
    Q_OBJECT
public:
    /// Asks where to save a member: proposes a name and answers with the chosen file, or
    /// never when the user cancels. Tests replace it.
    using SaveChooser = std::function<void(QWidget* parent, const QString& proposedName,
                                           std::function<void(const QUrl&)> onChosen)>;
    static void setSaveChooser(SaveChooser chooser);

    ArchiveViewer(AppModel& model, const FileItem& item, const ArchiveListing& listing,
                  PreviewLoader* loader, bool compact, QWidget* parent = nullptr);

    /// "ZIP archive · 1 file" or "ZIP archive · <n> files".
    static QString summary(const ArchiveListing& listing);
    /// The name proposed when saving a member: its last path component made safe by the one
    /// rule for names from elsewhere (LocalFileName::safe); "Untitled" when nothing usable is
    /// left.
    static QString proposedName(const ZipEntry& entry);

    /// The one selected member; none when nothing or several are selected.
    std::optional<ZipEntry> selectedEntry() const;
    /// Saves the selected member where the user says (nothing for a member that cannot be
    /// extracted); an answer that is no file name inside a folder is refused with the model's
    /// alert, a failure goes to the model's error report.
    void extractSelected();
    /// The row's context menu: "Extract…" for one member, nothing for several.
    QList<QAction*> contextActions(const QList<int>& rows);

    QTableView* table() const { return table_; }
    QPushButton* extractButton() const { return extract_; }

Q_SIGNALS:
    /// An extraction ended (ok: the member was written).
    void extractionFinished(bool ok);

private:
    void updateExtractButton();
    void showContextMenu(const QPoint& position);

    AppModel& model_;
    FileItem item_;
    ArchiveListing listing_;
    QPointer<PreviewLoader> loader_;
    ArchiveTableModel* tableModel_;
    QTableView* table_;
    QPushButton* extract_ = nullptr;
};

} // namespace tw

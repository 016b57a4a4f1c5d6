#include "App/Preview/ArchiveViewer.h"

#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Files/LocalFileName.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace tw {

namespace {

ArchiveViewer::SaveChooser& saveChooser() {
    static ArchiveViewer::SaveChooser chooser = [](QWidget* parent, const QString& proposedName,
                                                   std::function<void(const QUrl&)> onChosen) {
        auto* dialog =
            new QFileDialog(parent ? parent->window() : nullptr, QStringLiteral("Extract"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        dialog->setDirectory(downloads.isEmpty() ? QDir::homePath() : downloads);
        dialog->selectFile(proposedName);
        QObject::connect(dialog, &QFileDialog::accepted, dialog, [dialog, onChosen] {
            const QList<QUrl> urls = dialog->selectedUrls();
            if (!urls.isEmpty())
                onChosen(urls.first());
        });
        dialog->open();
    };
    return chooser;
}

FileKind memberKind(const ZipEntry& entry) {
    return entry.isDirectory() ? FileKind::folder : FileKinds::classify(QString(), entry.name());
}

} // namespace

// ---- ArchiveTableModel ---------------------------------------------------------------------

ArchiveTableModel::ArchiveTableModel(ZipEntries entries, QObject* parent)
    : QAbstractTableModel(parent), entries_(std::move(entries)) {}

int ArchiveTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(entries_.size());
}

int ArchiveTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columnCount_;
}

QVariant ArchiveTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= entries_.size())
        return {};
    const ZipEntry entry = entries_.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        switch (index.column()) {
        case name:
            return entry.path;
        case size:
            return entry.isDirectory() ? QStringLiteral("--")
                                       : Format::byteCount(entry.uncompressedSize);
        case modified:
            return Format::modified(entry.modifiedAt);
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (index.column() == name)
            return FileIcons::tile(memberKind(entry), FileKinds::pathExtension(entry.name()));
        return {};
    case Qt::ForegroundRole:
        if (index.column() != name)
            return QApplication::palette().brush(QPalette::PlaceholderText);
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == size)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::UserRole:
        return entry.id();
    default:
        return {};
    }
}

QVariant ArchiveTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case name:
        return QStringLiteral("Name");
    case size:
        return QStringLiteral("Size");
    case modified:
        return QStringLiteral("Date Modified");
    default:
        return {};
    }
}

// ---- ArchiveViewer -------------------------------------------------------------------------

void ArchiveViewer::setSaveChooser(SaveChooser chooser) {
    saveChooser() = std::move(chooser);
}

QString ArchiveViewer::summary(const ArchiveListing& listing) {
    const int files = listing.fileCount();
    return files == 1 ? QStringLiteral("ZIP archive \u00b7 1 file")
                      : QStringLiteral("ZIP archive \u00b7 %1 files").arg(files);
}

QString ArchiveViewer::proposedName(const ZipEntry& entry) {
    // The one rule for names from elsewhere: a member name never names a folder here.
    return LocalFileName::safe(entry.path);
}

ArchiveViewer::ArchiveViewer(AppModel& model, const FileItem& item, const ArchiveListing& listing,
                             PreviewLoader* loader, bool compact, QWidget* parent)
    : QWidget(parent), model_(model), item_(item), listing_(listing), loader_(loader),
      tableModel_(new ArchiveTableModel(listing.entries, this)), table_(new QTableView(this)) {
    setObjectName(QStringLiteral("archiveViewer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 12);
    header->setSpacing(10);
    header->addWidget(makeTile(item, 32, this), 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = new QLabel(summary(listing), this);
    title->setObjectName(QStringLiteral("archiveSummary"));
    title->setTextFormat(Qt::PlainText);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    texts->addWidget(title);
    auto* sizes =
        new QLabel(Format::byteCount(listing.archiveSize) + QStringLiteral(" compressed \u00b7 ") +
                       Format::byteCount(listing.uncompressedSize()) + QStringLiteral(" expanded"),
                   this);
    sizes->setObjectName(QStringLiteral("archiveSizes"));
    sizes->setTextFormat(Qt::PlainText);
    QFont caption = sizes->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.88);
    sizes->setFont(caption);
    sizes->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(sizes);
    header->addLayout(texts);
    header->addStretch(1);
    if (!compact) {
        extract_ = new QPushButton(QStringLiteral("Extract\u2026"), this);
        extract_->setObjectName(QStringLiteral("archiveExtract"));
        extract_->setAccessibleName(QStringLiteral("Extract\u2026"));
        extract_->setToolTip(QStringLiteral("Save the selected file to this computer"));
        connect(extract_, &QPushButton::clicked, this, &ArchiveViewer::extractSelected);
        header->addWidget(extract_, 0, Qt::AlignVCenter);
    }
    layout->addLayout(header);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    layout->addWidget(divider);

    table_->setObjectName(QStringLiteral("archiveTable"));
    table_->setModel(tableModel_);
    table_->setFrameShape(QFrame::NoFrame);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTextElideMode(Qt::ElideMiddle);
    table_->setShowGrid(false);
    table_->setAlternatingRowColors(true);
    table_->setWordWrap(false);
    table_->setIconSize(QSize(16, 16));
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 8);
    table_->horizontalHeader()->setSectionResizeMode(ArchiveTableModel::name, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(ArchiveTableModel::size,
                                                     QHeaderView::Interactive);
    table_->horizontalHeader()->setSectionResizeMode(ArchiveTableModel::modified,
                                                     QHeaderView::Interactive);
    table_->horizontalHeader()->setMinimumSectionSize(60);
    table_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table_->setColumnWidth(ArchiveTableModel::size, 80);
    table_->setColumnWidth(ArchiveTableModel::modified, 170);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table_, &QWidget::customContextMenuRequested, this, &ArchiveViewer::showContextMenu);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ArchiveViewer::updateExtractButton);
    layout->addWidget(table_, 1);
    updateExtractButton();
}

std::optional<ZipEntry> ArchiveViewer::selectedEntry() const {
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    if (rows.size() != 1)
        return std::nullopt;
    return tableModel_->entry(rows.first().row());
}

void ArchiveViewer::updateExtractButton() {
    if (!extract_)
        return;
    const std::optional<ZipEntry> entry = selectedEntry();
    extract_->setEnabled(entry && entry->canExtract());
}

void ArchiveViewer::extractSelected() {
    const std::optional<ZipEntry> entry = selectedEntry();
    if (!entry || !entry->canExtract())
        return;
    QPointer<ArchiveViewer> self(this);
    QPointer<AppModel> model(&model_);
    QPointer<PreviewLoader> loader = loader_;
    const ZipEntry member = *entry;
    const QUuid accountID = item_.ref.accountID;
    saveChooser()(this, proposedName(member),
                  [self, model, loader, member, accountID](const QUrl& url) {
                      if (!model || !loader)
                          return;
                      // Only a file name inside a folder; anything else is refused aloud.
                      const std::optional<QString> target = model->checkedSaveTarget(url);
                      if (!target)
                          return;
                      // The extraction runs on, and reports, even when the preview goes away.
                      loader->extract(
                          member, QUrl::fromLocalFile(*target),
                          [self, model, accountID](TaskResult<std::monostate> result) {
                              if (!result.ok() && model)
                                  model->report(result.error(), accountID);
                              if (self)
                                  Q_EMIT self->extractionFinished(result.ok());
                          },
                          model);
                  });
}

QList<QAction*> ArchiveViewer::contextActions(const QList<int>& rows) {
    QList<QAction*> actions;
    if (rows.size() != 1)
        return actions;
    const int row = rows.first();
    auto* extract = new QAction(QStringLiteral("Extract\u2026"), this);
    extract->setObjectName(QStringLiteral("archiveExtractMenu"));
    connect(extract, &QAction::triggered, this, [this, row] {
        table_->selectionModel()->select(tableModel_->index(row, 0),
                                         QItemSelectionModel::ClearAndSelect |
                                             QItemSelectionModel::Rows);
        extractSelected();
    });
    actions.append(extract);
    return actions;
}

void ArchiveViewer::showContextMenu(const QPoint& position) {
    const QModelIndex clicked = table_->indexAt(position);
    if (!clicked.isValid())
        return;
    QList<int> rows;
    if (table_->selectionModel()->isRowSelected(clicked.row(), {})) {
        for (const QModelIndex& index : table_->selectionModel()->selectedRows())
            rows.append(index.row());
    } else {
        rows.append(clicked.row());
    }
    const QList<QAction*> actions = contextActions(rows);
    if (actions.isEmpty())
        return;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* action : actions) {
        action->setParent(menu);
        menu->addAction(action);
    }
    menu->popup(table_->viewport()->mapToGlobal(position));
}

} // namespace tw

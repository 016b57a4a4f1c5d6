#include "App/Model/QtPanels.h"

#include "App/DesignSystem/BusyIndicator.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/Model/ApplicationLauncher.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace tw {

namespace {

QWidget* activeWindow() { return QApplication::activeWindow(); }

/// Chooses an application for a file: the recommended ones, or every one. The desktop's
/// registry is read on a worker (it loads GIO the first time and reads every desktop entry);
/// meanwhile the list waits beside a busy indicator, and a newer request replaces an older.
class OpenWithDialog : public QDialog {
public:
    OpenWithDialog(std::shared_ptr<ApplicationLauncher> launcher, const QString& mimeType,
                   const QString& message, QWidget* parent)
        : QDialog(parent), launcher_(std::move(launcher)), mimeType_(mimeType) {
        setObjectName(QStringLiteral("openWithDialog"));
        setWindowTitle(QStringLiteral("Open With"));
        setWindowModality(Qt::WindowModal);
        resize(420, 420);
        auto* layout = new QVBoxLayout(this);
        auto* label = new QLabel(message, this);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        layout->addWidget(label);
        list_ = new QListWidget(this);
        list_->setObjectName(QStringLiteral("openWithList"));
        list_->setIconSize(QSize(24, 24));
        layout->addWidget(list_, 1);
        auto* row = new QHBoxLayout;
        showAll_ = new QCheckBox(QStringLiteral("Show all applications"), this);
        showAll_->setObjectName(QStringLiteral("openWithShowAll"));
        row->addWidget(showAll_);
        row->addStretch(1);
        busy_ = new BusyIndicator(16, this);
        busy_->setObjectName(QStringLiteral("openWithBusy"));
        row->addWidget(busy_);
        layout->addLayout(row);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
        open_ = buttons->button(QDialogButtonBox::Open);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
        connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { open_->setEnabled(row >= 0); });
        connect(showAll_, &QCheckBox::toggled, this, &OpenWithDialog::fill);
        fill(false);
    }

    ~OpenWithDialog() override { request_.cancel(); }

    QString chosen() const {
        const QListWidgetItem* item = list_->currentItem();
        return item ? item->data(Qt::UserRole).toString() : QString();
    }

private:
    void fill(bool all) {
        request_.cancel();
        list_->clear();
        list_->setEnabled(false);
        open_->setEnabled(false);
        busy_->show();
        const int generation = ++generation_;
        request_ = runTask(
            this,
            [launcher = launcher_, mimeType = mimeType_, all] {
                return all ? launcher->all() : launcher->recommended(mimeType);
            },
            [this, all, generation](TaskResult<QList<ApplicationInfo>> result) {
                if (generation != generation_)
                    return;
                showApplications(all, result.ok() ? result.value() : QList<ApplicationInfo>());
            });
    }

    void showApplications(bool all, const QList<ApplicationInfo>& apps) {
        if (apps.isEmpty() && !all) {
            showAll_->setChecked(true); // nothing registered for the type: offer everything
            return;
        }
        busy_->hide();
        list_->setEnabled(true);
        for (const ApplicationInfo& app : apps) {
            auto* item = new QListWidgetItem(QIcon::fromTheme(app.iconName), app.name, list_);
            item->setData(Qt::UserRole, app.id);
        }
        list_->setCurrentRow(list_->count() > 0 ? 0 : -1);
        open_->setEnabled(list_->count() > 0);
    }

    std::shared_ptr<ApplicationLauncher> launcher_;
    QString mimeType_;
    QListWidget* list_;
    QCheckBox* showAll_;
    BusyIndicator* busy_;
    QPushButton* open_;
    TaskHandle request_;
    int generation_ = 0;
};

} // namespace

QtPanels::QtPanels(std::shared_ptr<ApplicationLauncher> launcher)
    : launcher_(launcher ? std::move(launcher) : std::make_shared<DesktopApplicationLauncher>()) {}

void QtPanels::chooseFiles(const QString& prompt, const QString& message,
                           std::function<void(const QList<QUrl>&)> onChosen) {
    auto* dialog = new QFileDialog(activeWindow(), DisplayText::windowTitle(message));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setDirectory(QDir::homePath());
    QObject::connect(dialog, &QFileDialog::accepted, dialog,
                     [dialog, onChosen] { onChosen(dialog->selectedUrls()); });
    dialog->open();
}

void QtPanels::chooseSaveLocation(const QString& proposedName, std::function<void(const QUrl&)> onChosen) {
    auto* dialog = new QFileDialog(activeWindow(), QStringLiteral("Save a Copy"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    dialog->setDirectory(downloads.isEmpty() ? QDir::homePath() : downloads);
    dialog->selectFile(proposedName);
    QObject::connect(dialog, &QFileDialog::accepted, dialog, [dialog, onChosen] {
        const QList<QUrl> urls = dialog->selectedUrls();
        if (!urls.isEmpty())
            onChosen(urls.first());
    });
    dialog->open();
}

void QtPanels::chooseApplication(const FileItem& item, const QString& message,
                                 std::function<void(const QString&)> onChosen) {
    auto* dialog = new OpenWithDialog(launcher_, item.mimeType, message, activeWindow());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, dialog, [dialog, onChosen] {
        const QString id = dialog->chosen();
        if (!id.isEmpty())
            onChosen(id);
    });
    dialog->open();
}

} // namespace tw

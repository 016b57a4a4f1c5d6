#include "App/Preview/QuickLookPanel.h"

#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/Format.h"
#include "App/Model/AppModel.h"
#include "App/Preview/PreviewContentView.h"
#include "App/Preview/PreviewWindow.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Persistence/SettingsStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

Q_LOGGING_CATEGORY(lcQuickLook, "QuickLook")

namespace {
const QString autosaveName = QStringLiteral("QuickLookPanel");
}

// ---- QuickLookView -------------------------------------------------------------------------

QString QuickLookView::detail(AppModel& model, const FileItem& item) {
    QStringList parts;
    if (item.sizeBytes)
        parts.append(Format::byteCount(*item.sizeBytes));
    parts.append(Format::modified(item.modifiedAt));
    if (const std::optional<StorageAccount> account = model.accounts()->account(item.ref.accountID))
        parts.append(account->alias);
    return parts.join(QStringLiteral(" \u00b7 "));
}

QuickLookView::QuickLookView(AppModel& model, const FileItem& item, std::function<void()> openFull,
                             QWidget* parent)
    : QWidget(parent), item_(item) {
    setObjectName(QStringLiteral("quickLookView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    content_ = new PreviewContentView(model, model.previewLoader(item), PreviewMode::compact,
                                      nullptr, nullptr, this);
    layout->addWidget(content_, 1);
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setForegroundRole(QPalette::Mid);
    layout->addWidget(divider);

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(12, 8, 12, 8);
    footer->setSpacing(8);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto* name = new ElidedLabel(item.name, Qt::ElideMiddle, this);
    name->setObjectName(QStringLiteral("quickLookFooterName"));
    texts->addWidget(name);
    auto* detailLabel = new QLabel(detail(model, item), this);
    detailLabel->setObjectName(QStringLiteral("quickLookFooterDetail"));
    detailLabel->setTextFormat(Qt::PlainText);
    detailLabel->setForegroundRole(QPalette::PlaceholderText);
    QFont caption = detailLabel->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.88);
    detailLabel->setFont(caption);
    texts->addWidget(detailLabel);
    footer->addLayout(texts, 1);
    auto* download = new QPushButton(QStringLiteral("Download\u2026"), this);
    download->setObjectName(QStringLiteral("quickLookDownload"));
    download->setAccessibleName(download->text());
    QPointer<AppModel> owner(&model);
    connect(download, &QPushButton::clicked, this, [owner, item] {
        if (owner)
            owner->saveCopy(item);
    });
    footer->addWidget(download);
    auto* open = new QPushButton(QStringLiteral("Open Preview"), this);
    open->setObjectName(QStringLiteral("quickLookOpenPreview"));
    open->setAccessibleName(open->text());
    open->setToolTip(QStringLiteral("Open in a full preview window"));
    connect(open, &QPushButton::clicked, this, [openFull = std::move(openFull)] { openFull(); });
    footer->addWidget(open);
    layout->addLayout(footer);
}

// ---- the panel window ----------------------------------------------------------------------

class QuickLookPanel::Window : public QWidget {
public:
    explicit Window(QuickLookPanel& owner)
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                               Qt::WindowCloseButtonHint | Qt::WindowDoesNotAcceptFocus),
          owner_(owner), host(new QVBoxLayout(this)) {
        setObjectName(QStringLiteral("quickLookPanel"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_DeleteOnClose, false);
        host->setContentsMargins(0, 0, 0, 0);
    }

    QuickLookPanel& owner_;
    QVBoxLayout* host;

protected:
    void closeEvent(QCloseEvent* event) override {
        owner_.userClosed();
        QWidget::closeEvent(event);
    }
    void moveEvent(QMoveEvent* event) override {
        QWidget::moveEvent(event);
        if (isVisible())
            owner_.saveFrame();
    }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        if (isVisible())
            owner_.saveFrame();
    }
    void hideEvent(QHideEvent* event) override {
        owner_.saveFrame();
        QWidget::hideEvent(event);
    }
};

// ---- QuickLookPanel ------------------------------------------------------------------------

QuickLookPanel& QuickLookPanel::shared(const std::shared_ptr<SettingsStore>& settings) {
    // Owned by the application object, so it goes before the application does.
    static QPointer<QuickLookPanel> instance;
    if (!instance)
        instance = new QuickLookPanel(settings, qApp);
    return *instance;
}

QuickLookPanel::QuickLookPanel(std::shared_ptr<SettingsStore> settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    Q_ASSERT(settings_);
    // Whenever the application stops being the active one, the panel is put away.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state != Qt::ApplicationActive)
                    close();
            });
}

QuickLookPanel::~QuickLookPanel() {
    delete panel_.data();
}

QWidget* QuickLookPanel::panel() const {
    return panel_;
}

bool QuickLookPanel::isPanelVisible() const {
    return panel_ && panel_->isVisible();
}

void QuickLookPanel::makePanel() {
    panel_ = new Window(*this);
    panel_->setMinimumSize(minimumContentSize);
    panel_->resize(contentSize);
    const QByteArray frame = settings_->value(autosaveName).toByteArray();
    if (!frame.isEmpty())
        panel_->restoreGeometry(frame);
}

void QuickLookPanel::saveFrame() {
    if (panel_)
        settings_->setValue(autosaveName, panel_->saveGeometry());
}

QWidget* QuickLookPanel::mainWindow() {
    if (auto* active = qobject_cast<QMainWindow*>(QApplication::activeWindow());
        active && !qobject_cast<PreviewWindow*>(active))
        return active;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMainWindow*>(top) && !qobject_cast<PreviewWindow*>(top) &&
            top->isVisible())
            return top;
    }
    return nullptr;
}

void QuickLookPanel::show(const FileItem& item, AppModel& model, OpenFull openFull) {
    item_ = item;
    if (!panel_)
        makePanel();
    delete view_.data();
    QPointer<QuickLookPanel> self(this);
    view_ = new QuickLookView(
        model, item,
        [self, item, openFull] {
            if (self)
                self->close();
            if (openFull)
                openFull(item);
        },
        panel_);
    panel_->host->addWidget(view_);
    panel_->setWindowTitle(DisplayText::windowTitle(item.name));
    if (!panel_->isVisible()) {
        if (panel_->width() < smallestKeptSize.width() ||
            panel_->height() < smallestKeptSize.height())
            panel_->resize(contentSize);
        if (QWidget* main = mainWindow()) {
            const QRect frame = main->frameGeometry();
            panel_->move(frame.center().x() - panel_->frameGeometry().width() / 2,
                         frame.center().y() - panel_->frameGeometry().height() / 2);
        }
        panel_->show();
        panel_->raise();
    }
    const QRect frame = panel_->frameGeometry();
    qCInfo(lcQuickLook, "Quick Look shown: visible %d, frame %s", int(panel_->isVisible()),
           qPrintable(QStringLiteral("{{%1, %2}, {%3, %4}}")
                          .arg(frame.x())
                          .arg(frame.y())
                          .arg(frame.width())
                          .arg(frame.height())));
}

void QuickLookPanel::follow(const std::optional<FileItem>& item, AppModel& model,
                            OpenFull openFull) {
    if (!isPanelVisible() || !item || item->isFolder())
        return;
    if (item_ && item_->ref == item->ref)
        return;
    show(*item, model, std::move(openFull));
}

void QuickLookPanel::close() {
    // The preview goes at once, not when the panel is next shown.
    delete view_.data();
    if (panel_)
        panel_->hide();
    item_.reset();
}

void QuickLookPanel::userClosed() {
    delete view_.data();
    item_.reset();
}

} // namespace tw

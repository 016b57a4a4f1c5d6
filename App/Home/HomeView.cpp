#include "App/Home/HomeView.h"

#include "App/DesignSystem/AccountIcon.h"
#include "App/DesignSystem/CombinedUsageBar.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/FlowLayout.h"
#include "App/DesignSystem/Format.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/UsageMeter.h"
#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Activity/ActivityLog.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>

namespace tw {

namespace {

constexpr int recentActivityCount = 8;

QLabel* secondary(QLabel* label) {
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}


/// A rounded card in the base colour, as the sections of a grouped form are drawn.
class Card : public QWidget {
public:
    explicit Card(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor border = palette().color(QPalette::WindowText);
        border.setAlphaF(0.12);
        painter.setPen(QPen(border, 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

/// A section of the form: an optional header above a card; rows go into the returned layout.
QVBoxLayout* addSection(QVBoxLayout* form, const QString& header, QWidget* parent) {
    if (!header.isEmpty()) {
        auto* title = DisplayText::label(header, parent);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        title->setContentsMargins(4, 8, 0, 0);
        form->addWidget(title);
    }
    auto* card = new Card(parent);
    auto* body = new QVBoxLayout(card);
    body->setContentsMargins(14, 10, 14, 10);
    body->setSpacing(8);
    form->addWidget(card);
    return body;
}

void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        else if (QLayout* inner = item->layout())
            clearLayout(inner);
        delete item;
    }
}

} // namespace

/// One account's row: avatar, alias over service and e-mail, and its state at the end.
class StorageRow : public QWidget {
public:
    StorageRow(AppModel& model, const StorageAccount& account, QWidget* parent)
        : QWidget(parent), model_(model), id_(account.id) {
        setObjectName(QStringLiteral("storageRow"));
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 2, 0, 2);
        row->setSpacing(10);
        icon_ = new AccountIcon(account, 24, this);
        row->addWidget(icon_);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        alias_ = new ElidedLabel(QString(), Qt::ElideRight, this);
        alias_->setObjectName(QStringLiteral("storageRowAlias"));
        detail_ = new ElidedLabel(QString(), Qt::ElideMiddle, this);
        detail_->setObjectName(QStringLiteral("storageRowDetail"));
        detail_->setForegroundRole(QPalette::PlaceholderText);
        texts->addWidget(alias_);
        texts->addWidget(detail_);
        row->addLayout(texts, 1);

        spinner_ = new QProgressBar(this);
        spinner_->setObjectName(QStringLiteral("storageRowSpinner"));
        spinner_->setRange(0, 0);
        spinner_->setTextVisible(false);
        spinner_->setFixedSize(28, 6);
        row->addWidget(spinner_);
        status_ = secondary(DisplayText::label(QString(), this));
        status_->setObjectName(QStringLiteral("storageRowStatus"));
        row->addWidget(status_);
        auto* usage = new QVBoxLayout;
        usage->setSpacing(4);
        usageText_ = secondary(DisplayText::label(QString(), this));
        usageText_->setObjectName(QStringLiteral("storageRowUsage"));
        usageText_->setAlignment(Qt::AlignRight);
        meter_ = new UsageMeter(this);
        meter_->setFixedWidth(140);
        usage->addWidget(usageText_, 0, Qt::AlignRight);
        usage->addWidget(meter_, 0, Qt::AlignRight);
        usageBox_ = new QWidget(this);
        usageBox_->setLayout(usage);
        usage->setContentsMargins(0, 0, 0, 0);
        row->addWidget(usageBox_);
        button_ = new QPushButton(this);
        button_->setObjectName(QStringLiteral("storageRowButton"));
        row->addWidget(button_);
        connect(button_, &QPushButton::clicked, this, [this] {
            if (reauth_)
                model_.reconnect(id_);
            else
                model_.setSelection(SidebarItem::storage(id_));
        });
        set(account, false);
    }

    void set(const StorageAccount& account, bool refreshing) {
        icon_->setAccount(account);
        alias_->setText(account.alias);
        detail_->setText(ProviderKinds::displayName(account.provider) + QStringLiteral(" \u00b7 ") +
                         account.email);
        reauth_ = account.status == StorageAccount::Status::reauthRequired;
        const bool telegram = account.provider == ProviderKind::telegram;
        QString value;
        if (reauth_) {
            status_->setText(QStringLiteral("Sign-in expired"));
            value = status_->text();
        } else if (telegram) {
            status_->setText(QStringLiteral("\u221e No storage limit"));
            value = QStringLiteral("No storage limit");
        } else {
            usageText_->setText(Format::usage(account.quota));
            meter_->setQuota(account.quota, DS::AccountPalette::color(account.colorIndex));
            value = usageText_->text();
        }
        status_->setVisible(reauth_ || telegram);
        usageBox_->setVisible(!reauth_ && !telegram);
        spinner_->setVisible(!reauth_ && !telegram && refreshing);
        const QString title = reauth_ ? QStringLiteral("Reconnect\u2026") : QStringLiteral("Open");
        button_->setText(title);
        button_->setAccessibleName(title + QStringLiteral(" ") + account.alias);
        setAccessibleName(account.alias + QStringLiteral(", ") + account.email);
        setAccessibleDescription(value);
    }

private:
    AppModel& model_;
    QUuid id_;
    AccountIcon* icon_;
    ElidedLabel* alias_;
    ElidedLabel* detail_;
    QProgressBar* spinner_;
    QLabel* status_;
    QWidget* usageBox_;
    QLabel* usageText_;
    UsageMeter* meter_;
    QPushButton* button_;
    bool reauth_ = false;
};

QString HomeView::totalText(const std::optional<StorageQuota>& total) {
    if (!total)
        return QStringLiteral("Usage unavailable");
    const QString used = Format::byteCount(total->usedBytes);
    if (!total->limitBytes)
        return used + QStringLiteral(" used");
    return used + QStringLiteral(" of ") + Format::byteCount(*total->limitBytes) +
           QStringLiteral(" used");
}

QString HomeView::storageCount(qsizetype count) {
    return count == 1 ? QStringLiteral("1 Storage") : QString::number(count) + QStringLiteral(" Storages");
}

HomeView::HomeView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("homeView"));
    setAccessibleName(QStringLiteral("Home"));
    stack_ = new QStackedLayout(this);
    // The invitation to connect (empty_) is built when there is no account to show.

    auto* scroll = new QScrollArea(this);
    overview_ = scroll;
    scroll->setObjectName(QStringLiteral("homeForm"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    form_ = new QWidget(scroll);
    auto* form = new QVBoxLayout(form_);
    form->setContentsMargins(24, 16, 24, 24);
    form->setSpacing(8);

    // Overview (no header).
    auto* header = new QHBoxLayout;
    auto* title = DisplayText::label(QStringLiteral("Home"), form_);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);
    header->addWidget(title);
    header->addStretch(1);
    refreshButton_ = new QToolButton(form_);
    refreshButton_->setObjectName(QStringLiteral("homeRefresh"));
    refreshButton_->setIcon(SymbolIcons::icon(QStringLiteral("arrow.clockwise")));
    refreshButton_->setToolTip(QStringLiteral("Refresh"));
    refreshButton_->setAccessibleName(QStringLiteral("Refresh"));
    refreshButton_->setAutoRaise(true);
    header->addWidget(refreshButton_);
    form->addLayout(header);
    auto* refreshAction = new QAction(QStringLiteral("Refresh"), this);
    refreshAction->setShortcut(QKeySequence::Refresh);
    refreshAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(refreshAction);
    connect(refreshAction, &QAction::triggered, this, &HomeView::refresh);
    connect(refreshButton_, &QToolButton::clicked, this, &HomeView::refresh);

    QVBoxLayout* overview = addSection(form, QString(), form_);
    overview->setSpacing(10);
    auto* countRow = new QHBoxLayout;
    count_ = DisplayText::label(QString(), form_);
    count_->setObjectName(QStringLiteral("homeStorageCount"));
    QFont headline = count_->font();
    headline.setBold(true);
    count_->setFont(headline);
    total_ = secondary(DisplayText::label(QString(), form_));
    total_->setObjectName(QStringLiteral("homeTotal"));
    countRow->addWidget(count_);
    countRow->addStretch(1);
    countRow->addWidget(total_);
    overview->addLayout(countRow);
    bar_ = new CombinedUsageBar(form_);
    overview->addWidget(bar_);
    // The legend's entries wrap onto more lines rather than widen the pane; the available
    // amount stays at the end of the first line.
    legend_ = new QWidget(form_);
    legend_->setObjectName(QStringLiteral("homeLegend"));
    auto* legendRow = new QHBoxLayout(legend_);
    legendRow->setContentsMargins(0, 0, 0, 0);
    legendRow->setSpacing(16);
    legendEntries_ = new QWidget(legend_);
    legendEntries_->setObjectName(QStringLiteral("homeLegendEntries"));
    QSizePolicy entriesPolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    entriesPolicy.setHeightForWidth(true);
    legendEntries_->setSizePolicy(entriesPolicy);
    new FlowLayout(legendEntries_);
    legendRow->addWidget(legendEntries_, 1, Qt::AlignTop);
    available_ = secondary(DisplayText::label(QString(), legend_));
    available_->setObjectName(QStringLiteral("homeAvailable"));
    QFont availableFont = available_->font();
    availableFont.setPointSizeF(availableFont.pointSizeF() * 0.9);
    available_->setFont(availableFont);
    legendRow->addWidget(available_, 0, Qt::AlignTop);
    overview->addWidget(legend_);

    rows_ = addSection(form, QStringLiteral("Storage"), form_);
    activity_ = addSection(form, QStringLiteral("Recent Activity"), form_);
    form->addStretch(1);
    scroll->setWidget(form_);
    stack_->addWidget(scroll);

    AccountManager* accounts = model_.accounts();
    connect(accounts, &AccountManager::accountsChanged, this, [this] { scheduleUpdate(accountsPart); });
    connect(accounts, &AccountManager::refreshingQuotaChanged, this,
            [this] { scheduleUpdate(accountsPart); });
    connect(model_.activity(), &ActivityLog::eventsChanged, this,
            [this] { scheduleUpdate(activityPart); });
    apply();
}

void HomeView::refresh() {
    if (refreshing_)
        return;
    refreshing_ = true;
    refreshButton_->setEnabled(false);
    QPointer<HomeView> self(this);
    model_.accounts()->refreshAllQuotas([self] {
        if (!self)
            return;
        self->refreshing_ = false;
        self->refreshButton_->setEnabled(true);
    });
}

void HomeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (dirty_ != 0)
        apply();
}

void HomeView::scheduleUpdate(int parts) {
    dirty_ |= parts;
    if (updatePending_)
        return;
    updatePending_ = true;
    QTimer::singleShot(0, this, [this] {
        updatePending_ = false;
        // A hidden pane catches up when it is shown again.
        if (isVisible())
            apply();
    });
}

void HomeView::showEmpty() {
    if (!empty_) {
        empty_ = new ContentUnavailableView(
            QStringLiteral("externaldrive"), QStringLiteral("No Storage Connected"),
            QStringLiteral("Connect a Google Drive or Telegram account to see its storage here."),
            this);
        empty_->setObjectName(QStringLiteral("homeEmpty"));
        connect(empty_->addButton(QStringLiteral("Connect Google Drive\u2026"),
                                  QStringLiteral("homeConnectGoogle")),
                &QPushButton::clicked, this,
                [this] { model_.connectAccount(ProviderKind::googleDrive); });
        connect(empty_->addButton(QStringLiteral("Connect Telegram\u2026"),
                                  QStringLiteral("homeConnectTelegram")),
                &QPushButton::clicked, this,
                [this] { model_.connectAccount(ProviderKind::telegram); });
        stack_->addWidget(empty_);
    }
    stack_->setCurrentWidget(empty_);
}

void HomeView::apply() {
    const int parts = dirty_;
    const QList<StorageAccount>& accounts = model_.accounts()->accounts();
    if (accounts.isEmpty()) {
        showEmpty();
        return; // the form catches up when the first account arrives
    }
    stack_->setCurrentWidget(overview_);
    dirty_ = 0;
    if (parts & accountsPart) {
        applyOverview(accounts);
        applyRows(accounts);
    }
    if (parts & activityPart)
        applyActivity();
}

void HomeView::applyOverview(const QList<StorageAccount>& accounts) {
    QList<StorageAccount> drives;
    for (const StorageAccount& account : accounts)
        if (account.provider != ProviderKind::telegram)
            drives.append(account);
    const std::optional<StorageQuota> total = model_.accounts()->totalQuota();
    count_->setText(storageCount(accounts.size()));
    total_->setText(totalText(total));
    const std::optional<qint64> limit = total ? total->limitBytes : std::nullopt;
    bar_->setAccounts(drives, limit);

    // The legend's entries change only with the accounts' names and colours; the available
    // amount is updated in place.
    QStringList key;
    for (const StorageAccount& account : drives)
        key << account.alias << QString::number(account.colorIndex);
    QLayout* legend = legendEntries_->layout();
    if (key != legendKey_ || legend->count() == 0) {
        legendKey_ = key;
        clearLayout(legend);
        for (const StorageAccount& account : drives) {
            auto* entry = new QWidget(legendEntries_);
            auto* entryRow = new QHBoxLayout(entry);
            entryRow->setContentsMargins(0, 0, 0, 0);
            entryRow->setSpacing(5);
            auto* dot = new QLabel(entry);
            QPixmap pixmap(8 * devicePixelRatio(), 8 * devicePixelRatio());
            pixmap.setDevicePixelRatio(devicePixelRatio());
            pixmap.fill(Qt::transparent);
            {
                QPainter painter(&pixmap);
                AccountDot::paint(&painter, QRect(0, 0, 8, 8), account);
            }
            dot->setPixmap(pixmap);
            entryRow->addWidget(dot);
            auto* alias = secondary(DisplayText::label(account.alias, entry));
            QFont caption = alias->font();
            caption.setPointSizeF(caption.pointSizeF() * 0.9);
            alias->setFont(caption);
            entryRow->addWidget(alias);
            legend->addWidget(entry);
        }
    }
    available_->setVisible(limit.has_value());
    available_->setText(limit ? Format::byteCount(std::max<qint64>(*limit - total->usedBytes, 0)) +
                                    QStringLiteral(" available")
                              : QString());
}

void HomeView::applyRows(const QList<StorageAccount>& accounts) {
    const QSet<QUuid>& refreshing = model_.accounts()->refreshingQuota();
    QList<QUuid> order;
    for (const StorageAccount& account : accounts)
        order.append(account.id);
    if (order != rowOrder_) {
        clearLayout(rows_);
        rowByID_.clear();
        for (const StorageAccount& account : accounts) {
            auto* row = new StorageRow(model_, account, form_);
            rowByID_.insert(account.id, row);
            rows_->addWidget(row);
        }
        rowOrder_ = order;
    }
    for (const StorageAccount& account : accounts)
        rowByID_.value(account.id)->set(account, refreshing.contains(account.id));
}

void HomeView::applyActivity() {
    clearLayout(activity_);
    const QList<ActivityEvent>& events = model_.activity()->events();
    if (events.isEmpty()) {
        auto* hint = secondary(DisplayText::label(
            QStringLiteral("Uploads, downloads and changes appear here."), form_));
        hint->setObjectName(QStringLiteral("homeActivityHint"));
        activity_->addWidget(hint);
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    for (qsizetype i = 0; i < std::min<qsizetype>(events.size(), recentActivityCount); ++i) {
        const ActivityEvent& event = events[i];
        auto* row = new QWidget(form_);
        row->setObjectName(QStringLiteral("activityRow"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        auto* symbol = new QLabel(row);
        SymbolIcons::setSymbol(symbol, event.symbolName(), 16);
        layout->addWidget(symbol);
        auto* summary = new ElidedLabel(event.summary(), Qt::ElideMiddle, row);
        summary->setObjectName(QStringLiteral("activitySummary"));
        layout->addWidget(summary, 1);
        auto* when = secondary(DisplayText::label(Format::relative(event.date, now), row));
        when->setObjectName(QStringLiteral("activityDate"));
        layout->addWidget(when);
        activity_->addWidget(row);
    }
}

} // namespace tw

#include "App/Onboarding/OnboardingView.h"

#include "App/DesignSystem/BrandMark.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/Model/AppModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

namespace {

constexpr int columnWidth = 440;

struct Feature {
    const char* symbol;
    const char* title;
    const char* text;
};

constexpr Feature features[] = {
    {"externaldrive.connected.to.line.below", "All your storage in one place",
     "Connect Google Drive and Telegram accounts. Each one stays separate."},
    {"hand.raised", "Nothing is tracked",
     "No analytics and no ads. Kelvanor has no servers of its own."},
    {"lock", "Your files stay in your storage",
     "Files go directly between this computer and each service. Sign-ins are kept in your "
     "keyring."},
};

QWidget* featureRow(const Feature& feature, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    auto* symbol = new QLabel(row);
    symbol->setFixedWidth(32);
    symbol->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    SymbolIcons::setSymbol(symbol, QLatin1String(feature.symbol), 24);
    layout->addWidget(symbol, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = DisplayText::label(QLatin1String(feature.title), row);
    QFont semibold = title->font();
    semibold.setWeight(QFont::DemiBold);
    title->setFont(semibold);
    auto* text = DisplayText::label(QLatin1String(feature.text), row);
    text->setWordWrap(true);
    // The column has a fixed width, so the wrapped text's height is known: reserve it, so a
    // short window never squeezes the lines together.
    const int textWidth = columnWidth - 32 - 14;
    text->setFixedWidth(textWidth);
    text->setMinimumHeight(text->heightForWidth(textWidth));
    text->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(title);
    texts->addWidget(text);
    layout->addLayout(texts, 1);
    row->setAccessibleName(QLatin1String(feature.title) + QStringLiteral(", ") +
                           QLatin1String(feature.text));
    return row;
}

QPixmap brandMark(qreal ratio) {
    QPixmap pixmap(int(96 * ratio), int(96 * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, 96, 96), 22, 22);
    painter.setClipPath(clip);
    BrandMark::paint(&painter, QRectF(0, 0, 96, 96));
    return pixmap;
}

} // namespace

QString OnboardingView::notConfiguredText(const QString& serviceName) {
    return serviceName + QStringLiteral(" sign-in isn't available in this build.");
}

OnboardingView::OnboardingView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("onboardingView"));
    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    auto* column = new QWidget(this);
    column->setFixedWidth(columnWidth);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(28);
    outer->addWidget(column, 0, Qt::AlignHCenter);
    outer->addStretch(1);

    auto* header = new QVBoxLayout;
    header->setSpacing(10);
    auto* logo = new QLabel(column);
    logo->setPixmap(brandMark(devicePixelRatioF()));
    logo->setFixedSize(96, 96);
    header->addWidget(logo, 0, Qt::AlignHCenter);
    auto* welcome = DisplayText::label(QStringLiteral("Welcome to Kelvanor"), column);
    welcome->setObjectName(QStringLiteral("onboardingTitle"));
    QFont large = welcome->font();
    large.setPointSizeF(large.pointSizeF() * 2.0);
    large.setBold(true);
    welcome->setFont(large);
    header->addWidget(welcome, 0, Qt::AlignHCenter);
    layout->addLayout(header);

    auto* list = new QVBoxLayout;
    list->setSpacing(18);
    for (const Feature& feature : features)
        list->addWidget(featureRow(feature, column));
    layout->addLayout(list);

    auto* connectArea = new QVBoxLayout;
    connectArea->setSpacing(10);
    buttons_ = new QWidget(column);
    auto* buttonRow = new QHBoxLayout(buttons_);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    buttonRow->setSpacing(12);
    auto addConnect = [&](const QString& title, ProviderKind kind, const QString& identifier) {
        auto* button = new QPushButton(title, buttons_);
        button->setObjectName(identifier);
        button->setAccessibleName(title);
        button->setMinimumHeight(34);
        button->setDefault(kind == ProviderKind::googleDrive);
        connect(button, &QPushButton::clicked, this, [this, kind] { model_.connectAccount(kind); });
        buttonRow->addWidget(button);
    };
    addConnect(QStringLiteral("Continue with Google"), ProviderKind::googleDrive,
               QStringLiteral("connectGoogle"));
    addConnect(QStringLiteral("Continue with Telegram"), ProviderKind::telegram,
               QStringLiteral("connectTelegram"));
    connectArea->addWidget(buttons_, 0, Qt::AlignHCenter);

    waiting_ = new QWidget(column);
    waiting_->setObjectName(QStringLiteral("onboardingWaiting"));
    auto* waitingRow = new QHBoxLayout(waiting_);
    waitingRow->setContentsMargins(0, 0, 0, 0);
    waitingRow->setSpacing(8);
    auto* spinner = new QProgressBar(waiting_);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(40, 8);
    waitingRow->addWidget(spinner);
    auto* finish =
        DisplayText::label(QStringLiteral("Finish signing in in your browser\u2026"), waiting_);
    finish->setForegroundRole(QPalette::PlaceholderText);
    waitingRow->addWidget(finish);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), waiting_);
    cancel->setObjectName(QStringLiteral("onboardingCancel"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    waitingRow->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, [this] { model_.cancelConnection(); });
    connectArea->addWidget(waiting_, 0, Qt::AlignHCenter);

    error_ = new ContentUnavailableView(ContentUnavailableView::Shape::row, column);
    error_->setOffersRecovery(false);
    error_->setObjectName(QStringLiteral("onboardingError"));
    connectArea->addWidget(error_);
    notConfigured_ = DisplayText::label(QString(), column);
    notConfigured_->setObjectName(QStringLiteral("onboardingNotConfigured"));
    notConfigured_->setWordWrap(true);
    notConfigured_->setAlignment(Qt::AlignCenter);
    notConfigured_->setForegroundRole(QPalette::PlaceholderText);
    connectArea->addWidget(notConfigured_);
    layout->addLayout(connectArea);

    connect(&model_, &AppModel::stateChanged, this, &OnboardingView::apply);
    apply();
}

void OnboardingView::apply() {
    const bool waitingForGoogle =
        model_.isConnecting() && model_.connectingKind() == ProviderKind::googleDrive;
    buttons_->setVisible(!waitingForGoogle);
    waiting_->setVisible(waitingForGoogle);

    const std::optional<PresentedError>& presented = model_.presentedError();
    const bool notConfigured =
        presented && presented->error.code() == StorageError::Code::notConfigured;
    error_->setVisible(presented && !notConfigured);
    if (presented && !notConfigured)
        error_->showError(presented->error);
    const bool named = notConfigured && presented->kind.has_value();
    notConfigured_->setVisible(named);
    if (named)
        notConfigured_->setText(notConfiguredText(ProviderKinds::displayName(*presented->kind)));
}

} // namespace tw

#include "App/Settings/PrivacySettings.h"

#include "App/DesignSystem/SymbolIcons.h"

#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tw {

QWidget* PrivacySettings::row(const QString& text, const QString& symbol, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(10);
    auto* icon = new QLabel(row);
    SymbolIcons::setSymbol(icon, symbol, 18);
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);
    auto* label = new QLabel(text, row);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label, 1);
    return row;
}

PrivacySettings::PrivacySettings(const QString& dataFolder,
                                 const std::optional<QString>& cacheFolder, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("privacySettings"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* collect = new QGroupBox(QStringLiteral("Kelvanor doesn't collect anything about you."), this);
    auto* collectLayout = new QVBoxLayout(collect);
    const std::pair<const char*, QString> statements[] = {
        {"chart.bar.xaxis", QStringLiteral("No analytics, telemetry or session recording.")},
        {"megaphone", QStringLiteral("No advertising and no tracking.")},
        {"icloud.slash", QStringLiteral("No Kelvanor servers. Files travel directly between this "
                                        "computer and Google or Telegram.")},
        {"key", QStringLiteral("Each account's sign-in is stored separately in your keyring.")},
        {"clock.arrow.circlepath",
         QStringLiteral("Account names and recent activity are stored only on this computer.")},
    };
    for (const auto& [symbol, text] : statements)
        collectLayout->addWidget(row(text, QString::fromLatin1(symbol), collect));
    layout->addWidget(collect);

    auto* know = new QGroupBox(QStringLiteral("Good to know"), this);
    auto* knowLayout = new QVBoxLayout(know);
    knowLayout->addWidget(row(QStringLiteral("Google Drive and Telegram cloud chats aren't "
                                             "end-to-end encrypted: each service can read what you "
                                             "store there."),
                              QStringLiteral("lock.open"), know));
    QString places = QStringLiteral("Account names, rules and activity: ") +
                     QDir::toNativeSeparators(dataFolder);
    if (cacheFolder)
        places += QStringLiteral("\nPreviews: ") + QDir::toNativeSeparators(*cacheFolder);
    places += QStringLiteral("\nSign-ins: your keyring (Secret Service)");
    knowLayout->addWidget(row(places, QStringLiteral("folder"), know));
    layout->addWidget(know);
    layout->addStretch(1);
}

} // namespace tw

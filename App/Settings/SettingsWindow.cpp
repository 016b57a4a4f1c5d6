#include "App/Settings/SettingsWindow.h"

#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/WindowPlacement.h"

#include "App/Model/AppModel.h"
#include "App/Settings/AccountDetail.h"
#include "App/Settings/AccountsSettings.h"
#include "App/Settings/GeneralSettings.h"
#include "App/Settings/PrivacySettings.h"
#include "StorageCore/Preview/PreviewCache.h"

#include <QApplication>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tw {

SettingsWindow::SettingsWindow(AppModel& model, QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(defaultSize);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("settingsTabs"));
    tabs_->setDocumentMode(true);
    tabs_->addTab(new AccountsSettings(model, tabs_),
                  SymbolIcons::icon(QStringLiteral("person.crop.circle")), QStringLiteral("Accounts"));
    tabs_->addTab(new GeneralSettings(model, tabs_), SymbolIcons::icon(QStringLiteral("gearshape")),
                  QStringLiteral("General"));
    const PreviewCache* cache = model.previewCache();
    tabs_->addTab(new PrivacySettings(
                      AppModel::dataFolder(),
                      cache ? std::optional<QString>(cache->directory()) : std::nullopt, tabs_),
                  SymbolIcons::icon(QStringLiteral("hand.raised")), QStringLiteral("Privacy"));
    layout->addWidget(tabs_);
}

void SettingsWindow::showEvent(QShowEvent* event) {
    if (!placed_ && !event->spontaneous()) {
        placed_ = true;
        const QWidget* over = QApplication::activeWindow();
        WindowPlacement::place(this, defaultSize, over != this ? over : nullptr);
    }
    QWidget::showEvent(event);
}

} // namespace tw

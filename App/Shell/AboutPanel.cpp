#include "App/Shell/AboutPanel.h"

#include "App/DesignSystem/WindowPlacement.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

namespace tw::AboutPanel {

const QUrl& website() {
    static const QUrl url(QStringLiteral("https://tessarow.org"));
    return url;
}

QString credit() { return QStringLiteral("Made by Tessarow"); }

QWidget* show(QWidget* parent) {
    static QPointer<QDialog> panel;
    if (!panel) {
        auto* dialog = new QDialog(parent, Qt::Dialog);
        panel = dialog;
        dialog->setObjectName(QStringLiteral("aboutPanel"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QStringLiteral("About Kelvanor"));

        auto* layout = new QVBoxLayout(dialog);
        layout->setContentsMargins(32, 24, 32, 16);
        layout->setSpacing(6);

        auto* icon = new QLabel(dialog);
        icon->setObjectName(QStringLiteral("aboutIcon"));
        icon->setAlignment(Qt::AlignCenter);
        const QIcon appIcon = QApplication::windowIcon();
        if (!appIcon.isNull())
            icon->setPixmap(appIcon.pixmap(64, 64));
        layout->addWidget(icon);

        auto* name = new QLabel(QStringLiteral("Kelvanor"), dialog);
        name->setObjectName(QStringLiteral("aboutName"));
        name->setTextFormat(Qt::PlainText);
        name->setAlignment(Qt::AlignCenter);
        QFont nameFont = name->font();
        nameFont.setBold(true);
        nameFont.setPointSizeF(nameFont.pointSizeF() * 1.3);
        name->setFont(nameFont);
        layout->addWidget(name);

        const QString version = QApplication::applicationVersion();
        auto* versionLabel = new QLabel(
            version.isEmpty() ? QString() : QStringLiteral("Version ") + version, dialog);
        versionLabel->setObjectName(QStringLiteral("aboutVersion"));
        versionLabel->setTextFormat(Qt::PlainText);
        versionLabel->setAlignment(Qt::AlignCenter);
        versionLabel->setVisible(!version.isEmpty());
        layout->addWidget(versionLabel);
        layout->addSpacing(8);

        QFont small = dialog->font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        auto* creditLabel = new QLabel(credit(), dialog);
        creditLabel->setObjectName(QStringLiteral("aboutCredit"));
        creditLabel->setTextFormat(Qt::PlainText);
        creditLabel->setAlignment(Qt::AlignCenter);
        creditLabel->setFont(small);
        layout->addWidget(creditLabel);

        // Our own fixed address: the one rich text of the panel.
        auto* link = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                                    .arg(website().toString(QUrl::FullyEncoded),
                                         website().host().toHtmlEscaped()),
                                dialog);
        link->setObjectName(QStringLiteral("aboutWebsite"));
        link->setTextFormat(Qt::RichText);
        link->setAlignment(Qt::AlignCenter);
        link->setOpenExternalLinks(true);
        link->setTextInteractionFlags(Qt::TextBrowserInteraction);
        link->setFont(small);
        layout->addWidget(link);
        layout->addSpacing(8);

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog);
        buttons->setCenterButtons(true);
        QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
        layout->addWidget(buttons);
        // The panel takes the size of its content, so the content holds the width the title
        // bar needs to show the whole title.
        constexpr int minimumWidth = 280;
        const QMargins margins = layout->contentsMargins();
        const int titleWidth = WindowPlacement::widthForTitle(
            dialog->windowTitle(), WindowPlacement::availableArea(parent));
        name->setMinimumWidth(std::max(minimumWidth, titleWidth) - margins.left() -
                              margins.right());
        layout->setSizeConstraint(QLayout::SetFixedSize);
        const QWidget* over = parent ? parent : QApplication::activeWindow();
        WindowPlacement::place(dialog, dialog->sizeHint(), over);
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
    return panel;
}

} // namespace tw::AboutPanel

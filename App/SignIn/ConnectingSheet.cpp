#include "App/SignIn/ConnectingSheet.h"

#include "App/DesignSystem/SheetWindow.h"
#include "App/Model/AppModel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

ConnectingSheet::ConnectingSheet(AppModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setObjectName(QStringLiteral("connectingSheet"));
    setWindowTitle(QStringLiteral("Waiting for Google\u2026"));
    SheetWindow::prepare(*this, 320);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(12);
    auto* spinner = new QProgressBar(this);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(64, 8);
    layout->addWidget(spinner, 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("Waiting for Google\u2026"), this);
    title->setTextFormat(Qt::PlainText);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* message = new QLabel(
        QStringLiteral("Finish signing in in your browser, then return to Kelvanor."), this);
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setAlignment(Qt::AlignCenter);
    message->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(message);
    layout->addSpacing(4);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("connectingCancel"));
    cancel->setAccessibleName(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    connect(cancel, &QPushButton::clicked, this, &ConnectingSheet::reject);
}

void ConnectingSheet::reject() {
    // Escape and Cancel: only the sign-in is cancelled; the sheet stays until the model has
    // cleared its connecting state.
    model_.cancelConnection();
}


} // namespace tw

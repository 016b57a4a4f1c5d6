#include "App/SignIn/TelegramLoginSheet.h"

#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/SheetWindow.h"
#include "App/Model/TelegramLoginCoordinator.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

namespace {

using Kind = TelegramLoginStep::Kind;

QLabel* plainLabel(QWidget* parent) {
    QLabel* label = DisplayText::label(QString(), parent);
    label->setWordWrap(true);
    return label;
}

QFont scaled(const QFont& base, double factor, QFont::Weight weight = QFont::Normal) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

} // namespace

QString TelegramLoginSheet::title(const std::optional<TelegramLoginStep>& step) {
    if (step && step->kind == Kind::code)
        return QStringLiteral("Enter the Code");
    if (step && step->kind == Kind::password)
        return QStringLiteral("Two-Step Verification");
    return QStringLiteral("Sign In to Telegram");
}

QString TelegramLoginSheet::message(const std::optional<TelegramLoginStep>& step) {
    if (!step || step->kind == Kind::phoneNumber)
        return QStringLiteral(
            "Enter the phone number of your Telegram account, including the country code.");
    if (step->kind == Kind::code) {
        if (step->sentVia == QStringLiteral("SMS"))
            return QStringLiteral("We sent a code by SMS to ") +
                   (step->phoneNumber.isEmpty() ? QStringLiteral("your phone") : step->phoneNumber) +
                   QStringLiteral(".");
        QString text = QStringLiteral("Telegram sent a code to your other Telegram apps");
        if (!step->phoneNumber.isEmpty())
            text += QStringLiteral(" for ") + step->phoneNumber;
        return text + QStringLiteral(". Check the chat from \u201cTelegram\u201d.");
    }
    const QString base = QStringLiteral("Your account is protected with an additional password.");
    return step->hint.isEmpty() ? base : base + QStringLiteral(" Hint: ") + step->hint;
}

QString TelegramLoginSheet::placeholder(const std::optional<TelegramLoginStep>& step) {
    if (step && step->kind == Kind::password)
        return QStringLiteral("Password");
    if (step && step->kind == Kind::code)
        return QStringLiteral("Code");
    return QStringLiteral("+1 555 123 4567");
}

TelegramLoginSheet::TelegramLoginSheet(TelegramLoginCoordinator* coordinator, QWidget* parent)
    : QDialog(parent), coordinator_(coordinator) {
    setObjectName(QStringLiteral("telegramLoginSheet"));
    setWindowTitle(QStringLiteral("Sign In to Telegram"));
    SheetWindow::prepare(*this, 400);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(12);

    title_ = plainLabel(this);
    title_->setFont(scaled(font(), 1.1, QFont::Bold));
    title_->setObjectName(QStringLiteral("telegramLoginTitle"));
    layout->addWidget(title_);

    message_ = plainLabel(this);
    message_->setObjectName(QStringLiteral("telegramLoginMessage"));
    message_->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(message_);

    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("telegramLoginField"));
    field_->setAccessibleName(QStringLiteral("telegramLoginField"));
    layout->addWidget(field_);

    error_ = plainLabel(this);
    error_->setObjectName(QStringLiteral("telegramLoginError"));
    QPalette orange = error_->palette();
    orange.setColor(QPalette::WindowText, DS::failureColor());
    error_->setPalette(orange);
    layout->addWidget(error_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    working_ = new QWidget(this);
    auto* workingLayout = new QHBoxLayout(working_);
    workingLayout->setContentsMargins(0, 0, 0, 0);
    auto* spinner = new QProgressBar(working_);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(40, 8);
    auto* contacting = plainLabel(working_);
    contacting->setWordWrap(false);
    contacting->setText(QStringLiteral("Contacting Telegram\u2026"));
    contacting->setForegroundRole(QPalette::PlaceholderText);
    workingLayout->addWidget(spinner);
    workingLayout->addWidget(contacting);
    buttons->addWidget(working_);
    buttons->addStretch(1);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("telegramLoginCancel"));
    cancel_->setAutoDefault(false);
    continue_ = new QPushButton(QStringLiteral("Continue"), this);
    continue_->setObjectName(QStringLiteral("telegramLoginContinue"));
    // Return reaches the dialog once, through its default button; the field's own
    // returnPressed is left unconnected so one key press never submits twice.
    continue_->setDefault(true);
    buttons->addWidget(cancel_);
    buttons->addWidget(continue_);
    layout->addLayout(buttons);

    auto* note = plainLabel(this);
    note->setText(QStringLiteral("Kelvanor is an independent app that uses the Telegram API. It "
                                 "isn't made by Telegram."));
    note->setFont(scaled(font(), 0.85));
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(note);

    connect(cancel_, &QPushButton::clicked, this, &TelegramLoginSheet::reject);
    connect(continue_, &QPushButton::clicked, this, &TelegramLoginSheet::submit);
    connect(field_, &QLineEdit::textChanged, this, &TelegramLoginSheet::refresh);
    connect(coordinator_, &TelegramLoginCoordinator::changed, this, &TelegramLoginSheet::refresh);
    refresh();
}

QString TelegramLoginSheet::trimmedValue() const {
    // Space separators (no-break and the like included) and tabs only: a pasted line break is
    // left for Telegram to refuse.
    const QString text = field_->text();
    qsizetype start = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) {
        return c.category() == QChar::Separator_Space || c == QLatin1Char('\t');
    };
    while (start < end && blank(text[start]))
        ++start;
    while (end > start && blank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

void TelegramLoginSheet::refresh() {
    const std::optional<TelegramLoginStep> step = coordinator_->step();
    const bool working = coordinator_->isWorking();
    const bool stepChanged = step != shownStep_;
    const bool wasEnabled = field_->isEnabled();
    if (stepChanged) {
        shownStep_ = step;
        field_->clear();
        field_->setEchoMode(step && step->kind == Kind::password ? QLineEdit::Password
                                                                 : QLineEdit::Normal);
    }
    title_->setText(title(step));
    message_->setText(message(step));
    field_->setPlaceholderText(placeholder(step));
    field_->setEnabled(step.has_value() && !working);
    // The field that waits for input holds the focus; a disabled widget cannot take it, so this
    // comes after enabling (otherwise the focus stays on Cancel and a typed space presses it).
    if (field_->isEnabled() && (stepChanged || !wasEnabled))
        field_->setFocus();
    const std::optional<QString> error = coordinator_->errorText();
    error_->setVisible(error.has_value());
    error_->setText(error ? QStringLiteral("\u26a0 ") + *error : QString());
    working_->setVisible(working || !step);
    continue_->setEnabled(step.has_value() && !working && !trimmedValue().isEmpty());
}

void TelegramLoginSheet::submit() {
    if (!continue_->isEnabled())
        return;
    const QString text = trimmedValue();
    if (text.isEmpty())
        return;
    coordinator_->submit(text);
}

void TelegramLoginSheet::reject() { coordinator_->cancel(); }

void TelegramLoginSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    field_->setFocus();
}

} // namespace tw

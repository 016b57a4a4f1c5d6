#include "App/DesignSystem/ContentUnavailableView.h"

#include "App/DesignSystem/BusyIndicator.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

namespace {

QLabel* textLabel(const QString& objectName, QWidget* parent) {
    QLabel* label = DisplayText::label(QString(), parent);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    return label;
}

QFont resized(QFont font, double factor, QFont::Weight weight) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

} // namespace

ContentUnavailableView::ContentUnavailableView(Shape shape, QWidget* parent)
    : QWidget(parent), shape_(shape) {
    spinner_ = new BusyIndicator(18, this);
    spinner_->setObjectName(QStringLiteral("stateSpinner"));
    spinner_->setAccessibleName(QStringLiteral("Loading"));
    spinner_->hide();
    symbol_ = new QLabel(this);
    symbol_->setObjectName(QStringLiteral("stateSymbol"));
    symbol_->setAlignment(Qt::AlignCenter);
    symbol_->hide();
    title_ = textLabel(QStringLiteral("stateTitle"), this);
    description_ = textLabel(QStringLiteral("stateDescription"), this);
    description_->setForegroundRole(QPalette::PlaceholderText);
    buttons_ = new QWidget(this);
    buttons_->hide();

    if (shape_ == Shape::pane) {
        // A centred column of limited width: the texts wrap inside it.
        title_->setAlignment(Qt::AlignCenter);
        title_->setFont(resized(font(), 1.3, QFont::Bold));
        description_->setAlignment(Qt::AlignCenter);
        auto* outer = new QHBoxLayout(this);
        outer->setContentsMargins(24, 24, 24, 24);
        auto* column = new QVBoxLayout;
        column->setSpacing(8);
        outer->addStretch(1);
        outer->addLayout(column, 4);
        outer->addStretch(1);
        column->addStretch(1);
        column->addWidget(spinner_, 0, Qt::AlignHCenter);
        column->addWidget(symbol_);
        column->addWidget(title_);
        column->addWidget(description_);
        column->addWidget(buttons_, 0, Qt::AlignHCenter);
        column->addStretch(1);
        for (QWidget* text : {static_cast<QWidget*>(title_), static_cast<QWidget*>(description_)})
            text->setMaximumWidth(440);
        buttonRow_ = new QHBoxLayout(buttons_);
        buttonRow_->setContentsMargins(0, 6, 0, 0);
        buttonRow_->setSpacing(10);
    } else {
        title_->setFont(resized(font(), 1.0, QFont::Medium));
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        row->addWidget(spinner_, 0, Qt::AlignTop);
        row->addWidget(symbol_, 0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(title_);
        texts->addWidget(description_);
        row->addLayout(texts, 1);
        row->addWidget(buttons_, 0, Qt::AlignTop);
        buttonRow_ = new QHBoxLayout(buttons_);
        buttonRow_->setContentsMargins(8, 0, 0, 0);
        buttonRow_->setSpacing(8);
    }
    recovery_ = new QPushButton(buttons_);
    recovery_->setObjectName(QStringLiteral("stateRecovery"));
    recovery_->setAutoDefault(false);
    recovery_->hide();
    buttonRow_->addWidget(recovery_);
    connect(recovery_, &QPushButton::clicked, this, [this] {
        if (recoveryAction_)
            Q_EMIT recover(*recoveryAction_);
    });
}

ContentUnavailableView::ContentUnavailableView(const QString& symbol, const QString& title,
                                               const QString& description, QWidget* parent)
    : ContentUnavailableView(Shape::pane, parent) {
    showMessage(symbol, title, description);
}

void ContentUnavailableView::setSymbol(const QString& symbol) {
    symbol_->setProperty("symbol", symbol);
    symbol_->setVisible(!symbol.isEmpty());
    if (symbol.isEmpty())
        return;
    const int size = shape_ == Shape::pane ? 48 : 16;
    SymbolIcons::setSymbol(symbol_, symbol, size);
}

void ContentUnavailableView::setTitle(const QString& title) {
    title_->setText(title);
    title_->setVisible(!title.isEmpty());
    setAccessibleName(title);
}

void ContentUnavailableView::setDescription(const QString& description) {
    description_->setText(description);
    description_->setVisible(!description.isEmpty());
    setAccessibleDescription(description);
}

void ContentUnavailableView::showMessage(const QString& symbol, const QString& title,
                                         const QString& description) {
    spinner_->hide();
    clearButtons();
    symbol_->setPalette(QPalette()); // back to the text colour after a failure's
    setSymbol(symbol);
    setTitle(title);
    setDescription(description);
}

QPushButton* ContentUnavailableView::addButton(const QString& text, const QString& objectName) {
    auto* button = new QPushButton(text, buttons_);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    button->setAutoDefault(false);
    buttonRow_->addWidget(button);
    buttons_->show();
    return button;
}

void ContentUnavailableView::clearButtons() {
    recoveryAction_.reset();
    recovery_->hide();
    for (int i = buttonRow_->count() - 1; i >= 0; --i) {
        QWidget* widget = buttonRow_->itemAt(i)->widget();
        if (!widget || widget == recovery_)
            continue;
        delete buttonRow_->takeAt(i);
        // Never deleted at once: the click that changes the state may come from it.
        widget->hide();
        widget->deleteLater();
    }
    buttons_->hide();
}

void ContentUnavailableView::showSpinner(const QString& label) {
    showMessage({}, {}, label);
    spinner_->setAccessibleName(label.isEmpty() ? QStringLiteral("Loading") : label);
    setAccessibleName(spinner_->accessibleName());
    spinner_->show();
}

bool ContentUnavailableView::isSpinning() const {
    return !spinner_->isHidden();
}

void ContentUnavailableView::showError(const StorageError& error) {
    const ErrorPresentation presentation = error.presentation();
    if (shape_ == Shape::row) {
        // A failure among other rows stands out by its orange warning sign, whatever the cause.
        showMessage(QStringLiteral("exclamationmark.triangle.fill"), presentation.title,
                    presentation.message);
        QPalette orange = symbol_->palette();
        orange.setColor(QPalette::WindowText, DS::failureColor());
        symbol_->setPalette(orange);
    } else {
        showMessage(error.code() == StorageError::Code::offline
                        ? QStringLiteral("wifi.slash")
                        : QStringLiteral("exclamationmark.triangle"),
                    presentation.title, presentation.message);
    }
    setAccessibleName(presentation.title + QStringLiteral(", ") + presentation.message);
    if (!offersRecovery_ || !presentation.recovery)
        return;
    recoveryAction_ = presentation.recovery;
    recovery_->setText(*presentation.recoveryTitle());
    recovery_->setAccessibleName(recovery_->text());
    recovery_->show();
    buttons_->show();
}

QString ContentUnavailableView::symbol() const {
    return symbol_->property("symbol").toString();
}

QString ContentUnavailableView::title() const {
    return title_->text();
}

QString ContentUnavailableView::description() const {
    return description_->text();
}

} // namespace tw

#include "App/DesignSystem/ErrorViews.h"

#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

namespace {

QLabel* plainLabel(QWidget* parent, bool wrap = true) {
    QLabel* label = DisplayText::label(QString(), parent);
    label->setWordWrap(wrap);
    return label;
}

QFont resized(QFont font, double factor, QFont::Weight weight) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

QString buttonTitle(const ErrorPresentation& presentation) {
    return presentation.recoveryTitle().value_or(QString());
}

} // namespace

// ---- ContentUnavailableView ---------------------------------------------------------------

ContentUnavailableView::ContentUnavailableView(const QString& symbol, const QString& title,
                                               const QString& description, QWidget* parent)
    : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 32, 32, 32);
    layout->setSpacing(8);
    layout->addStretch(1);
    symbol_ = new QLabel(this);
    symbol_->setAlignment(Qt::AlignCenter);
    layout->addWidget(symbol_);
    title_ = plainLabel(this);
    title_->setAlignment(Qt::AlignCenter);
    title_->setFont(resized(font(), 1.35, QFont::Bold));
    title_->setObjectName(QStringLiteral("unavailableTitle"));
    layout->addWidget(title_);
    description_ = plainLabel(this);
    description_->setAlignment(Qt::AlignCenter);
    description_->setForegroundRole(QPalette::PlaceholderText);
    description_->setObjectName(QStringLiteral("unavailableDescription"));
    description_->setFixedWidth(420);
    layout->addWidget(description_, 0, Qt::AlignHCenter);
    buttons_ = new QWidget(this);
    auto* row = new QHBoxLayout(buttons_);
    row->setContentsMargins(0, 8, 0, 0);
    row->setSpacing(10);
    buttons_->hide();
    layout->addWidget(buttons_, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    setSymbol(symbol);
    setTitle(title);
    setDescription(description);
}

QPushButton* ContentUnavailableView::addButton(const QString& text, const QString& objectName) {
    auto* button = new QPushButton(text, buttons_);
    button->setObjectName(objectName);
    button->setAccessibleName(text);
    buttons_->layout()->addWidget(button);
    buttons_->show();
    return button;
}

void ContentUnavailableView::setSymbol(const QString& symbol) {
    SymbolIcons::setSymbol(symbol_, symbol, 48);
    symbol_->setProperty("symbol", symbol);
}

void ContentUnavailableView::setTitle(const QString& title) {
    title_->setText(title);
    setAccessibleName(title);
}

void ContentUnavailableView::setDescription(const QString& description) {
    description_->setText(description);
    description_->setMinimumHeight(description_->heightForWidth(description_->width()));
    description_->setVisible(!description.isEmpty());
}

// ---- StorageErrorView --------------------------------------------------------------------

StorageErrorView::StorageErrorView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("storageErrorView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    content_ = new ContentUnavailableView(QStringLiteral("exclamationmark.triangle"), QString(),
                                          QString(), this);
    layout->addWidget(content_);
    button_ = content_->addButton(QString(), QStringLiteral("errorRecovery"));
    connect(button_, &QPushButton::clicked, this, [this] {
        if (recovery_)
            Q_EMIT recover(*recovery_);
    });
}

void StorageErrorView::setError(const StorageError& error) {
    const ErrorPresentation presentation = error.presentation();
    content_->setSymbol(error.code() == StorageError::Code::offline
                            ? QStringLiteral("wifi.slash")
                            : QStringLiteral("exclamationmark.triangle"));
    content_->setTitle(presentation.title);
    content_->setDescription(presentation.message);
    recovery_ = presentation.recovery;
    button_->setText(buttonTitle(presentation));
    button_->setAccessibleName(buttonTitle(presentation));
    button_->setVisible(recovery_.has_value());
    setAccessibleName(presentation.title);
}

// ---- InlineErrorView ---------------------------------------------------------------------

InlineErrorView::InlineErrorView(bool recoverable, QWidget* parent)
    : QWidget(parent), recoverable_(recoverable) {
    setObjectName(QStringLiteral("inlineErrorView"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* symbol = new QLabel(this);
    SymbolIcons::setSymbol(symbol, QStringLiteral("exclamationmark.triangle.fill"), 16);
    row->addWidget(symbol, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = plainLabel(this);
    title_->setObjectName(QStringLiteral("errorTitle"));
    title_->setFont(resized(font(), 1.0, QFont::Medium));
    message_ = plainLabel(this);
    message_->setObjectName(QStringLiteral("errorMessage"));
    message_->setForegroundRole(QPalette::PlaceholderText);
    texts->addWidget(title_);
    texts->addWidget(message_);
    row->addLayout(texts, 1);
    button_ = new QPushButton(this);
    button_->setObjectName(QStringLiteral("errorRecovery"));
    button_->hide();
    row->addSpacing(8);
    row->addWidget(button_, 0, Qt::AlignTop);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (recovery_)
            Q_EMIT recover(*recovery_);
    });
}

void InlineErrorView::setError(const StorageError& error) {
    const ErrorPresentation presentation = error.presentation();
    title_->setText(presentation.title);
    message_->setText(presentation.message);
    recovery_ = recoverable_ ? presentation.recovery : std::nullopt;
    button_->setText(buttonTitle(presentation));
    button_->setVisible(recovery_.has_value());
    setAccessibleName(presentation.title + QStringLiteral(", ") + presentation.message);
}

} // namespace tw

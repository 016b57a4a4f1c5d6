#include "App/Preview/PreviewSupport.h"

#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/SymbolIcons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace tw {

FileTypeTile::FileTypeTile(FileKind kind, const QString& fileExtension, int size, QWidget* parent)
    : QWidget(parent), kind_(kind), extension_(fileExtension), size_(size) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize FileTypeTile::sizeHint() const {
    return QSize(size_, size_);
}

void FileTypeTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FileTypeIcon::paint(&painter, rect(), kind_, extension_);
}

FileTypeTile* makeTile(const FileItem& item, int size, QWidget* parent) {
    return new FileTypeTile(item.isFolder() ? FileKind::folder : item.kind(),
                            FileKinds::pathExtension(item.name), size, parent);
}

QString objectNameFor(const QString& title) {
    QString name;
    for (const QChar c : title) {
        if (c.isLetterOrNumber())
            name.append(c);
    }
    return name;
}

UnavailableView::UnavailableView(const QString& symbol, const QString& title,
                                 const QString& description, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("previewUnavailable"));
    auto* outer = new QVBoxLayout(this);
    outer->addStretch(1);
    auto* icon = new QLabel(this);
    SymbolIcons::setSymbol(icon, symbol, 44);
    icon->setAlignment(Qt::AlignCenter);
    outer->addWidget(icon);
    title_ = new QLabel(title, this);
    title_->setObjectName(QStringLiteral("unavailableTitle"));
    title_->setTextFormat(Qt::PlainText);
    title_->setAlignment(Qt::AlignCenter);
    title_->setWordWrap(true);
    QFont big = title_->font();
    big.setPointSizeF(big.pointSizeF() * 1.35);
    big.setBold(true);
    title_->setFont(big);
    outer->addWidget(title_);
    description_ = new QLabel(description, this);
    description_->setObjectName(QStringLiteral("unavailableDescription"));
    description_->setTextFormat(Qt::PlainText);
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    description_->setForegroundRole(QPalette::PlaceholderText);
    description_->setVisible(!description.isEmpty());
    outer->addWidget(description_);
    buttons_ = new QHBoxLayout;
    buttons_->addStretch(1);
    buttons_->addStretch(1);
    outer->addSpacing(6);
    outer->addLayout(buttons_);
    outer->addStretch(1);
    setAccessibleName(title);
}

QPushButton* UnavailableView::addButton(const QString& title, std::function<void()> action) {
    auto* button = new QPushButton(title, this);
    button->setObjectName(objectNameFor(title));
    button->setAccessibleName(title);
    connect(button, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
    buttons_->insertWidget(buttons_->count() - 1, button);
    return button;
}

QString UnavailableView::title() const {
    return title_->text();
}
QString UnavailableView::description() const {
    return description_->text();
}

} // namespace tw

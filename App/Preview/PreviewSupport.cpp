#include "App/Preview/PreviewSupport.h"

#include "App/DesignSystem/FileTypeIcon.h"
#include "App/DesignSystem/SymbolIcons.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tw {

namespace PreviewIcons {

namespace {

struct Mapping {
    const char* theme;
    QStyle::StandardPixmap standard;
};

const QHash<QString, Mapping>& mappings() {
    static const QHash<QString, Mapping> table{
        {QStringLiteral("chevron.left"), {"go-previous", QStyle::SP_ArrowLeft}},
        {QStringLiteral("chevron.right"), {"go-next", QStyle::SP_ArrowRight}},
        {QStringLiteral("chevron.up"), {"go-up", QStyle::SP_ArrowUp}},
        {QStringLiteral("chevron.down"), {"go-down", QStyle::SP_ArrowDown}},
        {QStringLiteral("minus.magnifyingglass"), {"zoom-out", QStyle::SP_CustomBase}},
        {QStringLiteral("plus.magnifyingglass"), {"zoom-in", QStyle::SP_CustomBase}},
        {QStringLiteral("arrow.up.left.and.down.right.magnifyingglass"),
         {"zoom-fit-best", QStyle::SP_CustomBase}},
        {QStringLiteral("1.magnifyingglass"), {"zoom-original", QStyle::SP_CustomBase}},
        {QStringLiteral("rotate.right"), {"object-rotate-right", QStyle::SP_BrowserReload}},
        {QStringLiteral("square.and.arrow.up"), {"document-send", QStyle::SP_CustomBase}},
        {QStringLiteral("arrow.down.circle"), {"document-save", QStyle::SP_DialogSaveButton}},
        {QStringLiteral("ellipsis.circle"), {"view-more", QStyle::SP_CustomBase}},
        {QStringLiteral("exclamationmark.triangle"),
         {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("eye.slash"), {"view-conceal", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("questionmark.folder"), {"folder", QStyle::SP_DirIcon}},
        {QStringLiteral("play.fill"), {"media-playback-start", QStyle::SP_MediaPlay}},
        {QStringLiteral("pause.fill"), {"media-playback-pause", QStyle::SP_MediaPause}},
        {QStringLiteral("speaker.wave.2"), {"audio-volume-high", QStyle::SP_MediaVolume}},
        {QStringLiteral("speaker.slash"), {"audio-volume-muted", QStyle::SP_MediaVolumeMuted}},
        {QStringLiteral("arrow.up.left.and.arrow.down.right"),
         {"view-fullscreen", QStyle::SP_TitleBarMaxButton}},
    };
    return table;
}

/// Drawn glyphs for the symbols no standard style icon stands for.
QIcon drawn(const QString& symbol) {
    const QColor ink = QApplication::palette().color(QPalette::ButtonText);
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (symbol.endsWith(QStringLiteral("magnifyingglass"))) {
        const QRectF lens(8, 8, 36, 36);
        p.drawEllipse(lens);
        p.drawLine(QPointF(39, 39), QPointF(56, 56));
        const QPointF c = lens.center();
        if (symbol.startsWith(QStringLiteral("plus")) || symbol.startsWith(QStringLiteral("minus")))
            p.drawLine(c + QPointF(-9, 0), c + QPointF(9, 0));
        if (symbol.startsWith(QStringLiteral("plus")))
            p.drawLine(c + QPointF(0, -9), c + QPointF(0, 9));
        if (symbol.startsWith(QStringLiteral("1"))) {
            p.drawLine(c + QPointF(0, -9), c + QPointF(0, 9));
            p.drawLine(c + QPointF(0, -9), c + QPointF(-5, -4));
        }
        if (symbol.startsWith(QStringLiteral("arrow"))) {
            p.drawLine(c + QPointF(-8, -8), c + QPointF(8, 8));
            p.drawLine(c + QPointF(-8, -8), c + QPointF(-8, -2));
            p.drawLine(c + QPointF(-8, -8), c + QPointF(-2, -8));
            p.drawLine(c + QPointF(8, 8), c + QPointF(8, 2));
            p.drawLine(c + QPointF(8, 8), c + QPointF(2, 8));
        }
    } else if (symbol == QStringLiteral("square.and.arrow.up")) {
        p.drawRoundedRect(QRectF(12, 26, 40, 30), 4, 4);
        p.drawLine(QPointF(32, 6), QPointF(32, 38));
        p.drawLine(QPointF(22, 16), QPointF(32, 6));
        p.drawLine(QPointF(42, 16), QPointF(32, 6));
    } else if (symbol == QStringLiteral("ellipsis.circle")) {
        p.drawEllipse(QRectF(6, 6, 52, 52));
        p.setBrush(ink);
        for (int x : {20, 32, 44})
            p.drawEllipse(QPointF(x, 32), 2.5, 2.5);
    } else {
        return SymbolIcons::icon(symbol);
    }
    return QIcon(pixmap);
}

} // namespace

QIcon icon(const QString& symbol) {
    const auto found = mappings().constFind(symbol);
    if (found == mappings().constEnd())
        return SymbolIcons::icon(symbol);
    const QIcon themed = QIcon::fromTheme(QString::fromLatin1(found->theme));
    if (!themed.isNull())
        return themed;
    if (found->standard != QStyle::SP_CustomBase)
        return QApplication::style()->standardIcon(found->standard);
    return drawn(symbol);
}

} // namespace PreviewIcons

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
    icon->setPixmap(PreviewIcons::icon(symbol).pixmap(44, 44));
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

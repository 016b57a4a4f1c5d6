#include "App/Preview/QuickLookViewer.h"

#include "App/DesignSystem/Format.h"
#include "App/Preview/PreviewSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace tw {

namespace {

bool isTextType(const QMimeType& type) {
    static const QStringList textual{QStringLiteral("text/plain"),
                                     QStringLiteral("application/json"),
                                     QStringLiteral("application/xml"),
                                     QStringLiteral("application/javascript"),
                                     QStringLiteral("application/x-yaml"),
                                     QStringLiteral("application/toml"),
                                     QStringLiteral("application/x-shellscript"),
                                     QStringLiteral("application/sql")};
    for (const QString& name : textual) {
        if (type.inherits(name))
            return true;
    }
    return false;
}

QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(QuickLookViewer::textLimit);
    // A cut inside a multi-byte sequence would end in a replacement character: cut before it.
    if (file.size() > QuickLookViewer::textLimit) {
        int back = 0;
        while (back < 4 && back < bytes.size() &&
               (quint8(bytes.at(bytes.size() - 1 - back)) & 0xC0) == 0x80)
            ++back;
        if (back < bytes.size() && (quint8(bytes.at(bytes.size() - 1 - back)) & 0xC0) == 0xC0)
            bytes.chop(back + 1);
    }
    return QString::fromUtf8(bytes);
}

} // namespace

bool QuickLookViewer::isTextLike(const QString& path) {
    QMimeDatabase types;
    const QMimeType byName = types.mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (!byName.isDefault())
        return isTextType(byName);
    // No extension the system knows: look at the content.
    return isTextType(types.mimeTypeForFile(path, QMimeDatabase::MatchContent));
}

QuickLookViewer::QuickLookViewer(const QUrl& url, const FileItem& item, bool compact,
                                 QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("quickLookViewer"));
    auto* layout = new QVBoxLayout(this);
    const QString path = url.toLocalFile();
    if (url.isLocalFile() && QFileInfo(path).isFile() && isTextLike(path)) {
        layout->setContentsMargins(0, 0, 0, 0);
        text_ = new QPlainTextEdit(this);
        text_->setObjectName(QStringLiteral("quickLookText"));
        text_->setReadOnly(true);
        text_->setFrameShape(QFrame::NoFrame);
        text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        if (compact)
            mono.setPointSizeF(mono.pointSizeF() * 0.9);
        text_->setFont(mono);
        text_->document()->setDocumentMargin(compact ? 8 : 16);
        text_->setPlainText(readText(path));
        text_->setAccessibleName(item.name);
        layout->addWidget(text_);
        return;
    }
    // Anything else: what the file is.
    const int tile = compact ? 64 : 128;
    layout->addStretch(1);
    auto* icon = makeTile(item, tile, this);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    layout->addSpacing(compact ? 8 : 16);
    auto* name = new QLabel(item.name, this);
    name->setObjectName(QStringLiteral("quickLookName"));
    name->setTextFormat(Qt::PlainText);
    name->setAlignment(Qt::AlignCenter);
    name->setWordWrap(true);
    QFont font = name->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * (compact ? 1.1 : 1.5));
    name->setFont(font);
    layout->addWidget(name);
    QStringList details{Format::kind(item)};
    qint64 size = item.sizeBytes.value_or(-1);
    if (url.isLocalFile() && QFileInfo(path).isFile())
        size = QFileInfo(path).size();
    if (size >= 0)
        details.append(Format::byteCount(size));
    auto* detail = new QLabel(details.join(QStringLiteral(" \u00b7 ")), this);
    detail->setObjectName(QStringLiteral("quickLookDetail"));
    detail->setTextFormat(Qt::PlainText);
    detail->setAlignment(Qt::AlignCenter);
    detail->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(detail);
    layout->addStretch(1);
    setAccessibleName(item.name);
}

} // namespace tw

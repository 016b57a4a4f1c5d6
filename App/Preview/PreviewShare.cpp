#include "App/Preview/PreviewShare.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>

namespace tw::PreviewShare {

namespace {

void openFolder(const QUrl& file) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath()));
}

} // namespace

QMimeData* fileMimeData(const QUrl& file) {
    auto* data = new QMimeData;
    data->setUrls({file});
    data->setData(QStringLiteral("x-special/gnome-copied-files"),
                  QByteArray("copy\n") + file.toEncoded());
    data->setText(file.toLocalFile());
    return data;
}

void copyToClipboard(const QUrl& file) {
    if (!file.isLocalFile())
        return;
    QGuiApplication::clipboard()->setMimeData(fileMimeData(file));
}

void showInFolder(const QUrl& file) {
    if (!file.isLocalFile())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(file);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, file] {
        if (watcher->isError())
            openFolder(file);
        watcher->deleteLater();
    });
}

} // namespace tw::PreviewShare

// Records the addresses the application asks the desktop to open: register it with
// QDesktopServices::setUrlHandler(scheme, &recorder, "open") for the schemes of interest.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace tw::test {

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace tw::test

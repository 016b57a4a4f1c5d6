#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QUrl>

#include <stdexcept>

namespace tw {

/// An application the desktop knows (a desktop entry).
struct ApplicationInfo {
    QString id;   // desktop entry id ("org.gnome.Evince.desktop")
    QString name; // as the desktop shows it
    QString iconName;
    bool operator==(const ApplicationInfo& other) const { return id == other.id; }
};

/// Why an application could not be started, in the system's words.
class LaunchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Lists the desktop's applications and opens a file with one of them. The lists may be
/// asked for on any thread (the application chooser reads them on a worker).
class ApplicationLauncher {
public:
    virtual ~ApplicationLauncher() = default;
    /// The applications registered for the MIME type, the default first.
    virtual QList<ApplicationInfo> recommended(const QString& mimeType) const = 0;
    /// Every application that can be shown to the user.
    virtual QList<ApplicationInfo> all() const = 0;
    /// Opens the local file with the application. Throws LaunchError.
    virtual void launch(const QString& applicationID, const QUrl& file) = 0;
};

/// The desktop's own registry (GIO's application information over desktop entries).
class DesktopApplicationLauncher : public ApplicationLauncher {
public:
    QList<ApplicationInfo> recommended(const QString& mimeType) const override;
    QList<ApplicationInfo> all() const override;
    void launch(const QString& applicationID, const QUrl& file) override;
};

} // namespace tw

#pragma once

#include <QWidget>

#include <optional>

namespace tw {

/// The settings window's Privacy tab: what Kelvanor does and doesn't do with your data, and
/// where it keeps what it keeps. It has no controls.
class PrivacySettings : public QWidget {
    Q_OBJECT
public:
    /// dataFolder and cacheFolder are the folders shown under "Where your data lives"; without
    /// a preview cache no previews are kept and none is named.
    PrivacySettings(const QString& dataFolder, const std::optional<QString>& cacheFolder,
                    QWidget* parent = nullptr);

    /// One statement with its symbol.
    static QWidget* row(const QString& text, const QString& symbol, QWidget* parent);
};

} // namespace tw

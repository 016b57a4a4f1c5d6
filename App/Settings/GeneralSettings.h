#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace tw {

class AppModel;

/// The settings window's General tab: how many uploads run at once, and clearing the
/// activity history and the preview cache kept on this computer.
class GeneralSettings : public QWidget {
    Q_OBJECT
public:
    explicit GeneralSettings(AppModel& model, QWidget* parent = nullptr);

    qint64 previewCacheBytes() const { return previewCacheBytes_; }

Q_SIGNALS:
    /// The preview cache's size was read (after showing the tab or clearing the cache).
    void previewCacheSizeRead();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void readCacheSize();
    void confirmClearHistory();
    void refresh();

    AppModel& model_;
    QComboBox* simultaneous_;
    QPushButton* clearHistory_;
    QLabel* cacheSize_;
    QPushButton* clearCache_;
    qint64 previewCacheBytes_ = 0;
};

} // namespace tw

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace tw {

class AppModel;
class ContentUnavailableView;

/// The first-run screen: a welcome, three promises, and a button per service to connect the
/// first account. While a Google sign-in waits for the browser the buttons give way to a
/// spinner with Cancel; the failure of the last attempt is shown below them.
class OnboardingView : public QWidget {
    Q_OBJECT
public:
    explicit OnboardingView(AppModel& model, QWidget* parent = nullptr);

    /// "Telegram sign-in isn't available in this build." and the like.
    static QString notConfiguredText(const QString& serviceName);

private:
    void apply();

    AppModel& model_;
    QWidget* buttons_;
    QWidget* waiting_;
    ContentUnavailableView* error_;
    QLabel* notConfigured_;
};

} // namespace tw

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tw {

class AppModel;

/// The smart upload pane's rules: one row per rule (a switch labelled with what it matches
/// and where it sends files, and a delete button), the hint while there are none, and
/// "Add Rule…". Every change goes straight to the smart-upload store, which saves it.
class UploadRulesSection : public QWidget {
    Q_OBJECT
public:
    explicit UploadRulesSection(AppModel& model, QWidget* parent = nullptr);

Q_SIGNALS:
    void addRuleRequested();

private:
    void rebuild();

    AppModel& model_;
    QPushButton* addRule_;
    QLabel* hint_;
    QWidget* rows_;
    QVBoxLayout* rowsLayout_;
};

} // namespace tw

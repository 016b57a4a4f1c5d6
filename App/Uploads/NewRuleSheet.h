#pragma once

#include "App/Uploads/FolderPickRequest.h"
#include "StorageCore/Domain/FileModel.h"

#include <QDialog>
#include <QPointer>

class QButtonGroup;
class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace tw {

class AppModel;
class FolderPickerSheet;

/// The sheet that writes a smart-upload rule by hand: files of a type, or with an
/// extension, go to one destination. Nothing is stored before "Add Rule".
class NewRuleSheet : public QDialog {
    Q_OBJECT
public:
    explicit NewRuleSheet(AppModel& model, QWidget* parent = nullptr);

    const std::optional<UploadTarget>& target() const { return target_; }
    /// Whether "Add Rule" can act: a destination, and for an extension rule a non-empty
    /// extension once normalised.
    bool canAdd() const;

    /// "Add Rule" and Return: store the rule, then close.
    void accept() override;

private:
    void refresh();
    void rebuildMenu();
    void setTarget(const UploadTarget& target);

    AppModel& model_;
    std::optional<UploadTarget> target_;
    QButtonGroup* kind_;
    QLineEdit* extension_;
    QComboBox* category_;
    QToolButton* destination_;
    QPushButton* add_;
    QPointer<FolderPickerSheet> picker_;
    bool added_ = false;
};

} // namespace tw

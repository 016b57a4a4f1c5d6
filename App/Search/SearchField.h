#pragma once

#include "App/Model/AppModel.h"

#include <QWidget>

class QButtonGroup;
class QKeyEvent;
class QLineEdit;

namespace tw {

class SearchTask;

/// The toolbar's search: a scope bar (shown once the accounts are of two kinds) and the field,
/// both bound two-way to the model's searchText and searchScope. It also runs the search
/// (SearchTask), and ends the search whenever the sidebar's selection changes.
///
/// Children by name: "searchText" (the field), "searchScopeBar" and one button per scope,
/// "searchScope.<raw value>" ("searchScope.all", …).
class SearchField : public QWidget {
    Q_OBJECT
public:
    explicit SearchField(AppModel& model, QWidget* parent = nullptr);
    /// The same with the search's pause driven by scheduler (tests).
    SearchField(AppModel& model, AppModel::Scheduler scheduler, QWidget* parent = nullptr);
    ~SearchField() override;

    QLineEdit* lineEdit() const { return edit_; }

    /// Whether the field lets a key with Control, Alt or Meta go to the window's shortcuts:
    /// every such key but the common editing ones (copy, paste, undo, select all, moving and
    /// deleting by word). Ctrl+U, for one, deletes the line in X11 key bindings, and is
    /// "Upload Files…" here.
    static bool leavesToWindow(const QKeyEvent& key);
    SearchTask* task() const { return task_; }

private:
    void showText();
    void showScopes();

    AppModel& model_;
    QWidget* scopeBar_ = nullptr;
    QButtonGroup* scopes_ = nullptr;
    QLineEdit* edit_ = nullptr;
    SearchTask* task_ = nullptr;
};

} // namespace tw

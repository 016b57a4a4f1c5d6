#include "App/Search/SearchField.h"

#include "App/DesignSystem/SymbolIcons.h"
#include "App/Preview/QuickLookKeys.h"
#include "App/Search/SearchRequest.h"
#include "App/Search/SearchTask.h"
#include "StorageCore/Accounts/AccountManager.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

namespace tw {

namespace {

/// A line edit that leaves the window's shortcuts alone: a key it does not keep
/// (SearchField::leavesToWindow) reaches the window's actions first, and comes back to the
/// field only when no action takes it.
class ShortcutFriendlyLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    bool event(QEvent* event) override {
        const bool handled = QLineEdit::event(event);
        if (event->type() == QEvent::ShortcutOverride) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->isAccepted() && SearchField::leavesToWindow(*key))
                key->ignore();
        }
        return handled;
    }
};

} // namespace

bool SearchField::leavesToWindow(const QKeyEvent& key) {
    constexpr Qt::KeyboardModifiers commandModifiers =
        Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (!(key.modifiers() & commandModifiers))
        return false;
    static const QKeySequence::StandardKey editing[] = {
        QKeySequence::Copy,
        QKeySequence::Cut,
        QKeySequence::Paste,
        QKeySequence::Undo,
        QKeySequence::Redo,
        QKeySequence::SelectAll,
        QKeySequence::MoveToNextWord,
        QKeySequence::MoveToPreviousWord,
        QKeySequence::SelectNextWord,
        QKeySequence::SelectPreviousWord,
        QKeySequence::DeleteStartOfWord,
        QKeySequence::DeleteEndOfWord,
        QKeySequence::MoveToStartOfDocument,
        QKeySequence::MoveToEndOfDocument,
        QKeySequence::SelectStartOfDocument,
        QKeySequence::SelectEndOfDocument,
    };
    for (QKeySequence::StandardKey standard : editing) {
        if (key.matches(standard))
            return false;
    }
    return true;
}

SearchField::SearchField(AppModel& model, QWidget* parent) : SearchField(model, {}, parent) {}

SearchField::SearchField(AppModel& model, AppModel::Scheduler scheduler, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("searchField"));
    setAccessibleName(QStringLiteral("Search"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    scopeBar_ = new QWidget(this);
    scopeBar_->setObjectName(QStringLiteral("searchScopeBar"));
    scopeBar_->setAccessibleName(QStringLiteral("Search scope"));
    auto* scopeLayout = new QHBoxLayout(scopeBar_);
    scopeLayout->setContentsMargins(0, 0, 0, 0);
    scopeLayout->setSpacing(2);
    scopes_ = new QButtonGroup(this);
    scopes_->setExclusive(true);
    for (SearchScope scope : SearchScopes::allCases()) {
        auto* button = new QToolButton(scopeBar_);
        button->setObjectName(QStringLiteral("searchScope.") + SearchScopes::rawValue(scope));
        button->setText(SearchScopes::title(scope));
        button->setAccessibleName(SearchScopes::title(scope));
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        scopes_->addButton(button, int(scope));
        scopeLayout->addWidget(button);
    }
    layout->addWidget(scopeBar_);

    edit_ = new ShortcutFriendlyLineEdit(this);
    edit_->setObjectName(QStringLiteral("searchText"));
    QuickLookKeys::markSearchField(edit_);
    edit_->setAccessibleName(QStringLiteral("Search all accounts"));
    edit_->setPlaceholderText(QStringLiteral("Search all accounts"));
    edit_->setClearButtonEnabled(true);
    edit_->addAction(SymbolIcons::icon(QStringLiteral("magnifyingglass")),
                     QLineEdit::LeadingPosition);
    edit_->setMinimumWidth(180);
    edit_->setMaximumWidth(320);
    edit_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    layout->addWidget(edit_);

    connect(edit_, &QLineEdit::textChanged, this,
            [this](const QString& text) { model_.setSearchText(text); });
    connect(scopes_, &QButtonGroup::idClicked, this,
            [this](int id) { model_.setSearchScope(SearchScope(id)); });
    connect(&model_, &AppModel::searchTextChanged, this, &SearchField::showText);
    connect(&model_, &AppModel::searchScopeChanged, this, &SearchField::showScopes);
    connect(model_.accounts(), &AccountManager::accountsChanged, this, &SearchField::showScopes);
    // Choosing anything in the sidebar ends the search.
    connect(&model_, &AppModel::selectionChanged, this,
            [this] { model_.setSearchText(QString()); });

    showText();
    showScopes();
    task_ = new SearchTask(model_, std::move(scheduler), this);
}

SearchField::~SearchField() = default;

void SearchField::showText() {
    if (edit_->text() != model_.searchText())
        edit_->setText(model_.searchText());
}

void SearchField::showScopes() {
    const QList<SearchScope> available = availableSearchScopes(model_);
    for (QAbstractButton* button : scopes_->buttons())
        button->setVisible(available.contains(SearchScope(scopes_->id(button))));
    if (QAbstractButton* current = scopes_->button(int(model_.searchScope())))
        current->setChecked(true);
    scopeBar_->setVisible(!available.isEmpty());
}

} // namespace tw

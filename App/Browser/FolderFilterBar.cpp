#include "App/Browser/FolderFilterBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QToolButton>

namespace tw {

namespace {

constexpr int kAll = 0;

int idOf(const std::optional<FileCategory>& filter) {
    return filter ? int(*filter) + 1 : kAll;
}

} // namespace

FolderFilterBar::FolderFilterBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("filterBar"));
    setFixedHeight(28);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    row->setSpacing(0);

    auto* picker = new QWidget(this);
    picker->setObjectName(QStringLiteral("filterPicker"));
    picker->setAccessibleName(QStringLiteral("Show file type"));
    picker->setMaximumWidth(520);
    auto* segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(2);
    segments_ = new QButtonGroup(this);
    segments_->setExclusive(true);

    auto addSegment = [&](const QString& title, const QString& name, int id) {
        auto* button = new QToolButton(picker);
        button->setText(title);
        button->setObjectName(name);
        button->setAccessibleName(title);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFocusPolicy(Qt::TabFocus);
        segments->addWidget(button);
        segments_->addButton(button, id);
    };
    addSegment(QStringLiteral("All"), QStringLiteral("filterAll"), kAll);
    for (FileCategory category : FileCategories::allCases())
        addSegment(FileCategories::displayName(category),
                   QStringLiteral("filter") + FileCategories::displayName(category),
                   idOf(category));
    connect(segments_, &QButtonGroup::idClicked, this, [this](int id) {
        Q_EMIT filterChosen(id == kAll ? std::nullopt
                                       : std::optional<FileCategory>(FileCategory(id - 1)));
    });
    row->addWidget(picker, 1);
    row->addStretch(0);
    setFilter(std::nullopt);
}

void FolderFilterBar::setFilter(const std::optional<FileCategory>& filter) {
    if (QAbstractButton* button = segments_->button(idOf(filter)))
        button->setChecked(true);
}

} // namespace tw

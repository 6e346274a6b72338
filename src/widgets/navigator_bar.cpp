// The navigator bar of a table: move, insert, delete, edit, post, cancel.
#include "widgets/navigator_bar.h"

#include <algorithm>

#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "db/table.h"

namespace zentaro::app {

namespace {

struct ButtonSpec {
    db::NavButton button;
    const char* object;
    const char* tip;
    const char* icon;
    QStyle::StandardPixmap fallback;
};

const ButtonSpec kSpecs[] = {
    {db::NavButton::First, "nbFirst", "В начало", "go-first", QStyle::SP_MediaSkipBackward},
    {db::NavButton::Prior, "nbPrior", "Назад", "go-previous", QStyle::SP_ArrowLeft},
    {db::NavButton::Next, "nbNext", "Вперед", "go-next", QStyle::SP_ArrowRight},
    {db::NavButton::Last, "nbLast", "В конец", "go-last", QStyle::SP_MediaSkipForward},
    {db::NavButton::Insert, "nbInsert", "Добавить", "list-add", QStyle::SP_FileDialogNewFolder},
    {db::NavButton::Delete, "nbDelete", "Удалить", "list-remove", QStyle::SP_TrashIcon},
    {db::NavButton::Edit, "nbEdit", "Редактировать", "document-edit", QStyle::SP_FileDialogDetailedView},
    {db::NavButton::Post, "nbPost", "Закончить редактировать", "dialog-ok-apply",
     QStyle::SP_DialogApplyButton},
    {db::NavButton::Cancel, "nbCancel", "Отменить редактирование", "dialog-cancel",
     QStyle::SP_DialogCancelButton},
    {db::NavButton::Refresh, "nbRefresh", "Перезагрузить", "view-refresh", QStyle::SP_BrowserReload},
};

} // namespace

NavigatorBar::NavigatorBar(const QString& name, db::Table& table, const Buttons& visible, QWidget* parent,
                           Qt::Orientation orientation)
    : QWidget(parent), m_table(table) {
    setObjectName(name);
    auto* layout = new QBoxLayout(
        orientation == Qt::Horizontal ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom, this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const ButtonSpec& s : kSpecs) {
        auto* b = new QToolButton(this);
        b->setObjectName(name + u'_' + QString::fromLatin1(s.object));
        b->setAutoRaise(true);
        setHint(b, QString::fromUtf8(s.tip));
        b->setIcon(themeIcon(s.icon, s.fallback));
        b->setIconSize(QSize(16, 16));
        b->setVisible(visible.contains(s.button));
        connect(b, &QToolButton::clicked, this, [this, btn = s.button] { trigger(btn); });
        layout->addWidget(b);
        m_buttons << b;
    }
    layout->addStretch();
    if (orientation == Qt::Horizontal) setFixedWidth(224);
}

void NavigatorBar::focusGrid(bool firstEditable) {
    // Typing goes into the new or edited record: the keyboard moves to this navigator's grid, on its row,
    // into a cell that takes typing.
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        for (DataGrid* grid : w->findChildren<DataGrid*>()) {
            if (&grid->table() != &m_table || !grid->isVisibleTo(window())) continue;
            grid->setFocus(Qt::OtherFocusReason);
            const int row = m_table.currentPos();
            if (row >= 0) {
                int column = grid->currentIndex().isValid() ? grid->currentIndex().column() : 0;
                const QModelIndex cell = grid->model()->index(row, column);
                if (firstEditable || !(cell.flags() & Qt::ItemIsEditable))
                    column = std::max(grid->firstEditableColumn(), 0);
                grid->setCurrentIndex(grid->model()->index(row, column));
            }
            return;
        }
    }
}

QToolButton* NavigatorBar::button(db::NavButton b) const {
    return m_buttons.value(int(b));
}

void NavigatorBar::trigger(db::NavButton b) {
    if (beforeAction && !beforeAction(objectName(), b)) return;
    switch (b) {
    case db::NavButton::First:
        m_table.first();
        break;
    case db::NavButton::Prior:
        m_table.prior();
        break;
    case db::NavButton::Next:
        m_table.next();
        break;
    case db::NavButton::Last:
        m_table.last();
        break;
    case db::NavButton::Insert:
        m_table.insert();
        focusGrid(true);
        break;
    case db::NavButton::Delete:
        m_table.deleteRecord();
        break;
    case db::NavButton::Edit:
        m_table.edit();
        focusGrid(false);
        break;
    case db::NavButton::Post:
        m_table.post();
        break;
    case db::NavButton::Cancel:
        m_table.cancel();
        break;
    case db::NavButton::Refresh:
        m_table.checkBrowseMode();
        break;
    }
}

} // namespace zentaro::app

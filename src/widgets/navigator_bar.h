// The navigator bar of a table: move, insert, delete, edit, post, cancel.
#pragma once

#include <functional>

#include <QWidget>

#include "db/record_rules.h"

class QToolButton;

namespace zentaro::db {
class Table;
}

namespace zentaro::app {

// The navigator bar of a table: first, prior, next, last, insert, delete, edit, post, cancel, refresh,
// each button shown only when the bar's set names it. A before-action check can cancel any button.
class NavigatorBar : public QWidget {
    Q_OBJECT
public:
    using Buttons = QList<db::NavButton>;
    NavigatorBar(const QString& name, db::Table& table, const Buttons& visible, QWidget* parent = nullptr,
                 Qt::Orientation orientation = Qt::Horizontal);

    std::function<bool(const QString& navigator, db::NavButton)> beforeAction;
    QToolButton* button(db::NavButton b) const;
    // Runs the button's action as a click would.
    void trigger(db::NavButton b);

private:
    void focusGrid(bool firstEditable);
    db::Table& m_table;
    QList<QToolButton*> m_buttons;
};

} // namespace zentaro::app

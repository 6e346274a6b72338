// What every pane is built from: its context, the toolbar strip and the find button.
#pragma once

#include <QList>
#include <QString>
#include <QStyle>

#include "db/forward.h"
#include "db/record_rules.h"
#include "db/table_model.h"

class QFrame;
class QLabel;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace zentaro::app {

class DataGrid;
class NavigatorBar;

// What every pane works with.
struct PaneContext {
    db::Database& db;
    db::RecordRules& rules;
    UserInterface& ui;
};

inline const QList<db::NavButton> kEditNavigator = {
    db::NavButton::First,  db::NavButton::Prior,  db::NavButton::Next, db::NavButton::Last,
    db::NavButton::Insert, db::NavButton::Delete, db::NavButton::Edit, db::NavButton::Post};

// The white 30-pixel strip that opens a list page, with the navigator at its left end.
QFrame* toolbarStrip(QWidget* parent, const QString& name);
// What opens most list pages: the page's tight column (returned) with the toolbar strip at its top holding
// the table's navigator and a find button over the field.
struct ListStrip {
    QString strip, navigator, find, field, prompt;
};
QVBoxLayout* listColumn(const PaneContext& ctx, QWidget* page, db::Table& table, const ListStrip& names,
                        QFrame** strip = nullptr);
// A flat 16x16 speed button added to a toolbar strip.
QToolButton* speedButton(QFrame* strip, const QString& name, const QString& hint, const char* icon,
                         QStyle::StandardPixmap fallback);
// The lavender header strip with its bold centred caption panel; returns the caption label.
QLabel* headerStrip(QWidget* parent, const QString& stripName, const QString& captionName,
                    const QString& caption);
NavigatorBar* navigator(const PaneContext& ctx, QFrame* strip, const QString& name, db::Table& table,
                        const QList<db::NavButton>& buttons);
// A grid over the table whose title clicks order the table as that grid's rule says.
DataGrid* grid(const PaneContext& ctx, QWidget* parent, const QString& name, db::Table& table,
               QList<db::GridColumn> columns);
// The button that opens a list's popup menu (given with setMenu), so that its commands are found without
// the right mouse button.
QToolButton* menuButton(QWidget* parent, const QString& name);
// A find button: the "Поиск" dialog with the prompt, then the first record whose field starts with the text.
QToolButton* findButton(const PaneContext& ctx, QFrame* strip, const QString& name, db::Table& table,
                        const QString& field, const QString& prompt);

} // namespace zentaro::app

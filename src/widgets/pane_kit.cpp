// What every pane is built from: its context, the toolbar strip and the find button.
#include "widgets/pane_kit.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "db/database.h"
#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "widgets/navigator_bar.h"
#include "db/grid_sort.h"

namespace zentaro::app {

QFrame* toolbarStrip(QWidget* parent, const QString& name) {
    auto* strip = new QFrame(parent);
    strip->setObjectName(name);
    strip->setFixedHeight(30);
    strip->setAutoFillBackground(true);
    QPalette p = strip->palette();
    p.setColor(QPalette::Window, Qt::white);
    strip->setPalette(p);
    auto* layout = new QHBoxLayout(strip);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addStretch();
    return strip;
}

QVBoxLayout* listColumn(const PaneContext& ctx, QWidget* page, db::Table& table, const ListStrip& names,
                        QFrame** strip) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QFrame* bar = toolbarStrip(page, names.strip);
    navigator(ctx, bar, names.navigator, table, kEditNavigator);
    findButton(ctx, bar, names.find, table, names.field, names.prompt);
    layout->addWidget(bar);
    if (strip) *strip = bar;
    return layout;
}

namespace {
void addToStrip(QFrame* strip, QWidget* w) {
    auto* layout = static_cast<QHBoxLayout*>(strip->layout());
    layout->insertWidget(layout->count() - 1, w);
}
} // namespace

QToolButton* speedButton(QFrame* strip, const QString& name, const QString& hint, const char* icon,
                         QStyle::StandardPixmap fallback) {
    auto* b = new QToolButton(strip);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setIcon(themeIcon(icon, fallback));
    b->setIconSize(QSize(16, 16));
    b->setFixedSize(28, 26);
    setHint(b, hint);
    addToStrip(strip, b);
    return b;
}

QLabel* headerStrip(QWidget* parent, const QString& stripName, const QString& captionName,
                    const QString& caption) {
    auto* strip = new QFrame(parent);
    strip->setObjectName(stripName);
    strip->setFixedHeight(29);
    strip->setStyleSheet(
        QStringLiteral("QFrame#%1 { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                       "stop:0 rgb(235,235,255), stop:0.5 rgb(215,215,255), stop:1 rgb(195,195,245)); }")
            .arg(stripName));
    auto* layout = new QHBoxLayout(strip);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(caption, strip);
    label->setObjectName(captionName);
    label->setAlignment(Qt::AlignCenter);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    label->setStyleSheet(QStringLiteral("color: black; background: transparent;"));
    layout->addWidget(label);
    return label;
}

NavigatorBar* navigator(const PaneContext& ctx, QFrame* strip, const QString& name, db::Table& table,
                        const QList<db::NavButton>& buttons) {
    auto* nav = new NavigatorBar(name, table, buttons, strip);
    nav->beforeAction = [&rules = ctx.rules](const QString& n, db::NavButton b) {
        return rules.DBNavigator1BeforeAction(n, b);
    };
    if (strip->layout()) static_cast<QHBoxLayout*>(strip->layout())->insertWidget(0, nav);
    return nav;
}

DataGrid* grid(const PaneContext& ctx, QWidget* parent, const QString& name, db::Table& table,
               QList<db::GridColumn> columns) {
    auto* model = new db::TableModel(table, std::move(columns));
    auto* g = new DataGrid(model, parent);
    model->setParent(g);
    g->setObjectName(name);
    g->refuseChange = [&db = ctx.db] { return db.refuseDuringRun(); };
    QObject::connect(g, &DataGrid::titleClicked, g, [g, name](const QString& field) {
        // The order of a table that a run walks stays as the run found it.
        if (g->table().controlsDisabled()) return;
        const bool wait = db::titleClickShowsWaitCursor(name, field);
        if (wait) QApplication::setOverrideCursor(Qt::WaitCursor);
        db::gridTitleClick(name, g->table(), field);
        if (wait) QApplication::restoreOverrideCursor();
    });
    return g;
}

QToolButton* menuButton(QWidget* parent, const QString& name) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setText(QStringLiteral("Команды"));
    b->setIcon(themeIcon("open-menu", QStyle::SP_TitleBarUnshadeButton));
    b->setIconSize(QSize(16, 16));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setPopupMode(QToolButton::InstantPopup);
    b->setFixedHeight(26);
    setHint(b,
            QStringLiteral("Команды списка|Команды списка: проверки, фильтры, импорт и экспорт (то же меню "
                           "открывает правая кнопка мыши)"));
    return b;
}

QToolButton* findButton(const PaneContext& ctx, QFrame* strip, const QString& name, db::Table& table,
                        const QString& field, const QString& prompt) {
    QToolButton* b =
        speedButton(strip, name, QStringLiteral("Поиск"), "edit-find", QStyle::SP_FileDialogContentsView);
    QObject::connect(b, &QToolButton::clicked, b,
                     [&ui = ctx.ui, &table, field, prompt] { db::findByPrompt(ui, table, field, prompt); });
    return b;
}

} // namespace zentaro::app

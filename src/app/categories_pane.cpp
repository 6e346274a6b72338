// The category panes: link categories of the current project and trust-site categories.
#include "app/categories_pane.h"

#include <QFrame>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "db/database.h"

namespace zentaro::app {

namespace {

DataGrid* categoryList(const PaneContext& ctx, QWidget* page, db::Table& t, const QString& strip,
                       const QString& nav, const QString& find, const QString& gridName) {
    QVBoxLayout* layout = listColumn(
        ctx, page, t, {strip, nav, find, QStringLiteral("Name"), QStringLiteral("Название категории:")});
    DataGrid* g = grid(ctx, page, gridName, t,
                       {{QStringLiteral("ID"), QStringLiteral("#"), 37},
                        {QStringLiteral("Name"), QStringLiteral("Название"), 236}});
    layout->addWidget(g);
    return g;
}

} // namespace

CategoriesPane::CategoriesPane(const PaneContext& ctx, QWidget* linkCatPage, QWidget* siteCatPage)
    : QObject(linkCatPage) {
    m_cat2 = categoryList(ctx, linkCatPage, ctx.db.tbCat2, QStringLiteral("Panel13"),
                          QStringLiteral("DBNavigator10"), QStringLiteral("SpeedButton1"),
                          QStringLiteral("grdCat2"));
    categoryList(ctx, siteCatPage, ctx.db.tbCat, QStringLiteral("Panel7"), QStringLiteral("DBNavigator3"),
                 QStringLiteral("sbCatFind"), QStringLiteral("grdCat"));
}

} // namespace zentaro::app

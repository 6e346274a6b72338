// Sorting a table's view by a grid column title.
#include "db/grid_sort.h"

#include "db/table.h"
#include "util/user_interface.h"

namespace zentaro::db {

void GrdSort(Table& cds, const QString& fld, bool dsc) {
    const QString name = QStringLiteral("is_") + fld;
    for (const QString& existing : cds.indexNames())
        if (existing.left(3) == QLatin1String("is_")) cds.deleteIndex(existing);
    cds.addIndex(name, fld, dsc);
    cds.setIndexName(name);
}

bool titleClickShowsWaitCursor(const QString& grid, const QString& field) {
    if (grid == QLatin1String("grdProject") || grid == QLatin1String("grdCat"))
        return field == QLatin1String("ID") || field == QLatin1String("Name");
    if (grid == QLatin1String("grdLink"))
        return field != QLatin1String("TIC") && field != QLatin1String("PR");
    return grid == QLatin1String("grdSite");
}

void gridTitleClick(const QString& grid, Table& table, const QString& field) {
    auto byField = [&](const QString& f) { table.setIndexFieldNames(f); };
    if (grid == QLatin1String("grdProject") || grid == QLatin1String("grdCat") ||
        grid == QLatin1String("grdCat2")) {
        if (field == QLatin1String("ID") || field == QLatin1String("Name")) byField(field);
    } else if (grid == QLatin1String("grdAccount") || grid == QLatin1String("grdAncor")) {
        byField(field);
    } else if (grid == QLatin1String("grdLink")) {
        if (field == QLatin1String("TIC") || field == QLatin1String("PR")) {
            GrdSort(table, field, true);
        } else {
            byField(field.compare(QLatin1String("_cat"), Qt::CaseInsensitive) == 0 ? QStringLiteral("LinkCat")
                                                                                   : field);
        }
    } else if (grid == QLatin1String("grdSite")) {
        if (field == QLatin1String("TIC") || field == QLatin1String("PR") || field == QLatin1String("Social"))
            GrdSort(table, field, true);
        else if (field == QLatin1String("_Cat"))
            byField(QStringLiteral("CatID"));
        else if (field == QLatin1String("Site"))
            byField(field);
        else if (field == QLatin1String("ID") || field == QLatin1String("_num"))
            byField(QStringLiteral("ID"));
        table.first();
    }
}

bool findByPrompt(UserInterface& ui, Table& table, const QString& field, const QString& prompt) {
    QString text;
    if (!ui.inputQuery(QStringLiteral("Поиск"), prompt, text) || text.isEmpty()) return false;
    return table.findPrefix(field, text);
}

} // namespace zentaro::db

// The eight tables and the state flags that tie the operations together.
#include "db/database.h"

#include "db/tables.h"

namespace zentaro::db {

Database::Database(QObject* parent) : QObject(parent) {
    defineProjectTable(tbProject);
    defineCatTable(tbCat);
    defineCat2Table(tbCat2);
    defineSiteTable(tbSite, tbCat);
    defineLinkTable(tbLink, tbSite, tbCat2);
    defineAncorTable(tbAncor);
    defineAccountTable(tbAccount);
    defineSetsTable(tbSets);
}

bool Database::refuseDuringRun() {
    if (!runGoing) return false;
    emit refusedDuringRun();
    return true;
}

QString tableFileName(const Table& t) {
    static const QHash<QString, QString> names = {
        {QStringLiteral("tbProject"), QStringLiteral("project.adb")},
        {QStringLiteral("tbCat"), QStringLiteral("cat.adb")},
        {QStringLiteral("tbCat2"), QStringLiteral("cat2.adb")},
        {QStringLiteral("tbSite"), QStringLiteral("site.adb")},
        {QStringLiteral("tbLink"), QStringLiteral("link.adb")},
        {QStringLiteral("tbAncor"), QStringLiteral("ancor.adb")},
        {QStringLiteral("tbAccount"), QStringLiteral("account.adb")},
        {QStringLiteral("tbSets"), QStringLiteral("sets.adb")}};
    return names.value(t.tableName());
}

} // namespace zentaro::db

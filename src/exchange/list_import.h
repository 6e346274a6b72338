#pragma once

#include <QString>
#include <QStringList>

namespace zentaro {
class UserInterface;
}
namespace zentaro::db {
class Database;
}
namespace zentaro::web {
class RunPanel;
}

namespace zentaro::exchange {

// What the import dialog gives: the file, the column divider ("tab" or one character) and the column order
// ("|URL ссылки|Цена|Дата|" by default).
struct ImportChoice {
    QString fileName;
    QString symbol = QStringLiteral("tab");
    QString fields = QStringLiteral("|URL ссылки|Цена|Дата|");
};

// Splits one line into the address, date and price columns by the column order; an address without "http"
// comes back empty.
void PrepareLinkString(const QString& SText, const QString& SRule, const QString& SDiv, QString& SURL,
                       QString& SDate, QString& SPrice);

// Adds a link page for every line whose address is not yet listed (nor added before from the same file), with
// the current project and link category, as one change of the files; progress and stop through the panel.
// Returns the number added.
int ImportLinks(db::Database& db, const QStringList& lines, const ImportChoice& choice, web::RunPanel& panel);
// Adds a trust site for every non-blank line whose domain is not listed, with the current site category.
int ImportSite(db::Database& db, const QStringList& lines);

} // namespace zentaro::exchange

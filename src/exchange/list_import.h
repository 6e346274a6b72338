// Import of link and site lists from text files.
#pragma once

#include <QString>
#include <QStringList>

#include "db/forward.h"
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
    // The divider the dialog offered but was not chosen: a file that mostly holds it was likely meant so.
    QString otherSymbol = QStringLiteral(";");
};

// What an import did beside adding: the lines it passed over and why, for the closing message.
struct ImportReport {
    int added = 0;
    int noAddress = 0;         // a non-blank line without an address ("http" for links)
    int tooLong = 0;           // an address longer than the field holds
    int withNul = 0;           // a line holding NUL characters: a file in an encoding not understood
    int badDate = 0;           // added with today's date: the date column could not be read
    int badPrice = 0;          // added without a price: the price column is no number
    bool otherDivider = false; // most lines hold the other divider and not the chosen one
    QString otherSymbol;
    QString refusal; // nothing was imported, and why
};

// The closing message: "Добавлено новых элементов: N" and a line for every kind of line passed over.
QString importSummary(const ImportReport& report);

// Splits one line into the address, date and price columns by the column order; an address without "http"
// comes back empty.
void PrepareLinkString(const QString& SText, const QString& SRule, const QString& SDiv, QString& SURL,
                       QString& SDate, QString& SPrice);

// Adds a link page for every line whose address is not yet listed (nor added before from the same file), with
// the current project and link category, as one change of the files; progress and stop through the panel.
// Returns the number added. Refused when no project is current: the links would belong to none.
int ImportLinks(db::Database& db, const QStringList& lines, const ImportChoice& choice, web::RunPanel& panel,
                ImportReport* report = nullptr);
// Adds a trust site for every non-blank line whose domain is not listed, with the current site category.
int ImportSite(db::Database& db, const QStringList& lines, ImportReport* report = nullptr);

} // namespace zentaro::exchange

#include "exchange/list_import.h"

#include <algorithm>

#include <QLocale>
#include <QSet>

#include "db/database.h"
#include "db/record_rules.h"
#include "util/text_helpers.h"
#include "web/batch_run.h"
#include "web/url_forms.h"

namespace zentaro::exchange {

void PrepareLinkString(const QString& SText, const QString& SRule, const QString& SDiv, QString& SURL,
                       QString& SDate, QString& SPrice) {
    SURL.clear();
    SDate.clear();
    SPrice.clear();
    if (SText.isEmpty()) return;
    const QStringList names = SRule.split(u'|', Qt::SkipEmptyParts);
    const QString divider = SDiv == QLatin1String("tab") ? QStringLiteral("\t") : SDiv;
    QStringList columns;
    if (!divider.isEmpty()) {
        const QString text = SText + divider;
        qsizetype start = 0;
        for (qsizetype at = text.indexOf(divider); at >= 0 && columns.size() < 3;
             at = text.indexOf(divider, start)) {
            columns << text.mid(start, at - start);
            start = at + divider.size();
        }
    }
    auto column = [&](const char* name) {
        return columns.value(int(names.indexOf(QString::fromUtf8(name))));
    };
    SURL = column("URL ссылки");
    SPrice = column("Цена");
    SDate = column("Дата");
    if (!SURL.toLower().contains(QStringLiteral("http"))) SURL.clear();
}

namespace {

// The highest ID of the whole table, its filter ignored.
int highestId(const db::Table& t) {
    const int id = t.fieldIndex(QStringLiteral("ID"));
    int top = 0;
    for (int row = 0; row < t.rowCapacity(); ++row)
        if (t.rowAlive(row) && row != t.insertRow()) top = std::max(top, t.rowValue(row, id).toInt());
    return top;
}

// The ID of a table's current record, 0 when it has none (as the insert rule takes it).
int currentId(const db::Table& t) {
    return t.currentPos() >= 0 ? t.asInteger(QStringLiteral("ID")) : 0;
}

} // namespace

int ImportLinks(db::Database& db, const QStringList& lines, const ImportChoice& choice,
                web::RunPanel& panel) {
    db::Table& links = db.tbLink;
    // Thousands of lines: the new records get what the insert rule would give them (the next ID, today, the
    // current project, status "0", the current category) without the rule's walk over the whole table for
    // each.
    const bool withDefaults = db.tbSite.currentPos() >= 0 && !db.tbSite.isNull(QStringLiteral("ID"));
    int nextId = highestId(links);
    const int project = currentId(db.tbProject), category = currentId(db.tbCat2);
    const QDate today = QDate::currentDate();
    QSet<QString> listed;
    for (int pos = 0; pos < links.recordCount(); ++pos)
        listed.insert(links.valueAt(pos, links.fieldIndex(QStringLiteral("PageURL"))).toString().toLower());
    const db::Change change(db.store);
    db.isAuto = true;
    db.runGoing = true;
    links.blankControls();
    panel.showRun(true);
    db.isStop = false;
    int added = 0;
    // Records are only ever appended: a table that grew by more than this import's own records had one
    // added in the event turns, whose ID the count must then pass.
    int knownRows = links.rowCapacity();
    const int n = int(lines.size());
    for (int i = 0; i < n; ++i) {
        if (links.rowCapacity() != knownRows) nextId = std::max(nextId, highestId(links));
        panel.setProgress(web::progressPercent(i, n));
        const QString line = lines[i].toLower();
        QString url, date, price;
        PrepareLinkString(line, choice.fields, choice.symbol, url, date, price);
        // The address decides, not the whole line: a line with a price or date is not added again, nor an
        // address the file lists twice.
        if (!url.isEmpty() && !listed.contains(url)) {
            listed.insert(url);
            db.InsFlag = true;
            const bool inserted = links.insert();
            db.InsFlag = false;
            if (inserted) {
                if (withDefaults) {
                    links.setValue(QStringLiteral("ID"), ++nextId);
                    links.setValue(QStringLiteral("PublicDate"), today);
                    links.setValue(QStringLiteral("ProjectID"), project);
                    links.setValue(QStringLiteral("PageStatus"), QStringLiteral("0"));
                    links.setValue(QStringLiteral("LinkCat"), category);
                }
                links.setValue(QStringLiteral("PageURL"),
                               url.left(links.field(links.fieldIndex(QStringLiteral("PageURL"))).size));
                const QDate d = QLocale().toDate(date, QLocale::ShortFormat);
                if (!date.isEmpty() && d.isValid()) links.setValue(QStringLiteral("PublicDate"), d);
                if (!price.isEmpty())
                    if (const std::optional<double> p = StrToNormalFloat(price))
                        links.setValue(QStringLiteral("Price"), *p);
                if (db.tbCat2.currentPos() >= 0)
                    links.setValue(QStringLiteral("LinkCat"), db.tbCat2.asInteger(QStringLiteral("ID")));
                links.post();
                ++added;
            }
        }
        knownRows = links.rowCapacity();
        panel.processEvents();
        if (db.isStop) break;
    }
    db.isAuto = false;
    db.runGoing = false;
    links.unblankControls();
    links.last();
    panel.showRun(false);
    db.isStop = false;
    return added;
}

int ImportSite(db::Database& db, const QStringList& lines) {
    db::Table& sites = db.tbSite;
    QSet<QString> listed;
    for (int pos = 0; pos < sites.recordCount(); ++pos)
        listed.insert(sites.valueAt(pos, sites.fieldIndex(QStringLiteral("Site"))).toString().toLower());
    const db::Change change(db.store);
    db.isAuto = true;
    sites.disableControls();
    int added = 0;
    for (const QString& line : lines) {
        const QString domain = web::ExtractDomain(line.toLower()).left(128);
        // A blank line is no site; a domain listed twice is added once.
        if (domain.trimmed().isEmpty() || listed.contains(domain.toLower()) || !sites.insert()) continue;
        listed.insert(domain.toLower());
        sites.setValue(QStringLiteral("Site"), domain);
        if (db.tbCat.currentPos() >= 0)
            sites.setValue(QStringLiteral("CatID"), db.tbCat.asInteger(QStringLiteral("ID")));
        sites.post();
        ++added;
    }
    db.isAuto = false;
    sites.enableControls();
    sites.last();
    return added;
}

} // namespace zentaro::exchange

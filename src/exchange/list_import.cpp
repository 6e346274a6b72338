#include "exchange/list_import.h"

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

int ImportLinks(db::Database& db, const QStringList& lines, const ImportChoice& choice,
                web::RunPanel& panel) {
    db::Table& links = db.tbLink;
    QSet<QString> listed;
    for (int pos = 0; pos < links.recordCount(); ++pos)
        listed.insert(links.valueAt(pos, links.fieldIndex(QStringLiteral("PageURL"))).toString().toLower());
    const db::Change change(db.store);
    db.isAuto = true;
    links.disableControls();
    panel.showRun(true);
    db.isStop = false;
    int added = 0;
    const int n = int(lines.size());
    for (int i = 0; i < n; ++i) {
        panel.setProgress(web::progressPercent(i, n));
        const QString line = lines[i].toLower();
        QString url, date, price;
        PrepareLinkString(line, choice.fields, choice.symbol, url, date, price);
        // The address decides, not the whole line: a line with a price or date is not added again, nor an
        // address the file lists twice.
        if (!url.isEmpty() && !listed.contains(url)) {
            listed.insert(url);
            if (links.insert()) {
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
        panel.processEvents();
        if (db.isStop) break;
    }
    db.isAuto = false;
    links.enableControls();
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

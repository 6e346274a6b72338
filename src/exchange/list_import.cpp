// Import of link and site lists from text files.
#include "exchange/list_import.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include <QSet>

#include "db/database.h"
#include "db/record_rules.h"
#include "util/regional.h"
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
    // Only a web address is a link page: one that merely holds "http" somewhere (or begins with "=") is not.
    SURL = SURL.trimmed();
    if (!SURL.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !SURL.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        SURL.clear();
}

namespace {

// The highest ID of the whole table, its filter ignored.
// The IDs the table's records hold.
std::unordered_set<int> takenIds(const db::Table& t) {
    const int id = t.fieldIndex(QStringLiteral("ID"));
    std::unordered_set<int> taken;
    for (int row = 0; row < t.rowCapacity(); ++row)
        if (t.rowAlive(row) && row != t.insertRow()) taken.insert(t.rowValue(row, id).toInt());
    return taken;
}

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

QString importSummary(const ImportReport& r) {
    if (!r.refusal.isEmpty()) return r.refusal;
    QString text = QStringLiteral("Добавлено новых элементов: ") + QString::number(r.added);
    auto line = [&](int count, const char* what) {
        if (count > 0) text += QStringLiteral("\r\n") + QString::fromUtf8(what) + QString::number(count);
    };
    line(r.noAddress, "Пропущено строк без адреса: ");
    line(r.tooLong, "Пропущено строк с адресом длиннее 255 знаков: ");
    line(r.withNul, "Пропущено строк с нулевыми знаками (файл в неизвестной кодировке): ");
    line(r.badDate, "Добавлено с сегодняшней датой, дата не прочитана: ");
    line(r.badPrice, "Добавлено без цены, цена не прочитана: ");
    if (r.otherDivider) {
        const QString other = r.otherSymbol == QLatin1String("tab") ? QStringLiteral("табуляцией")
                                                                    : u'"' + r.otherSymbol + u'"';
        text += QStringLiteral("\r\nВнимание: в большинстве строк столбцы разделены знаком %1, а выбран "
                               "другой разделитель.")
                    .arg(other);
    }
    return text;
}

namespace {

QString dividerText(const QString& symbol) {
    return symbol == QLatin1String("tab") ? QStringLiteral("\t") : symbol;
}

// Whether most non-blank lines hold the other divider and not the chosen one.
bool mostHoldOther(const QStringList& lines, const ImportChoice& choice) {
    const QString chosen = dividerText(choice.symbol), other = dividerText(choice.otherSymbol);
    if (other.isEmpty() || other == chosen) return false;
    int nonBlank = 0, holding = 0;
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty()) continue;
        ++nonBlank;
        if (line.contains(other) && (chosen.isEmpty() || !line.contains(chosen))) ++holding;
    }
    return holding * 2 > nonBlank;
}

} // namespace

int ImportLinks(db::Database& db, const QStringList& lines, const ImportChoice& choice, web::RunPanel& panel,
                ImportReport* report) {
    ImportReport local;
    ImportReport& r = report ? *report : local;
    r = ImportReport{};
    db::Table& links = db.tbLink;
    const int project = currentId(db.tbProject), category = currentId(db.tbCat2);
    // Links belong to a project: without one they would be stored but shown nowhere.
    if (project == 0) {
        r.refusal = QStringLiteral("Нет текущего проекта: выберите проект, в который добавить ссылки.");
        return 0;
    }
    r.otherSymbol = choice.otherSymbol;
    r.otherDivider = mostHoldOther(lines, choice);
    // Thousands of lines: the new records get what the insert rule would give them (the next ID, today, the
    // current project, status "0", the current category) without the rule's walk over the whole table for
    // each, whether a trust site is current or not.
    int nextId = highestId(links);
    const QDate today = QDate::currentDate();
    const int urlField = links.fieldIndex(QStringLiteral("PageURL"));
    const int urlSize = links.field(urlField).size;
    QSet<QString> listed;
    for (int pos = 0; pos < links.recordCount(); ++pos)
        listed.insert(links.valueAt(pos, urlField).toString().toLower());
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
    // Once the highest number is taken (a table read in with it), one more would overflow: the numbers no
    // record holds are given from 1 up.
    std::unordered_set<int> taken;
    bool wrapped = false;
    const auto newId = [&] {
        if (!wrapped && nextId < std::numeric_limits<int>::max()) return ++nextId;
        if (!wrapped) {
            wrapped = true;
            taken = takenIds(links);
            nextId = 0;
        }
        do
            ++nextId;
        while (taken.count(nextId));
        taken.insert(nextId);
        return nextId;
    };
    const int n = int(lines.size());
    for (int i = 0; i < n; ++i) {
        if (links.rowCapacity() != knownRows) {
            if (wrapped)
                taken = takenIds(links);
            else
                nextId = std::max(nextId, highestId(links));
        }
        panel.setProgress(web::progressPercent(i, n));
        // The address is kept as written (a server may tell the letter case of its path and query apart);
        // only its scheme and host are lower-cased, and letter case plays no part in finding it listed.
        const QString& line = lines[i];
        QString url, date, price;
        if (line.contains(QChar(u'\0'))) {
            ++r.withNul;
        } else {
            PrepareLinkString(line, choice.fields, choice.symbol, url, date, price);
            if (!url.isEmpty()) url = web::fetchAddress(url);
            if (url.isEmpty() && !line.trimmed().isEmpty()) ++r.noAddress;
        }
        // An address the field cannot hold whole is not cut: cut, it would be another address, and the
        // same file read again would add it again.
        if (!url.isEmpty() && url.size() > urlSize) {
            ++r.tooLong;
            url.clear();
        }
        // The address decides, not the whole line: a line with a price or date is not added again, nor an
        // address the file lists twice.
        if (!url.isEmpty() && !listed.contains(url.toLower())) {
            listed.insert(url.toLower());
            db.InsFlag = true;
            const bool inserted = links.insert();
            db.InsFlag = false;
            if (inserted) {
                links.setValue(QStringLiteral("ID"), newId());
                links.setValue(QStringLiteral("PublicDate"), today);
                links.setValue(QStringLiteral("ProjectID"), project);
                links.setValue(QStringLiteral("PageStatus"), QStringLiteral("0"));
                links.setValue(QStringLiteral("LinkCat"), category);
                links.setValue(QStringLiteral("PageURL"), url);
                if (!date.trimmed().isEmpty()) {
                    if (const std::optional<QDate> d = readDate(date))
                        links.setValue(QStringLiteral("PublicDate"), *d);
                    else
                        ++r.badDate;
                }
                if (!price.isEmpty()) {
                    if (const std::optional<double> p = StrToNormalFloat(price))
                        links.setValue(QStringLiteral("Price"), *p);
                    else
                        ++r.badPrice;
                }
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
    r.added = added;
    return added;
}

int ImportSite(db::Database& db, const QStringList& lines, ImportReport* report) {
    ImportReport local;
    ImportReport& r = report ? *report : local;
    r = ImportReport{};
    db::Table& sites = db.tbSite;
    QSet<QString> listed;
    for (int pos = 0; pos < sites.recordCount(); ++pos)
        listed.insert(sites.valueAt(pos, sites.fieldIndex(QStringLiteral("Site"))).toString().toLower());
    const db::Change change(db.store);
    db.isAuto = true;
    sites.disableControls();
    int added = 0;
    for (const QString& line : lines) {
        // A line with NUL characters is text in an encoding not understood (UTF-16 without its mark).
        if (line.contains(QChar(u'\0'))) {
            ++r.withNul;
            continue;
        }
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
    r.added = added;
    return added;
}

} // namespace zentaro::exchange

#include "cli/check_report.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "db/database.h"
#include "db/link_losses.h"
#include "db/settings.h"
#include "web/batch_run.h"
#include "util/text_helpers.h"

namespace zentaro::cli {

namespace {

// A fixed word per reason, for scripts that should not parse Russian.
QString outcomeWord(db::CheckReason r) {
    using R = db::CheckReason;
    if (db::isNotFetched(r)) return QStringLiteral("not-fetched");
    switch (r) {
    case R::Found:
        return QStringLiteral("found");
    case R::FoundNofollow:
        return QStringLiteral("nofollow");
    case R::FoundNoindex:
        return QStringLiteral("noindex");
    case R::Missing:
        return QStringLiteral("missing");
    case R::NoAnchors:
        return QStringLiteral("no-anchors");
    case R::NoLinks:
        return QStringLiteral("no-links");
    case R::Counted:
        return QStringLiteral("counted");
    case R::Updated:
        return QStringLiteral("updated");
    case R::NoAnswer:
        return QStringLiteral("no-answer");
    case R::Indexed:
        return QStringLiteral("indexed");
    case R::NotIndexed:
        return QStringLiteral("not-indexed");
    default:
        return QStringLiteral("other");
    }
}

// Russian noun forms after a number: 1 ссылка, 3 ссылки, 5 ссылок.
int pluralForm(int n) {
    const int d = n % 10, h = n % 100;
    if (d == 1 && h != 11) return 0;
    if (d >= 2 && d <= 4 && (h < 12 || h > 14)) return 1;
    return 2;
}

QString csvRow(const QStringList& fields) {
    QStringList out;
    for (const QString& f : fields)
        out << csvField(f, u',');
    return out.join(u',') + QStringLiteral("\r\n");
}

// A number for a CSV cell or JSON: whole numbers without a fraction, a point before kopecks.
QString plainNumber(double v) {
    return v == std::floor(v) ? QString::number(qint64(v)) : QString::number(v, 'f', 2);
}

QJsonObject tallyObject(const web::RunTally& t) {
    QJsonObject o = {{QStringLiteral("checked"), t.checked},    {QStringLiteral("found"), t.found},
                     {QStringLiteral("missing"), t.missing},    {QStringLiteral("notFetched"), t.notFetched},
                     {QStringLiteral("noLinks"), t.noLinks},    {QStringLiteral("nofollow"), t.nofollow},
                     {QStringLiteral("noAnchors"), t.noAnchors}};
    if (t.quickRetries > 0) o.insert(QStringLiteral("quickRetries"), t.quickRetries);
    return o;
}

bool isLost(const db::LastCheck& last) {
    return last.lostSince.isValid();
}

bool isUnreachable(const db::LastCheck& last) {
    return last.outcome.kind == db::CheckKind::Presence && db::isUnreachable(last.outcome.reason);
}

// The record row and number of every link page whose last presence check did not find its links: only
// those can be lost or unreachable. One pass over the history instead of a look-up per page, so that a large
// base costs little at start.
template <typename F> void forEachNotFoundPage(const db::Database& db, F&& f) {
    std::vector<db::CheckReason> reasons;
    for (int r = 0; r < 64; ++r)
        if (!db::isFound(db::CheckReason(r))) reasons.push_back(db::CheckReason(r));
    const std::unordered_set<int> candidates = db.checks.withLast(db::CheckSubject::LinkPage, reasons);
    if (candidates.empty()) return;
    const db::Table& t = db.tbLink;
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    for (int row = 0; row < t.rowCapacity(); ++row) {
        if (!t.rowAlive(row)) continue;
        const QVariant id = t.rowValue(row, idField);
        if (id.isValid() && candidates.count(id.toInt())) f(row, id.toInt());
    }
}

} // namespace

std::optional<OutputFormat> formatNamed(const QString& name) {
    if (name == QLatin1String("text")) return OutputFormat::Text;
    if (name == QLatin1String("json")) return OutputFormat::Json;
    if (name == QLatin1String("csv")) return OutputFormat::Csv;
    return std::nullopt;
}

std::vector<CheckedPage> checkedPages(const db::Database& db, db::CheckKind kind, const QDateTime& since,
                                      int onlyProject) {
    std::vector<CheckedPage> out;
    if (!db.checks.isOpen()) return out;
    const bool sites = kind == db::CheckKind::Metrics;
    const db::Table& t = sites ? db.tbSite : db.tbLink;
    std::unordered_map<int, QString> projects;
    const db::Table& p = db.tbProject;
    for (int row = 0; row < p.rowCapacity(); ++row)
        if (p.rowAlive(row))
            projects[p.rowValue(row, p.fieldIndex(QStringLiteral("ID"))).toInt()] =
                p.rowValue(row, p.fieldIndex(QStringLiteral("Name"))).toString();
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    const int addressField = t.fieldIndex(sites ? QStringLiteral("Site") : QStringLiteral("PageURL"));
    const int projectField = sites ? -1 : t.fieldIndex(QStringLiteral("ProjectID"));
    const int priceField = sites ? -1 : t.fieldIndex(QStringLiteral("Price"));
    for (int row = 0; row < t.rowCapacity(); ++row) {
        if (!t.rowAlive(row)) continue;
        const int id = t.rowValue(row, idField).toInt();
        if (id == 0) continue;
        const int project = projectField < 0 ? 0 : t.rowValue(row, projectField).toInt();
        if (onlyProject != 0 && project != onlyProject) continue;
        const auto last = db.checks.last(sites ? db::CheckSubject::Site : db::CheckSubject::LinkPage, id);
        if (!last || last->outcome.kind != kind || last->outcome.at < since) continue;
        CheckedPage page;
        page.id = id;
        if (project != 0) page.project = projects[project];
        page.address = t.rowValue(row, addressField).toString();
        page.outcome = outcomeWord(last->outcome.reason);
        page.reason = db::reasonText(last->outcome.reason);
        page.detail = last->outcome.detail;
        page.lostSince = last->lostSince;
        if (priceField >= 0) {
            const QVariant price = t.rowValue(row, priceField);
            if (price.isValid()) page.price = price.toDouble();
        }
        if (kind == db::CheckKind::Presence) {
            const db::EvidenceStore& ev = db.checks.evidence();
            const int subject = int(db::CheckSubject::LinkPage);
            const auto rows = ev.evidence(db.checks.connection(), subject, id, 1);
            if (!rows.empty()) page.evidence = rows.front().evidence;
            for (const db::ChangeEvent& e : ev.events(db.checks.connection(), subject, id))
                if (e.at >= since) page.changes.prepend(e.text);
        }
        out.push_back(std::move(page));
    }
    std::sort(out.begin(), out.end(), [](const CheckedPage& a, const CheckedPage& b) { return a.id < b.id; });
    return out;
}

namespace {

// The evidence of a presence verdict as scripts read it.
QJsonObject evidenceObject(const db::Evidence& e) {
    QJsonArray hops, links;
    for (const db::RedirectHop& h : e.hops)
        hops.append(QJsonObject{{QStringLiteral("status"), h.status}, {QStringLiteral("target"), h.target}});
    for (const db::LinkSeen& l : e.links) {
        QJsonObject o{{QStringLiteral("anchor"), l.needle}, {QStringLiteral("found"), l.found}};
        if (l.found) {
            o.insert(QStringLiteral("tag"), l.tag);
            o.insert(QStringLiteral("href"), l.href);
            o.insert(QStringLiteral("rel"), QJsonArray::fromStringList(l.rel));
            o.insert(QStringLiteral("text"), l.text);
        } else {
            o.insert(QStringLiteral("nearest"), l.nearest);
            o.insert(QStringLiteral("inComment"), l.inComment);
        }
        links.append(o);
    }
    static const char* const sources[] = {"unknown", "bom", "header", "meta", "fallback"};
    return {{QStringLiteral("requested"), e.requested},
            {QStringLiteral("redirects"), hops},
            {QStringLiteral("finalUrl"), e.finalUrl},
            {QStringLiteral("status"), e.status},
            {QStringLiteral("charset"), e.charset},
            {QStringLiteral("charsetSource"), QLatin1String(sources[int(e.charsetSource)])},
            {QStringLiteral("robotsHeader"), e.robotsHeader},
            {QStringLiteral("robotsMeta"), e.robotsMeta},
            {QStringLiteral("noindex"), e.noindex},
            {QStringLiteral("size"), e.size >= 0 ? QJsonValue(double(e.size)) : QJsonValue()},
            {QStringLiteral("sha256"), QString::fromLatin1(e.sha256)},
            {QStringLiteral("links"), links}};
}

} // namespace

QByteArray summaryJson(const QString& check, const QString& result, const web::RunTally& tally,
                       const std::vector<CheckedPage>* pages) {
    QJsonObject doc{{QStringLiteral("check"), check},
                    {QStringLiteral("result"), result},
                    {QStringLiteral("summary"), tallyObject(tally)}};
    if (pages) {
        QJsonArray list;
        for (const CheckedPage& p : *pages)
            list.append(QJsonObject{
                {QStringLiteral("id"), p.id},
                {QStringLiteral("project"), p.project},
                {QStringLiteral("address"), p.address},
                {QStringLiteral("outcome"), p.outcome},
                {QStringLiteral("reason"), p.reason},
                {QStringLiteral("detail"), p.detail},
                {QStringLiteral("lostSince"),
                 p.lostSince.isValid() ? QJsonValue(p.lostSince.toString(Qt::ISODate)) : QJsonValue()},
                {QStringLiteral("price"), p.price ? QJsonValue(*p.price) : QJsonValue()},
                {QStringLiteral("evidence"),
                 p.evidence ? QJsonValue(evidenceObject(*p.evidence)) : QJsonValue()},
                {QStringLiteral("changes"), QJsonArray::fromStringList(p.changes)}});
        doc.insert(QStringLiteral("pages"), list);
    }
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

QByteArray summaryCsv(const web::RunTally& tally, const std::vector<CheckedPage>* pages) {
    QString out;
    if (!pages) {
        out = csvRow({QStringLiteral("checked"), QStringLiteral("found"), QStringLiteral("missing"),
                      QStringLiteral("not_fetched"), QStringLiteral("no_links"), QStringLiteral("nofollow")});
        out += csvRow({QString::number(tally.checked), QString::number(tally.found),
                       QString::number(tally.missing), QString::number(tally.notFetched),
                       QString::number(tally.noLinks), QString::number(tally.nofollow)});
        return out.toUtf8();
    }
    out = csvRow({QStringLiteral("id"), QStringLiteral("project"), QStringLiteral("address"),
                  QStringLiteral("outcome"), QStringLiteral("reason"), QStringLiteral("detail"),
                  QStringLiteral("lost_since"), QStringLiteral("price")});
    for (const CheckedPage& p : *pages)
        out += csvRow({QString::number(p.id), p.project, p.address, p.outcome, p.reason, p.detail,
                       p.lostSince.isValid() ? p.lostSince.toString(Qt::ISODate) : QString(),
                       p.price ? plainNumber(*p.price) : QString()});
    return out.toUtf8();
}

LossSnapshot snapshotLosses(const db::Database& db) {
    LossSnapshot s;
    if (!db.checks.isOpen()) return s;
    forEachNotFoundPage(db, [&](int, int id) {
        const auto last = db.checks.last(db::CheckSubject::LinkPage, id);
        if (!last) return;
        if (isLost(*last)) s.lost.insert(id);
        if (isUnreachable(*last)) s.unreachable.insert(id);
    });
    return s;
}

Losses lossesSince(const db::Database& db, const QDateTime& since, const LossSnapshot* before) {
    Losses l;
    const db::LinkLosses found = db::linkLossesSince(db, since);
    for (const int id : found.lost)
        if (!(before && before->lost.count(id))) ++l.lost;
    for (const int id : found.unreachable)
        if (!(before && before->unreachable.count(id))) ++l.unreachable;
    // The prices are summed once, over the pages counted.
    if (!before) {
        l.lostPrice = double(found.lostKopecks) / 100.0;
    } else if (l.lost > 0) {
        const db::Table& t = db.tbLink;
        const int idField = t.fieldIndex(QStringLiteral("ID")),
                  priceField = t.fieldIndex(QStringLiteral("Price"));
        qint64 kopecks = 0;
        for (int row = 0; row < t.rowCapacity(); ++row) {
            if (!t.rowAlive(row)) continue;
            const int id = t.rowValue(row, idField).toInt();
            if (found.lost.count(id) && !before->lost.count(id))
                kopecks += qRound64(t.rowValue(row, priceField).toDouble() * 100);
        }
        l.lostPrice = double(kopecks) / 100.0;
    }
    return l;
}

QString moneyText(double amount) {
    const qint64 kopecks = qRound64(std::abs(amount) * 100);
    QString whole = QString::number(kopecks / 100);
    for (qsizetype i = whole.size() - 3; i > 0; i -= 3)
        whole.insert(i, u' ');
    if (kopecks % 100) whole += u',' + QStringLiteral("%1").arg(kopecks % 100, 2, 10, QLatin1Char('0'));
    return (amount < 0 ? QStringLiteral("-") : QString()) + whole + QStringLiteral(" ₽");
}

QString noticeText(const Losses& losses) {
    QStringList lines;
    if (losses.lost > 0)
        lines << QStringLiteral("Пропало ссылок: %1").arg(losses.lost) +
                     (losses.lostPrice > 0 ? QStringLiteral(" (на сумму %1)").arg(moneyText(losses.lostPrice))
                                           : QString());
    if (losses.unreachable > 0) lines << QStringLiteral("Страницы недоступны: %1").arg(losses.unreachable);
    return lines.join(u'\n');
}

QString barText(const Losses& losses, const QDate& since) {
    QStringList parts;
    if (losses.lost > 0) {
        static const char* const verbs[] = {"пропала", "пропало", "пропало"};
        static const char* const nouns[] = {"ссылка", "ссылки", "ссылок"};
        const int f = pluralForm(losses.lost);
        parts << QStringLiteral("%1 %2 %3")
                         .arg(QString::fromUtf8(verbs[f]))
                         .arg(losses.lost)
                         .arg(QString::fromUtf8(nouns[f])) +
                     (losses.lostPrice > 0 ? QStringLiteral(" на ") + moneyText(losses.lostPrice)
                                           : QString());
    }
    if (losses.unreachable > 0) {
        static const char* const verbs[] = {"недоступна", "недоступны", "недоступно"};
        static const char* const nouns[] = {"страница", "страницы", "страниц"};
        const int f = pluralForm(losses.unreachable);
        parts << QStringLiteral("%1 %2 %3")
                     .arg(QString::fromUtf8(verbs[f]))
                     .arg(losses.unreachable)
                     .arg(QString::fromUtf8(nouns[f]));
    }
    if (parts.isEmpty()) return {};
    return QStringLiteral("С %1 ").arg(since.toString(QStringLiteral("dd.MM.yyyy"))) +
           parts.join(QStringLiteral(", "));
}

QString skippedCheckFile(const QString& baseDir) {
    return baseDir + QStringLiteral("check-skipped");
}

WatchNote watchNote(const db::Database& db, const QDateTime& lastStart, bool timerOn,
                    const QDateTime& lastRun, const QDateTime& now) {
    WatchNote note;
    QStringList parts;
    if (lastStart.isValid()) {
        const db::LinkLosses found = db::linkLossesSince(db, lastStart);
        if (found.any()) {
            Losses losses;
            losses.lost = int(found.lost.size());
            losses.unreachable = int(found.unreachable.size());
            losses.lostPrice = double(found.lostKopecks) / 100.0;
            parts << barText(losses, lastStart.date());
            note.offerShow = true;
            note.lostLinks = losses.lost > 0;
            // "Показать" lists exactly the pages the bar counts.
            note.pages = found.lost;
            note.pages.insert(found.unreachable.begin(), found.unreachable.end());
        }
    }
    if (timerOn && (!lastRun.isValid() || lastRun < now.addDays(-2))) {
        parts << (lastRun.isValid() ? QStringLiteral("Последняя автоматическая проверка была %1")
                                          .arg(lastRun.toString(QStringLiteral("dd.MM.yyyy")))
                                    : QStringLiteral("Автоматическая проверка еще не выполнялась"));
        note.offerCheck = true;
    }
    note.text = parts.join(QStringLiteral(". "));
    return note;
}

WatchNote takeWatchNote(db::Database& db, const QDateTime& now) {
    QString text;
    int value = -1;
    const QDateTime lastStart = db::GetOption(db.tbSets, kLastStartKey, text, value)
                                    ? QDateTime::fromString(text, Qt::ISODate)
                                    : QDateTime();
    const QDateTime lastRun = db::GetOption(db.tbSets, kLastCheckKey, text, value)
                                  ? QDateTime::fromString(text, Qt::ISODate)
                                  : QDateTime();
    const bool timerOn = db::GetOption(db.tbSets, kTimerKey, text, value) && value == 1;
    const WatchNote note = watchNote(db, lastStart, timerOn, lastRun, now);
    db::SetOption(db.tbSets, kLastStartKey, now.toString(Qt::ISODate), -1);
    return note;
}

} // namespace zentaro::cli

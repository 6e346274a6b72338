// Builders of the money and time reports: their bars and table rows from the tables.
#include "reports/money_reports.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "db/check_history.h"
#include "db/database.h"
#include "util/text_helpers.h"

namespace zentaro::reports {

namespace {

// Money is summed in kopecks: float sums of prices such as 0.1 and 0.2 would drift.
qint64 kopecks(double price) {
    if (!std::isfinite(price) || std::fabs(price) > 1e13) return 0; // empty or damaged
    return qRound64(price * 100);
}

double roubles(qint64 k) {
    return double(k) / 100;
}

int monthIndex(const QDate& d) {
    int year = 0, month = 0;
    d.getDate(&year, &month, nullptr);
    return year * 12 + month - 1;
}

// Link page IDs: a flag per number while the numbers stay near the table's size (they do: one more than
// the highest), a hash set for numbers beyond.
class IdSet {
public:
    explicit IdSet(int expected) : m_flags(size_t(std::max(expected, 0)) * 4 + 1024) {}
    void insert(int id) {
        if (id >= 0 && size_t(id) < m_flags.size())
            m_flags[size_t(id)] = 1;
        else
            m_far.insert(id);
    }
    bool contains(int id) const {
        return id >= 0 && size_t(id) < m_flags.size() ? m_flags[size_t(id)] != 0 : m_far.contains(id);
    }

private:
    std::vector<char> m_flags;
    std::unordered_set<int> m_far;
};

QString monthOf(int index) {
    const int year = index >= 0 ? index / 12 : (index - 11) / 12;
    return monthName(year, index - year * 12 + 1);
}

struct Project {
    int id = 0;
    QString name;
};

using Presence = std::unordered_map<int, db::PresenceState>;

// The link table's columns the reports read, and the projects in scope in the projects grid's order.
struct Scope {
    const db::Table& links;
    int idField, projectField, urlField, dateField, priceField;
    std::vector<Project> projects;
    std::unordered_map<int, int> projectPos; // project ID -> index in projects
    bool noProject = false;                  // the current project was asked for and there is none

    Scope(const db::Database& db, bool currentOnly)
        : links(db.tbLink), idField(links.fieldIndex(QStringLiteral("ID"))),
          projectField(links.fieldIndex(QStringLiteral("ProjectID"))),
          urlField(links.fieldIndex(QStringLiteral("PageURL"))),
          dateField(links.fieldIndex(QStringLiteral("PublicDate"))),
          priceField(links.fieldIndex(QStringLiteral("Price"))) {
        const db::Table& t = db.tbProject;
        const int id = t.fieldIndex(QStringLiteral("ID")), name = t.fieldIndex(QStringLiteral("Name"));
        const auto add = [&](int row) {
            projectPos.emplace(t.rowValue(row, id).toInt(), int(projects.size()));
            projects.push_back({t.rowValue(row, id).toInt(), t.rowValue(row, name).toString()});
        };
        if (currentOnly) {
            if (t.currentRow() >= 0)
                add(t.currentRow());
            else
                noProject = true;
        } else if (!t.filtered()) {
            for (int pos = 0; pos < t.recordCount(); ++pos)
                add(t.rowAt(pos));
        } else {
            for (int row = 0; row < t.rowCapacity(); ++row)
                if (t.rowAlive(row) && row != t.insertRow()) add(row);
        }
    }

    // Calls f(row, project index) for every posted link page of a project in scope.
    template <class F> void eachLink(F f) const {
        for (int row = 0; row < links.rowCapacity(); ++row) {
            if (!links.rowAlive(row) || row == links.insertRow()) continue;
            const qint64 project = links.rawInt(row, projectField);
            if (project == db::kNullInt) continue;
            const auto it = projectPos.find(int(project));
            if (it != projectPos.end()) f(row, it->second);
        }
    }
    std::optional<QDate> date(int row) const {
        const qint64 jd = links.rawInt(row, dateField);
        if (jd == db::kNullInt) return std::nullopt;
        const QDate d = QDate::fromJulianDay(jd);
        return d.isValid() ? std::optional<QDate>(d) : std::nullopt;
    }
    qint64 price(int row) const { return kopecks(links.rawFloat(row, priceField)); }
    int id(int row) const {
        const qint64 v = links.rawInt(row, idField);
        return v == db::kNullInt ? 0 : int(v);
    }
    // A placed link has "http" somewhere in its address, whatever the case.
    bool placed(int row) const {
        return links.rawString(row, urlField).contains(QLatin1String("http"), Qt::CaseInsensitive);
    }
};

// The months shown: the period's months up to today, or every month from the first to the last with data
// (and today), at most kMaxMonths.
std::pair<int, int> monthRange(const MoneyOptions& o, int firstData, int lastData) {
    const int now = monthIndex(o.today);
    switch (o.period) {
    case Period::Months12:
        return {now - 11, now};
    case Period::Months24:
        return {now - 23, now};
    case Period::All:
        break;
    }
    if (firstData > lastData) return {now, now};
    const int last = std::max(now, lastData);
    return {std::max(firstData, last - kMaxMonths + 1), last};
}

QString scopeText(const Scope& s, const MoneyOptions& o) {
    if (o.currentProjectOnly) return s.projects.empty() ? QString() : s.projects.front().name;
    return projectScopeNames()[0].toLower();
}

// A report of the kind with its title and the title of its categories: months for the reports over time,
// projects for the others.
MoneyReport startReport(MoneyKind kind, const Scope& s, const MoneyOptions& o) {
    const bool byMonth = kind == MoneyKind::Spending || kind == MoneyKind::PlacedLost;
    MoneyReport r;
    r.kind = kind;
    r.categoryTitle = byMonth ? QStringLiteral("Месяц") : QStringLiteral("Проект");
    r.stacked = kind == MoneyKind::Spending;
    const QString& name = moneyReportNames()[int(kind)];
    if (s.noProject) {
        r.title = name + QStringLiteral(": нет проекта");
        return r;
    }
    static const QString subtitles[] = {
        QStringLiteral("Цены ссылок по месяцу даты размещения"),
        QStringLiteral("Размещено: страницы по дате размещения. Пропало: ссылки, которые проверка находила, "
                       "а затем не нашла (ссылки, не найденные ни разу, не входят)"),
        QStringLiteral("Пропали: ссылки, которые проверка находила, а затем не нашла. Отдельно: ссылки, не "
                       "найденные ни разу"),
        QStringLiteral("Бюджет, деленный на число страниц, где последняя проверка нашла ссылку")};
    r.subtitle = subtitles[int(kind)];
    r.title = name + QStringLiteral(": ") + scopeText(s, o);
    if (byMonth) r.title += QStringLiteral(", ") + periodNames()[int(o.period)].toLower();
    return r;
}

void spending(const Scope& s, const MoneyOptions& o, MoneyReport& r) {
    struct Spent {
        int month, project;
        qint64 price;
    };
    std::vector<Spent> spent;
    int first = INT_MAX, last = INT_MIN;
    s.eachLink([&](int row, int project) {
        const std::optional<QDate> d = s.date(row);
        if (!d) return;
        const int m = monthIndex(*d);
        first = std::min(first, m);
        last = std::max(last, m);
        spent.push_back({m, project, s.price(row)});
    });
    const auto [from, to] = monthRange(o, first, last);
    const int months = to - from + 1;
    std::vector<qint64> perProject(s.projects.size());
    for (const Spent& e : spent)
        if (e.month >= from && e.month <= to) perProject[size_t(e.project)] += e.price;
    // The largest projects of the period, in the grid's order among equals.
    std::vector<int> order;
    for (int p = 0; p < int(s.projects.size()); ++p)
        if (perProject[size_t(p)] != 0) order.push_back(p);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return perProject[size_t(a)] > perProject[size_t(b)]; });
    // "Прочие" stands for two projects or more; a ninth project alone keeps its name.
    const bool others = int(order.size()) > kLargestProjects + 1;
    std::vector<int> column(s.projects.size(), -1);
    for (int i = 0; i < int(order.size()); ++i)
        column[size_t(order[size_t(i)])] = others ? std::min(i, kLargestProjects) : i;
    const int columns = others ? kLargestProjects + 1 : int(order.size());
    std::vector<std::vector<qint64>> sums(static_cast<size_t>(columns),
                                          std::vector<qint64>(static_cast<size_t>(months)));
    std::vector<qint64> total(static_cast<size_t>(months));
    for (const Spent& e : spent) {
        if (e.month < from || e.month > to || column[size_t(e.project)] < 0) continue;
        sums[size_t(column[size_t(e.project)])][size_t(e.month - from)] += e.price;
        total[size_t(e.month - from)] += e.price;
    }
    for (int m = from; m <= to; ++m)
        r.categories << monthOf(m);
    for (int c = 0; c < columns; ++c) {
        MoneySeries series;
        series.name = others && c == kLargestProjects ? QStringLiteral("Прочие")
                                                      : s.projects[size_t(order[size_t(c)])].name;
        series.money = true;
        for (const qint64 v : sums[size_t(c)])
            series.values.push_back(roubles(v));
        r.series.push_back(std::move(series));
    }
    MoneySeries sum{QStringLiteral("Итого"), true, false, {}};
    for (const qint64 v : total)
        sum.values.push_back(roubles(v));
    r.series.push_back(std::move(sum));
}

void placedLost(const db::Database& db, const Scope& s, const MoneyOptions& o, MoneyReport& r) {
    std::unordered_map<int, qint64> placed, lost;
    IdSet inScope(s.links.rowCapacity()); // link pages of the projects in scope
    s.eachLink([&](int row, int) {
        inScope.insert(s.id(row));
        if (!s.placed(row)) return;
        if (const std::optional<QDate> d = s.date(row)) ++placed[monthIndex(*d)];
    });
    for (const db::Loss& l : db.checks.losses(db::CheckSubject::LinkPage))
        if (l.day.isValid() && inScope.contains(l.id)) ++lost[monthIndex(l.day)];
    int first = INT_MAX, last = INT_MIN;
    for (const auto* m : {&placed, &lost})
        for (const auto& [month, n] : *m) {
            first = std::min(first, month);
            last = std::max(last, month);
        }
    const auto [from, to] = monthRange(o, first, last);
    MoneySeries p{QStringLiteral("Размещено"), false, true, {}},
        l{QStringLiteral("Пропало"), false, true, {}};
    for (int m = from; m <= to; ++m) {
        r.categories << monthOf(m);
        const auto pm = placed.find(m), lm = lost.find(m);
        p.values.push_back(double(pm == placed.end() ? 0 : pm->second));
        l.values.push_back(double(lm == lost.end() ? 0 : lm->second));
    }
    r.series = {std::move(p), std::move(l)};
}

// One row per project with something to show, the largest eight first and the rest summed as "Прочие".
struct ProjectRow {
    QString name;
    qint64 money = 0; // kopecks
    qint64 count = 0;
    qint64 links = 0;                      // link pages of the project in the report's scope
    qint64 moneyNever = 0, countNever = 0; // links never found, kept apart from the lost ones
};

std::vector<ProjectRow> largestAndOthers(std::vector<ProjectRow> rows) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ProjectRow& a, const ProjectRow& b) { return a.money > b.money; });
    if (int(rows.size()) <= kLargestProjects + 1) return rows;
    ProjectRow others{QStringLiteral("Прочие")};
    for (size_t i = kLargestProjects; i < rows.size(); ++i) {
        others.money += rows[i].money;
        others.count += rows[i].count;
        others.links += rows[i].links;
        others.moneyNever += rows[i].moneyNever;
        others.countNever += rows[i].countNever;
    }
    rows.resize(kLargestProjects);
    rows.push_back(others);
    return rows;
}

// A row per project filled from its link pages (fill(row of the project, link row)); the projects keep
// chooses, named, as the eight largest and the rest.
template <class Fill, class Keep>
std::vector<ProjectRow> rowsByProject(const Scope& s, Fill fill, Keep keep) {
    std::vector<ProjectRow> rows(s.projects.size());
    s.eachLink([&](int row, int project) {
        ++rows[size_t(project)].links;
        fill(rows[size_t(project)], row);
    });
    std::vector<ProjectRow> shown;
    for (size_t p = 0; p < rows.size(); ++p)
        if (keep(rows[p])) {
            rows[p].name = s.projects[p].name;
            shown.push_back(rows[p]);
        }
    return largestAndOthers(std::move(shown));
}

void lostMoney(const Scope& s, const Presence& presence, MoneyReport& r) {
    // Lost: found once, missing since and not found again. Never found: missing at every verdict so far —
    // money that may never have bought a link, which is another matter than a link that went.
    const auto lost = [&](ProjectRow& p, int row) {
        const auto it = presence.find(s.id(row));
        if (it == presence.end()) return;
        if (it->second.lostSince.isValid()) {
            p.money += s.price(row);
            ++p.count;
        } else if (it->second.reason == db::CheckReason::Missing) {
            p.moneyNever += s.price(row);
            ++p.countNever;
        }
    };
    MoneySeries sum{QStringLiteral("Пропали, сумма"), true, true, {}},
        count{QStringLiteral("Пропали, ссылок"), false, false, {}},
        sumNever{QStringLiteral("Не найдены ни разу, сумма"), true, true, {}},
        countNever{QStringLiteral("Не найдены ни разу, ссылок"), false, false, {}};
    for (const ProjectRow& row :
         rowsByProject(s, lost, [](const ProjectRow& p) { return p.count > 0 || p.countNever > 0; })) {
        r.categories << row.name;
        sum.values.push_back(roubles(row.money));
        count.values.push_back(double(row.count));
        sumNever.values.push_back(roubles(row.moneyNever));
        countNever.values.push_back(double(row.countNever));
    }
    r.series = {std::move(sum), std::move(count), std::move(sumNever), std::move(countNever)};
}

void liveLinkPrice(const Scope& s, const Presence& presence, const MoneyOptions& o, MoneyReport& r) {
    const auto live = [&](ProjectRow& p, int row) {
        p.money += s.price(row);
        const auto it = presence.find(s.id(row));
        if (it != presence.end() && db::isFound(it->second.reason)) ++p.count;
    };
    const auto keep = [&](const ProjectRow& p) { return p.links > 0 || o.currentProjectOnly; };
    MoneySeries price{QStringLiteral("Цена живой ссылки"), true, true, {}},
        budget{QStringLiteral("Бюджет"), true, false, {}},
        alive{QStringLiteral("Живых ссылок"), false, false, {}};
    for (const ProjectRow& row : rowsByProject(s, live, keep)) {
        r.categories << row.name;
        // Without a live link there is no price of one: the money bought nothing that stands.
        price.values.push_back(
            row.count > 0 ? std::optional<double>(roubles(qRound64(double(row.money) / double(row.count))))
                          : std::nullopt);
        budget.values.push_back(roubles(row.money));
        alive.values.push_back(double(row.count));
    }
    r.series = {std::move(price), std::move(budget), std::move(alive)};
}

} // namespace

const QStringList& moneyReportNames() {
    static const QStringList names = {"Расходы по месяцам", "Размещено и пропало по месяцам",
                                      "Деньги в пропавших ссылках", "Цена живой ссылки"};
    return names;
}

std::optional<MoneyKind> moneyKindOf(const QString& reportName) {
    const int i = moneyReportNames().indexOf(reportName);
    return i < 0 ? std::nullopt : std::optional<MoneyKind>(MoneyKind(i));
}

const QStringList& periodNames() {
    static const QStringList names = {"12 месяцев", "24 месяца", "Все время"};
    return names;
}

const QStringList& projectScopeNames() {
    static const QStringList names = {"Все проекты", "Текущий проект"};
    return names;
}

MoneyReport buildMoneyReport(const db::Database& db, MoneyKind kind, const MoneyOptions& options) {
    MoneyOptions o = options;
    if (!o.today.isValid()) o.today = QDate::currentDate();
    const Scope s(db, o.currentProjectOnly);
    MoneyReport r = startReport(kind, s, o);
    if (s.noProject) return r;
    switch (kind) {
    case MoneyKind::Spending:
        spending(s, o, r);
        break;
    case MoneyKind::PlacedLost:
        placedLost(db, s, o, r);
        break;
    case MoneyKind::LostMoney:
        lostMoney(s, db.checks.presenceOfAll(db::CheckSubject::LinkPage), r);
        break;
    case MoneyKind::LiveLinkPrice:
        liveLinkPrice(s, db.checks.presenceOfAll(db::CheckSubject::LinkPage), o, r);
        break;
    }
    return r;
}

QString monthName(int year, int month) {
    return QLocale(QLocale::Russian).standaloneMonthName(month, QLocale::LongFormat) + u' ' +
           QString::number(year);
}

QString valueText(const MoneySeries& s, size_t row, const QLocale& locale) {
    if (row >= s.values.size() || !s.values[row]) return QStringLiteral("—");
    const double v = *s.values[row];
    if (!s.money) return locale.toString(qint64(v));
    return locale.toCurrencyString(v, locale.currencySymbol(), 2);
}

QStringList tableHeader(const MoneyReport& r) {
    QStringList h{r.categoryTitle};
    for (const MoneySeries& s : r.series)
        h << s.name;
    return h;
}

std::vector<QStringList> tableRows(const MoneyReport& r, const QLocale& locale) {
    std::vector<QStringList> rows;
    for (size_t i = 0; i < size_t(r.categories.size()); ++i) {
        QStringList row{r.categories[qsizetype(i)]};
        for (const MoneySeries& s : r.series)
            row << valueText(s, i, locale);
        rows.push_back(row);
    }
    return rows;
}

QByteArray toCsv(const MoneyReport& r) {
    QLocale ru(QLocale::Russian, QLocale::Russia);
    ru.setNumberOptions(QLocale::OmitGroupSeparator);
    QStringList lines;
    QStringList header;
    for (const QString& h : tableHeader(r))
        header << csvField(h, u';');
    lines << header.join(u';');
    for (size_t i = 0; i < size_t(r.categories.size()); ++i) {
        QStringList row{csvField(r.categories[qsizetype(i)], u';')};
        for (const MoneySeries& s : r.series) {
            if (i >= s.values.size() || !s.values[i])
                row << QString();
            else
                row << (s.money ? ru.toString(*s.values[i], 'f', 2) : ru.toString(qint64(*s.values[i])));
        }
        lines << row.join(u';');
    }
    return QByteArray("\xEF\xBB\xBF") +
           (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

} // namespace zentaro::reports

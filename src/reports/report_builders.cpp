// Builders of the pie reports: their slices and title from the tables.
#include "reports/report_builders.h"

#include <cmath>
#include <unordered_map>

#include <QLocale>

#include "db/database.h"

namespace zentaro::reports {

namespace {

// The link rows of each project, found in one pass over the link table (filters ignored).
using LinksByProject = std::unordered_map<int, std::vector<int>>;

LinksByProject linksByProject(const db::Table& links) {
    LinksByProject out;
    const int project = links.fieldIndex(QStringLiteral("ProjectID"));
    for (int row = 0; row < links.rowCapacity(); ++row)
        if (links.rowAlive(row) && row != links.insertRow())
            out[links.rowValue(row, project).toInt()].push_back(row);
    return out;
}

// A placed link has "http" somewhere in its address, whatever the case.
bool placedUrl(const QVariant& url) {
    return url.toString().toLower().contains(QStringLiteral("http"));
}

// The projects in the order the projects grid shows them when unfiltered.
std::vector<int> projectRows(const db::Table& projects) {
    std::vector<int> rows;
    if (!projects.filtered()) {
        for (int pos = 0; pos < projects.recordCount(); ++pos)
            rows.push_back(projects.rowAt(pos));
    } else {
        for (int row = 0; row < projects.rowCapacity(); ++row)
            if (projects.rowAlive(row) && row != projects.insertRow()) rows.push_back(row);
    }
    return rows;
}

// One slice per project: the sum over its links of what the function gives for each link's value of the
// field; the sum over all projects goes to total.
template <class CellValue>
Report perProject(const db::Database& db, const QString& field, CellValue value, double* total = nullptr) {
    const db::Table& projects = db.tbProject;
    const int f = db.tbLink.fieldIndex(field);
    const LinksByProject links = linksByProject(db.tbLink);
    const int id = projects.fieldIndex(QStringLiteral("ID")),
              name = projects.fieldIndex(QStringLiteral("Name"));
    static const std::vector<int> none;
    Report r;
    for (const int row : projectRows(projects)) {
        const auto it = links.find(projects.rowValue(row, id).toInt());
        double v = 0;
        for (const int link : it == links.end() ? none : it->second)
            v += value(db.tbLink.rowValue(link, f));
        r.slices.push_back({v, projects.rowValue(row, name).toString() + QStringLiteral(": "), std::nullopt});
        if (total) *total += v;
    }
    return r;
}

// The current project's name and the rows of its links.
struct ProjectLinks {
    QString name;
    std::vector<int> rows;
    const db::Table& links;
    int url = links.fieldIndex(QStringLiteral("PageURL"));

    bool placed(int row) const { return placedUrl(links.rowValue(row, url)); }
};

// Nothing when there is no current project.
std::optional<ProjectLinks> currentProjectLinks(const db::Database& db) {
    const db::Table& projects = db.tbProject;
    if (projects.currentPos() < 0) return std::nullopt;
    LinksByProject all = linksByProject(db.tbLink);
    return ProjectLinks{projects.asString(QStringLiteral("Name")),
                        std::move(all[projects.asInteger(QStringLiteral("ID"))]), db.tbLink};
}

// A per-project report without any project: an empty pie that says so.
Report noProject(const QString& reportName) {
    Report r;
    r.title = reportName + QStringLiteral(": нет проекта");
    return r;
}

QString projectTitle(const QString& project, const QString& reportName, int total) {
    return project + QStringLiteral(": ") + reportName + QStringLiteral(" (всего ссылок - ") +
           QString::number(total) + u')';
}

} // namespace

const QStringList& reportNames() {
    static const QStringList names = {"Бюджеты проектов",
                                      "Число ссылок",
                                      "Суммарный тИЦ",
                                      "Суммарный PR",
                                      "В индексе и не в индексе Яндекса",
                                      "В индексе и не в индексе Google",
                                      "Статус ссылок проекта"};
    return names;
}

Report RunRep1(const db::Database& db, const QString& reportName) {
    double total = 0;
    Report r = perProject(
        db, QStringLiteral("Price"), [](const QVariant& v) { return v.toDouble(); }, &total);
    // Two decimals and the locale's decimal separator, but no thousands separators: the total is read as one
    // number (a total beyond 15 digits before the point goes to exponent form, as the precision allows).
    QLocale plain;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    r.title = reportName + QStringLiteral(". Общие расходы: ") +
              (std::abs(total) < 1e15 ? plain.toString(total, 'f', 2) : plain.toString(total, 'g', 15));
    return r;
}

Report RunRep2(const db::Database& db, const QString& reportName) {
    double total = 0;
    Report r = perProject(
        db, QStringLiteral("PageURL"), [](const QVariant& v) { return placedUrl(v) ? 1.0 : 0.0; }, &total);
    r.title = reportName + QStringLiteral(". Общие количество ссылок: ") + QString::number(qint64(total));
    return r;
}

Report RunRep3(const db::Database& db, const QString& reportName, bool isPR) {
    Report r = perProject(db, isPR ? QStringLiteral("PR") : QStringLiteral("TIC"), [](const QVariant& v) {
        const int n = v.toInt();
        return n == -1 ? 0.0 : double(n); // -1: not determined
    });
    r.title = reportName;
    return r;
}

Report RunRep4(const db::Database& db, const QString& reportName, bool isGoogle) {
    const std::optional<ProjectLinks> project = currentProjectLinks(db);
    if (!project) return noProject(reportName);
    const int flag =
        db.tbLink.fieldIndex(isGoogle ? QStringLiteral("PageIndexG") : QStringLiteral("PageIndexY"));
    int in = 0, out = 0, total = 0;
    for (const int row : project->rows) {
        const bool isPlaced = project->placed(row);
        total += isPlaced ? 1 : 0;
        if (db.tbLink.rowValue(row, flag).toString() == QLatin1String("1"))
            ++in;
        else if (isPlaced)
            ++out;
    }
    Report r;
    r.slices = {{double(in), QStringLiteral("Cтраниц в индексе: "), std::nullopt},
                {double(out), QStringLiteral("Cтраниц не в индексе: "), std::nullopt}};
    r.title = projectTitle(project->name, reportName, total);
    return r;
}

Report RunRep5(const db::Database& db, const QString& reportName) {
    const std::optional<ProjectLinks> project = currentProjectLinks(db);
    if (!project) return noProject(reportName);
    const int status = db.tbLink.fieldIndex(QStringLiteral("PageStatus"));
    int counts[4] = {};
    int total = 0;
    for (const int row : project->rows) {
        if (!project->placed(row)) continue;
        ++total;
        const QString code = db.tbLink.rowValue(row, status).toString();
        if (code.size() == 1 && code[0] >= u'0' && code[0] <= u'3') ++counts[code[0].unicode() - u'0'];
    }
    Report r;
    r.slices = {{double(counts[2]), QStringLiteral("Пропажа: "), 0xFF0000u},
                {double(counts[0]), QStringLiteral("Ожидание: "), 0xC0C0C0u},
                {double(counts[1]), QStringLiteral("Размещено: "), 0x008000u},
                {double(counts[3]), QStringLiteral("Изменено: "), 0xFFFF00u}};
    r.title = projectTitle(project->name, reportName, total);
    return r;
}

std::optional<Report> bGetReportClick(const db::Database& db, const QString& cbRepText) {
    switch (reportNames().indexOf(cbRepText)) {
    case 0:
        return RunRep1(db, cbRepText);
    case 1:
        return RunRep2(db, cbRepText);
    case 2:
        return RunRep3(db, cbRepText, false);
    case 3:
        return RunRep3(db, cbRepText, true);
    case 4:
        return RunRep4(db, cbRepText, false);
    case 5:
        return RunRep4(db, cbRepText, true);
    case 6:
        return RunRep5(db, cbRepText);
    default:
        return std::nullopt;
    }
}

} // namespace zentaro::reports

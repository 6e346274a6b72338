#include <gtest/gtest.h>

#include <sqlite3.h>

#include <QDateTime>
#include <QFile>

#include "db/database.h"
#include "db/record_rules.h"
#include "reports/money_reports.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

using namespace zentaro;
using db::CheckReason;
using reports::MoneyKind;
using reports::MoneyReport;
using reports::Period;

namespace {

// Three projects (one without links), six link pages around month ends, and a check history with a link lost
// twice, a loss through a failed fetch and a link missing without ever being found.
class MoneyReports : public ::testing::Test {
protected:
    void SetUp() override {
        QString err;
        ASSERT_TRUE(db.store.open(QString(), &err)) << err.toStdString();
        ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err)) << err.toStdString();
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "Альфа"}});
        link("http://a.ru/1", QDate(2026, 1, 31), 100.10);
        link("http://a.ru/2", QDate(2026, 3, 1), 0.10);
        link("a.ru/3", QDate(2026, 3, 31), 0.20); // not placed, but paid for
        test::addRecord(db.tbProject, {{"Name", "Бета"}});
        link("http://b.ru/1", QDate(2025, 12, 31), 1000.0);
        link("http://b.ru/2", QDate(2024, 1, 15), 10.0);
        link("http://b.ru/3", QDate(), 5.0);
        test::addRecord(db.tbProject, {{"Name", "Пустой"}});
        check(1, "2026-01-05", CheckReason::Found);
        check(1, "2026-02-10", CheckReason::Missing);
        check(1, "2026-02-20", CheckReason::FoundNofollow);
        check(1, "2026-03-02", CheckReason::Missing);
        check(2, "2026-03-05", CheckReason::Found);
        check(4, "2026-01-10", CheckReason::Found);
        check(4, "2026-02-01", CheckReason::Timeout);
        check(4, "2026-02-28", CheckReason::Missing);
        check(5, "2026-01-01", CheckReason::Missing);
        check(6, "2026-01-01", CheckReason::Found);
    }
    void link(const char* url, QDate day, double price) {
        test::addRecord(db.tbLink, {{"PageURL", QString::fromUtf8(url)},
                                    {"PublicDate", day.isValid() ? QVariant(day) : QVariant()},
                                    {"Price", price}});
    }
    void check(int id, const char* day, CheckReason reason) {
        db.checks.record(db::CheckSubject::LinkPage, id,
                         {QDateTime(QDate::fromString(day, Qt::ISODate), QTime(12, 0)),
                          db::CheckKind::Presence,
                          reason,
                          {}});
    }
    MoneyReport build(MoneyKind kind, Period period = Period::Months12, bool current = false) {
        return reports::buildMoneyReport(db, kind, {period, current, QDate(2026, 3, 15)});
    }
    // Category and the series' values, in one line per category: "март 2026: 0.3 | 0".
    static QStringList lines(const MoneyReport& r, bool nonZeroOnly = true) {
        QStringList out;
        for (qsizetype i = 0; i < r.categories.size(); ++i) {
            QStringList values;
            bool any = false;
            for (const auto& s : r.series) {
                const auto& v = s.values[size_t(i)];
                values << (v ? QString::number(*v) : QStringLiteral("-"));
                any = any || (v && *v != 0);
            }
            if (any || !nonZeroOnly) out << r.categories[i] + ": " + values.join(" | ");
        }
        return out;
    }
    static QStringList names(const MoneyReport& r) {
        QStringList out;
        for (const auto& s : r.series)
            out << s.name;
        return out;
    }

    test::TempFolder dir;
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
};

} // namespace

TEST_F(MoneyReports, SpendingByMonthStackedByProjectInKopecks) {
    const MoneyReport r = build(MoneyKind::Spending);
    EXPECT_TRUE(r.stacked);
    ASSERT_EQ(r.categories.size(), 12);
    EXPECT_EQ(r.categories.front(), QStringLiteral("апрель 2025"));
    EXPECT_EQ(r.categories.back(), QStringLiteral("март 2026"));
    // The larger project first; February has nothing; 0.10 + 0.20 is exactly 0.30.
    EXPECT_EQ(names(r), (QStringList{"Бета", "Альфа", "Итого"}));
    EXPECT_EQ(lines(r), (QStringList{"декабрь 2025: 1000 | 0 | 1000", "январь 2026: 0 | 100.1 | 100.1",
                                     "март 2026: 0 | 0.3 | 0.3"}));
    EXPECT_EQ(r.series.back().onChart, false);
    EXPECT_EQ(r.title, QStringLiteral("Расходы по месяцам: все проекты, 12 месяцев"));

    // All time starts with the first dated link; a link without a date is in no month.
    const MoneyReport all = build(MoneyKind::Spending, Period::All);
    EXPECT_EQ(all.categories.size(), 27);
    EXPECT_EQ(all.categories.front(), QStringLiteral("январь 2024"));
    EXPECT_EQ(lines(all).front(), QStringLiteral("январь 2024: 10 | 0 | 10"));

    db.tbProject.locate("Name", "Пустой");
    const MoneyReport empty = build(MoneyKind::Spending, Period::Months24, true);
    EXPECT_EQ(empty.categories.size(), 24);
    EXPECT_EQ(names(empty), QStringList{"Итого"});
    EXPECT_EQ(empty.title, QStringLiteral("Расходы по месяцам: Пустой, 24 месяца"));

    // Without a current project the report says so, and is still drawn stacked.
    const db::Database bare;
    const MoneyReport none =
        reports::buildMoneyReport(bare, MoneyKind::Spending, {Period::Months12, true, {}});
    EXPECT_EQ(none.title, QStringLiteral("Расходы по месяцам: нет проекта"));
    EXPECT_TRUE(none.stacked);
}

TEST_F(MoneyReports, PlacedAndLostByMonthCountEveryLossOnce) {
    const QStringList expected = {"декабрь 2025: 1 | 0", "январь 2026: 1 | 0", "февраль 2026: 0 | 2",
                                  "март 2026: 1 | 1"};
    EXPECT_EQ(lines(build(MoneyKind::PlacedLost)), expected);
    // The same from the file once the outcomes are written, and after a reopening.
    ASSERT_TRUE(db.store.flush());
    EXPECT_EQ(lines(build(MoneyKind::PlacedLost)), expected);
    db.checks.close();
    QString err;
    ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err)) << err.toStdString();
    EXPECT_EQ(lines(build(MoneyKind::PlacedLost)), expected);
    // A file from before the losses were kept apart: they are found once from its history.
    db.checks.close();
    {
        sqlite3* c = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(dir.path() + "checks.adb").constData(), &c), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(c, "DROP TABLE losses", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(c);
    }
    ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err)) << err.toStdString();
    EXPECT_EQ(lines(build(MoneyKind::PlacedLost)), expected);

    // Found again and lost a third time, not yet written; then the page is deleted: its losses go with it.
    check(1, "2026-03-10", CheckReason::Found);
    check(1, "2026-03-12", CheckReason::NoLinks);
    check(1, "2026-03-14", CheckReason::Missing);
    EXPECT_EQ(lines(build(MoneyKind::PlacedLost)).back(), QStringLiteral("март 2026: 1 | 2"));
    db.checks.forget(db::CheckSubject::LinkPage, 1);
    EXPECT_EQ(lines(build(MoneyKind::PlacedLost)), (QStringList{"декабрь 2025: 1 | 0", "январь 2026: 1 | 0",
                                                                "февраль 2026: 0 | 1", "март 2026: 1 | 0"}));
}

TEST_F(MoneyReports, MoneyInLostLinksAndPriceOfALiveLink) {
    // Lost: missing at the last check, or lost since (a failed fetch after a loss keeps it lost, also when
    // the loss itself came after a failed fetch).
    check(1, "2026-03-06", CheckReason::Timeout);
    check(4, "2026-03-06", CheckReason::Refused);
    EXPECT_EQ(db.checks.last(db::CheckSubject::LinkPage, 4)->lostSince, QDate(2026, 2, 28));
    const MoneyReport lost = build(MoneyKind::LostMoney);
    // Lost (found, then missing) apart from never found.
    EXPECT_EQ(names(lost), (QStringList{"Пропали, сумма", "Пропали, ссылок", "Не найдены ни разу, сумма",
                                        "Не найдены ни разу, ссылок"}));
    EXPECT_EQ(lines(lost), (QStringList{"Бета: 1000 | 1 | 10 | 1", "Альфа: 100.1 | 1 | 0 | 0"}));

    const MoneyReport live = build(MoneyKind::LiveLinkPrice);
    EXPECT_EQ(names(live), (QStringList{"Цена живой ссылки", "Бюджет", "Живых ссылок"}));
    EXPECT_EQ(lines(live), (QStringList{"Бета: 1015 | 1015 | 1", "Альфа: 100.4 | 100.4 | 1"}));

    // Without a live link there is no price (not an infinite one); the project without links shows so.
    db.tbProject.locate("Name", "Пустой");
    EXPECT_EQ(lines(build(MoneyKind::LiveLinkPrice, Period::Months12, true), false),
              QStringList{"Пустой: - | 0 | 0"});
    EXPECT_TRUE(build(MoneyKind::LostMoney, Period::Months12, true).categories.isEmpty());
    check(2, "2026-03-14", CheckReason::Missing);
    db.tbProject.locate("Name", "Альфа");
    EXPECT_EQ(lines(build(MoneyKind::LiveLinkPrice, Period::Months12, true), false),
              QStringList{"Альфа: - | 100.4 | 0"});
}

TEST_F(MoneyReports, LargestEightProjectsAndTheRestAsOthers) {
    const struct {
        int projects;
        QStringList expected;
    } cases[] = {
        {9, {"П9", "П8", "П7", "П6", "П5", "П4", "П3", "П2", "П1", "Итого"}}, // nine fit: no "Прочие" of one
        {11, {"П11", "П10", "П9", "П8", "П7", "П6", "П5", "П4", "Прочие", "Итого"}},
    };
    for (const auto& c : cases) {
        db::Database base;
        db::RecordRules baseRules{base, ui};
        test::addRecord(base.tbSite, {{"Site", "trust.ru"}});
        for (int p = 1; p <= c.projects; ++p) {
            test::addRecord(base.tbProject, {{"Name", QStringLiteral("П%1").arg(p)}});
            test::addRecord(
                base.tbLink,
                {{"PageURL", "http://x.ru"}, {"PublicDate", QDate(2026, 2, 28)}, {"Price", double(p)}});
        }
        const MoneyReport r = reports::buildMoneyReport(base, MoneyKind::Spending,
                                                        {Period::Months12, false, QDate(2026, 3, 1)});
        EXPECT_EQ(names(r), c.expected) << c.projects;
        if (c.projects == 11) {
            EXPECT_EQ(*r.series[8].values[10], 6.0); // 1 + 2 + 3
            EXPECT_EQ(*r.series[9].values[10], 66.0);
        }
    }
}

TEST_F(MoneyReports, AllTimeIsCappedToTheLatestMonths) {
    link("http://a.ru/old", QDate(1026, 3, 1), 1.0); // a mistyped year
    const MoneyReport r = build(MoneyKind::Spending, Period::All);
    EXPECT_EQ(r.categories.size(), reports::kMaxMonths);
    EXPECT_EQ(r.categories.back(), QStringLiteral("март 2026"));
}

TEST_F(MoneyReports, TableAndCsvShowTheSeriesNumberForNumber) {
    test::addRecord(db.tbProject, {{"Name", "Гамма; \"кавычки\""}});
    link("http://g.ru/1", QDate(2026, 3, 2), 1234567.891);
    const MoneyReport r = build(MoneyKind::Spending);
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const auto rows = reports::tableRows(r, ru);
    ASSERT_EQ(rows.size(), size_t(r.categories.size()));
    EXPECT_EQ(reports::tableHeader(r),
              (QStringList{"Месяц", "Гамма; \"кавычки\"", "Бета", "Альфа", "Итого"}));
    EXPECT_EQ(rows.back()[1], ru.toCurrencyString(1234567.89, ru.currencySymbol(), 2));
    EXPECT_TRUE(rows.back()[1].startsWith(ru.toString(1234567.89, 'f', 2))) << rows.back()[1].toStdString();

    // CSV read back cell by cell equals the categories and the series' values.
    const QByteArray csv = reports::toCsv(r);
    ASSERT_TRUE(csv.startsWith("\xEF\xBB\xBF"));
    QStringList lines = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.takeLast(), QString());
    ASSERT_EQ(lines.size(), r.categories.size() + 1);
    const auto fields = [](const QString& line) {
        QStringList out;
        QString cur;
        bool quoted = false;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const QChar c = line[i];
            if (quoted && c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') {
                cur += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = !quoted;
            } else if (c == u';' && !quoted) {
                out << cur;
                cur.clear();
            } else {
                cur += c;
            }
        }
        return out << cur;
    };
    EXPECT_EQ(fields(lines[0]), reports::tableHeader(r));
    EXPECT_EQ(lines.back(), QStringLiteral("март 2026;1234567,89;0,00;0,30;1234568,19"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = fields(lines[i]);
        ASSERT_EQ(f.size(), qsizetype(r.series.size()) + 1);
        EXPECT_EQ(f[0], r.categories[i - 1]);
        for (size_t s = 0; s < r.series.size(); ++s) {
            bool ok = false;
            EXPECT_DOUBLE_EQ(ru.toDouble(f[qsizetype(s) + 1], &ok), *r.series[s].values[size_t(i - 1)]);
            EXPECT_TRUE(ok);
        }
    }
}

// Project names that a spreadsheet would run as formulas are written behind an apostrophe in the CSV.
TEST(MoneyCsv, FormulaCellsGetAnApostrophe) {
    reports::MoneyReport r;
    r.categoryTitle = QStringLiteral("Проект");
    r.categories = {QStringLiteral("=HYPERLINK(\"http://e.vil\";\"x\")"), QStringLiteral("@x"),
                    QStringLiteral("-x"), QStringLiteral("Обычный")};
    const QStringList lines =
        QString::fromUtf8(reports::toCsv(r).mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[1], QStringLiteral("\"'=HYPERLINK(\"\"http://e.vil\"\";\"\"x\"\")\""));
    EXPECT_EQ(lines[2], QStringLiteral("'@x"));
    EXPECT_EQ(lines[3], QStringLiteral("'-x"));
    EXPECT_EQ(lines[4], QStringLiteral("Обычный"));
}

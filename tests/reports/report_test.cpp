#include <gtest/gtest.h>

#include "db/database.h"
#include "db/record_rules.h"
#include "reports/report_builders.h"
#include "support/records.h"
#include "support/scripted_ui.h"

using namespace zentaro;
using reports::Report;

namespace {

class Reports : public ::testing::Test {
protected:
    void SetUp() override { test::addRecord(db.tbSite, {{"Site", "trust.ru"}}); }
    int project(const char* name) {
        return test::addRecord(db.tbProject, {{"Name", QString::fromUtf8(name)}});
    }
    void link(test::Values values) { test::addRecord(db.tbLink, values); }
    static QStringList labels(const Report& r) {
        QStringList out;
        for (const auto& s : r.slices)
            out << s.label + QString::number(s.value);
        return out;
    }

    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
};

} // namespace

TEST_F(Reports, BudgetsCountsAndSumsPerProject) {
    EXPECT_EQ(reports::RunRep1(db, "Бюджеты проектов").title,
              QStringLiteral("Бюджеты проектов. Общие расходы: 0,00"));
    project("Первый");
    link({{"PageURL", "http://a.ru/1"}, {"Price", 100.0}, {"TIC", 10}, {"PR", -1}});
    link({{"PageURL", "a.ru/2"}, {"Price", 250.5}, {"TIC", -1}, {"PR", 3}});
    link({{"PageURL", "HTTPS://a.ru/3"}});
    project("Второй");
    const Report budgets = reports::RunRep1(db, "Бюджеты проектов");
    EXPECT_EQ(labels(budgets), (QStringList{"Первый: 350.5", "Второй: 0"}));
    EXPECT_EQ(budgets.title, QStringLiteral("Бюджеты проектов. Общие расходы: 350,50"));
    const Report counts = reports::RunRep2(db, "Число ссылок");
    EXPECT_EQ(labels(counts), (QStringList{"Первый: 2", "Второй: 0"})); // "a.ru/2" is not placed
    EXPECT_EQ(counts.title, QStringLiteral("Число ссылок. Общие количество ссылок: 2"));
    EXPECT_EQ(labels(reports::RunRep3(db, "Суммарный тИЦ", false)), (QStringList{"Первый: 10", "Второй: 0"}));
    EXPECT_EQ(labels(reports::RunRep3(db, "Суммарный PR", true)), (QStringList{"Первый: 3", "Второй: 0"}));
    EXPECT_FALSE(budgets.slices[0].rgb.has_value());
}

TEST_F(Reports, IndexAndStatusOfTheCurrentProjectAndTheTablesAsTheyWere) {
    project("Проект");
    link({{"PageURL", "http://a.ru/1"}, {"PageIndexY", "1"}, {"PageStatus", "2"}});
    link({{"PageURL", "a.ru/2"}, {"PageIndexY", "1"}, {"PageStatus", "1"}}); // indexed, not placed
    link({{"PageURL", "http://a.ru/3"}, {"PageIndexY", "0"}, {"PageIndexG", "1"}, {"PageStatus", "0"}});
    link({{"PageURL", "http://a.ru/4"}, {"PageStatus", "3"}});
    db.tbLink.locate("ID", 2);
    const QString filter = db.tbLink.filter();
    const Report y = reports::RunRep4(db, "В индексе и не в индексе Яндекса", false);
    EXPECT_EQ(labels(y), (QStringList{"Cтраниц в индексе: 2", "Cтраниц не в индексе: 2"}));
    EXPECT_EQ(y.title, QStringLiteral("Проект: В индексе и не в индексе Яндекса (всего ссылок - 3)"));
    EXPECT_EQ(y.slices[0].label.front(), QChar(u'C')); // the Latin letter
    EXPECT_EQ(labels(reports::RunRep4(db, "G", true)),
              (QStringList{"Cтраниц в индексе: 1", "Cтраниц не в индексе: 2"}));
    const Report status = reports::RunRep5(db, "Статус ссылок проекта");
    EXPECT_EQ(labels(status), (QStringList{"Пропажа: 1", "Ожидание: 1", "Размещено: 0", "Изменено: 1"}));
    std::vector<unsigned> colours;
    for (const auto& s : status.slices)
        colours.push_back(*s.rgb);
    EXPECT_EQ(colours, (std::vector<unsigned>{0xFF0000, 0xC0C0C0, 0x008000, 0xFFFF00}));
    EXPECT_EQ(db.tbLink.asInteger("ID"), 2);
    EXPECT_EQ(db.tbLink.filter(), filter);
    EXPECT_TRUE(db.tbLink.filtered());
}

TEST_F(Reports, TheChooserTextPicksOneReportOrNone) {
    EXPECT_FALSE(reports::bGetReportClick(db, "Бюджеты").has_value());
    EXPECT_FALSE(reports::bGetReportClick(db, "суммарный PR").has_value());
    const auto pr = reports::bGetReportClick(db, "Суммарный PR");
    ASSERT_TRUE(pr.has_value());
    EXPECT_EQ(pr->title, QStringLiteral("Суммарный PR"));
    // No project at all: the per-project reports say so and show nothing.
    const auto status = reports::bGetReportClick(db, "Статус ссылок проекта");
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->slices.empty());
    EXPECT_EQ(status->title, QStringLiteral("Статус ссылок проекта: нет проекта"));
}

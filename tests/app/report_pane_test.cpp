#include <gtest/gtest.h>

#include <QComboBox>
#include <QImageReader>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/report_pane.h"
#include "reports/pie_chart.h"
#include "support/main_window.h"
#include "support/records.h"

using namespace zentaro;

namespace {

class ReportTab : public test::MainWindowTest {
protected:
    void build(const char* name) {
        auto* rep = find<QComboBox>("cbRep");
        rep->setCurrentIndex(rep->findText(QString::fromUtf8(name)));
        find<QPushButton>("bGetReport")->click();
    }
    reports::PieChart* chart() { return form->reports().chart(); }
    void click(const char* button, int times = 1) {
        for (int i = 0; i < times; ++i)
            find<QToolButton>(button)->click();
    }
};

} // namespace

TEST_F(ReportTab, TiltStaysWithinItsBoundsSpinComesRoundAndPercentagesStay) {
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) {
        click("SpeedButton23");
        seen.push_back(chart()->elevation());
    }
    EXPECT_EQ(seen, (std::vector<int>{305, 295, 285, 285, 285}));
    click("SpeedButton24", 12);
    EXPECT_EQ(chart()->elevation(), 375);
    click("SpeedButton26", 35);
    EXPECT_EQ(chart()->rotation(), 350);
    click("SpeedButton26");
    EXPECT_EQ(chart()->rotation(), 0);

    addProject(QStringLiteral("Проект"));
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    db.tbSite.first();
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru"}, {"Price", 1234.5}});
    build("Бюджеты проектов");
    EXPECT_EQ(chart()->markText(0), QStringLiteral("Проект: 1\u00a0234,5"));
    click("SpeedButton7");
    build("Число ссылок");
    EXPECT_EQ(chart()->markText(0), QStringLiteral("Проект: 100 %"));
    EXPECT_EQ(chart()->report().title, QStringLiteral("Число ссылок. Общие количество ссылок: 1"));
    // Shares are of the magnitudes: a negative value does not push the others over 100 %.
    reports::Report mixed;
    mixed.slices = {{100, QStringLiteral("А: "), {}}, {-50, QStringLiteral("Б: "), {}}};
    chart()->setReport(mixed);
    EXPECT_EQ(chart()->markText(0), QStringLiteral("А: 66,67 %"));
    EXPECT_EQ(chart()->markText(1), QStringLiteral("Б: 33,33 %"));
    // Typed characters do not change the chosen report.
    auto* rep = find<QComboBox>("cbRep");
    QTest::keyClicks(rep, "b");
    EXPECT_EQ(rep->currentText(), QStringLiteral("Число ссылок"));
}

TEST_F(ReportTab, TheChartPrintsInLandscapeAndSavesAsJpeg) {
    addProject(QStringLiteral("Один"));
    addProject(QStringLiteral("Два"));
    build("Бюджеты проектов");
    const QString pdf = dir.path() + "rep.pdf";
    form->reports().choosePrinter = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageOrientation(QPageLayout::Portrait);
        return true;
    };
    click("sbRepPrint");
    const QByteArray bytes = test::TempFolder::read(pdf);
    ASSERT_FALSE(bytes.isEmpty());
    // The page is wider than high, and it carries drawing.
    const qsizetype box = bytes.indexOf("/MediaBox [");
    ASSERT_GE(box, 0);
    const QList<QByteArray> numbers = bytes.mid(box + 11, 40).split(' ');
    EXPECT_GT(numbers.value(2).toDouble(), numbers.value(3).toDouble());
    EXPECT_GT(bytes.size(), 2000);

    ui.type(dir.path() + "rep");
    click("SpeedButton8");
    QImageReader reader(dir.path() + "rep.jpg");
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));
    EXPECT_EQ(reader.size(), chart()->size());
    ui.clear();
    ui.type(dir.path() + "no/such/folder/rep.jpg");
    click("SpeedButton8");
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(ui.shown()[1].kind, QStringLiteral("error"));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "temp.bmp"));
}

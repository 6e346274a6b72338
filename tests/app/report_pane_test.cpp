#include <gtest/gtest.h>

#include <QAbstractBarSeries>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QClipboard>
#include <QComboBox>
#include <QImageReader>
#include <QPainter>
#include <QPrinter>
#include <QTableWidget>
#include <QValueAxis>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "app/report_pane.h"
#include "charts/money_chart.h"
#include "charts/pie_chart.h"
#include "support/main_window.h"
#include "support/records.h"

using namespace zentaro;

namespace {

class ReportTab : public test::MainWindowTest {
protected:
    void build(const char* name) {
        auto* rep = find<QComboBox>("cbRep");
        ASSERT_GE(rep->findText(QString::fromUtf8(name)), 0) << name;
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

// A budget pie over a thousand projects: every slice is drawn, however small; marks that find no room are
// left out (the slice's hint still names it), and every mark shown stays inside the chart, on screen and on
// the printed page alike.
TEST_F(ReportTab, EverySliceIsDrawnAndMarksWithoutRoomAreLeftOutInsideTheChart) {
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    double total = 0;
    for (int p = 1; p <= 1000; ++p) {
        addProject(QStringLiteral("Проект %1").arg(p));
        const double price = p <= 10 ? 50000.0 : double(p);
        test::addRecord(db.tbLink, {{"PageURL", "http://a.ru"}, {"Price", price}});
        total += price;
    }
    build("Бюджеты проектов");
    const auto& shown = chart()->shownSlices();
    ASSERT_EQ(shown.size(), 1000u);
    double sum = 0;
    for (const auto& s : shown)
        sum += s.value;
    EXPECT_DOUBLE_EQ(sum, total);
    for (const QRect area : {QRect(0, 0, 800, 600), QRect(0, 0, 420, 260), chart()->rect()}) {
        const auto boxes = chart()->markBoxes(area);
        ASSERT_EQ(boxes.size(), 1000u);
        EXPECT_GT(std::count_if(boxes.begin(), boxes.end(), [](const QRectF& b) { return b.isEmpty(); }), 0);
        for (size_t i = 0; i < boxes.size(); ++i)
            if (!boxes[i].isEmpty()) {
                EXPECT_TRUE(QRectF(area).contains(boxes[i])) << area.width() << ' ' << boxes[i].left();
                EXPECT_EQ(chart()->sliceAt(area, boxes[i].center()), int(i));
            }
    }
    // No thousands separators in the title's total.
    EXPECT_EQ(chart()->report().title, QStringLiteral("Бюджеты проектов. Общие расходы: 1000445,00"));
}

// One lost link among sixty keeps its own red slice.
TEST_F(ReportTab, ASmallLostSliceKeepsItsPlaceAndColour) {
    test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
    addProject(QStringLiteral("Проект"));
    for (int i = 0; i < 60; ++i)
        test::addRecord(db.tbLink, {{"PageURL", "http://a.ru"}, {"PageStatus", i == 0 ? "2" : "1"}});
    build("Статус ссылок проекта");
    const auto& shown = chart()->shownSlices();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].label, QStringLiteral("Пропажа: "));
    EXPECT_EQ(shown[0].value, 1);
    EXPECT_EQ(shown[0].rgb, std::optional<unsigned>(0xFF0000));
    EXPECT_EQ(chart()->markText(0), QStringLiteral("Пропажа: 1"));
}

namespace {

// The reports of money and time in the window, on two projects with dated, priced link pages.
class MoneyTab : public ReportTab {
protected:
    void SetUp() override {
        ReportTab::SetUp();
        find<QTabWidget>("pcMain")->setCurrentWidget(find<QWidget>("tsReport"));
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        addProject(QStringLiteral("Сад"));
        const QDate month = QDate::currentDate().addDays(1 - QDate::currentDate().day());
        test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/1"}, {"PublicDate", month}, {"Price", 1500.25}});
        test::addRecord(
            db.tbLink, {{"PageURL", "http://a.ru/2"}, {"PublicDate", month.addMonths(-2)}, {"Price", 700.0}});
        addProject(QStringLiteral("Дом"));
        test::addRecord(
            db.tbLink, {{"PageURL", "http://b.ru/1"}, {"PublicDate", month.addMonths(-1)}, {"Price", 300.5}});
        // Pages 1 and 3 stand; page 2 was found and then lost.
        QString err;
        ASSERT_TRUE(db.store.open(QString(), &err)) << err.toStdString();
        ASSERT_TRUE(db.checks.open(dir.path() + "checks.adb", &err)) << err.toStdString();
        const QDateTime at(month, QTime(12, 0));
        for (const auto& [id, reason] : {std::pair{1, db::CheckReason::Found},
                                         {2, db::CheckReason::Found},
                                         {2, db::CheckReason::Missing},
                                         {3, db::CheckReason::FoundNofollow}})
            db.checks.record(db::CheckSubject::LinkPage, id, {at, db::CheckKind::Presence, reason, {}});
    }
    reports::MoneyChart* money() { return form->reports().moneyChart(); }
    // The chart drawn through the printing and saving path; kept for a look when asked.
    QImage render(const QString& name) {
        QImage image(800, 600, QImage::Format_RGB32);
        QPainter p(&image);
        money()->paintChart(p, image.rect(), image.size());
        p.end();
        if (const QByteArray keep = qgetenv("ZENTARO_KEEP_CHART_IMAGES"); !keep.isEmpty())
            image.save(QString::fromLocal8Bit(keep) + u'/' + name + QStringLiteral(".png"));
        return image;
    }
    static int inkIn(const QImage& image, const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        return n;
    }
};

} // namespace

TEST_F(MoneyTab, EveryReportShowsItsBarsAndTheSameNumbersInItsTable) {
    const QStringList names = reports::moneyReportNames();
    auto* rep = find<QComboBox>("cbRep");
    ASSERT_EQ(rep->count(), 11);
    EXPECT_EQ(rep->itemText(7), names[0]); // after the seven pies
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        build(name.toUtf8().constData());
        ASSERT_TRUE(money()->isVisible());
        EXPECT_FALSE(chart()->isVisible());
        const reports::MoneyReport& r = money()->report();
        // The title, and in a smaller line under it what the report counts.
        EXPECT_TRUE(money()->chart()->title().startsWith(r.title.toHtmlEscaped() + "<br>"));
        EXPECT_FALSE(r.subtitle.isEmpty());
        EXPECT_TRUE(money()->chart()->title().contains(r.subtitle.toHtmlEscaped()));
        // Every bar is a number of the table, in the table's order.
        QTableWidget* table = money()->table();
        ASSERT_EQ(table->rowCount(), r.categories.size());
        const auto* bars = static_cast<QAbstractBarSeries*>(money()->chart()->series().value(0));
        ASSERT_NE(bars, nullptr);
        int set = 0;
        for (int col = 1; col < table->columnCount(); ++col) {
            const reports::MoneySeries& s = r.series[size_t(col - 1)];
            EXPECT_EQ(table->horizontalHeaderItem(col)->text(), s.name);
            for (int row = 0; row < table->rowCount(); ++row)
                EXPECT_EQ(table->item(row, col)->text(), reports::valueText(s, size_t(row), QLocale()));
            if (!s.onChart) continue;
            QBarSet* b = bars->barSets().value(set++);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->label(), s.name);
            // Projects lie from the top down, the first at the top: the bars go in from the bottom.
            const int rows = table->rowCount();
            for (int row = 0; row < rows; ++row)
                EXPECT_EQ(b->at(r.byMonth() ? row : rows - 1 - row), s.values[size_t(row)].value_or(0));
        }
        EXPECT_EQ(set, bars->count());
    }
    build("Бюджеты проектов");
    EXPECT_TRUE(chart()->isVisible());
    EXPECT_FALSE(money()->isVisible());
}

TEST_F(MoneyTab, TheChartImageHasBarsAndAxisLabels) {
    build("Расходы по месяцам");
    const reports::MoneyReport& r = money()->report();
    ASSERT_EQ(r.categories.size(), 12);
    EXPECT_EQ(r.categories.back(),
              reports::monthName(QDate::currentDate().year(), QDate::currentDate().month()));
    const auto axes = money()->chart()->axes(Qt::Horizontal);
    ASSERT_EQ(axes.size(), 1);
    EXPECT_EQ(static_cast<QBarCategoryAxis*>(axes[0])->categories(), r.categories);
    const auto values = money()->chart()->axes(Qt::Vertical);
    ASSERT_EQ(values.size(), 1);
    EXPECT_TRUE(static_cast<QValueAxis*>(values[0])->labelFormat().endsWith(QLocale().currencySymbol()));

    const QImage image = render(QStringLiteral("spending"));
    // Bars in the palette's colours, and text left of and below the plot: the axis labels.
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            coloured += (image.pixel(x, y) & 0xffffffu) == reports::PieChart::paletteColour(0) ? 1 : 0;
    EXPECT_GT(coloured, 200);
    const QRectF plot = money()->chart()->plotArea();
    EXPECT_GT(inkIn(image, QRect(0, 60, 70, 400)), 50);     // value labels
    EXPECT_GT(inkIn(image, QRect(60, 430, 700, 120)), 100); // month names
    EXPECT_FALSE(plot.isEmpty());

    build("Цена живой ссылки");
    EXPECT_EQ(money()->report().series[0].values, (std::vector<std::optional<double>>{2200.25, 300.5}));
    EXPECT_GT(inkIn(render(QStringLiteral("live")), QRect(0, 0, 800, 600)), 500);
    build("Деньги в пропавших ссылках");
    EXPECT_EQ(money()->report().categories, QStringList{"Сад"});
    render(QStringLiteral("lost"));
    build("Размещено и пропало по месяцам");
    render(QStringLiteral("placed"));
}

TEST_F(MoneyTab, PrintJpegAndCsvFromTheirButtons) {
    build("Расходы по месяцам");
    const QString pdf = dir.path() + "money.pdf";
    form->reports().choosePrinter = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    click("sbMoneyPrint");
    EXPECT_GT(test::TempFolder::read(pdf).size(), 2000);

    ui.type(dir.path() + "money");
    click("sbMoneyJpeg");
    QImageReader reader(dir.path() + "money.jpg");
    EXPECT_EQ(reader.format(), QByteArray("jpeg"));

    ui.type(dir.path() + "money");
    click("sbMoneyCsv");
    EXPECT_EQ(test::TempFolder::read(dir.path() + "money.csv"), reports::toCsv(money()->report()));
    click("sbMoneyCopy");
    EXPECT_EQ(QApplication::clipboard()->text().toUtf8(), reports::toCsv(money()->report()).mid(3));

    ui.clear();
    ui.type(dir.path() + "no/such/folder/money.csv");
    click("sbMoneyCsv");
    ASSERT_EQ(ui.shown().size(), 2u); // the file question, then the error
    EXPECT_EQ(ui.shown()[1].kind, QStringLiteral("error"));
}

TEST_F(MoneyTab, PeriodAndProjectChoiceAreKeptInTheSettings) {
    auto* period = find<QComboBox>("cbRepPeriod");
    auto* scope = find<QComboBox>("cbRepProject");
    period->setCurrentText(QStringLiteral("Все время"));
    scope->setCurrentText(QStringLiteral("Текущий проект"));
    build("Расходы по месяцам");
    EXPECT_EQ(money()->report().title, QStringLiteral("Расходы по месяцам: Дом, все время"));
    session.storeSettings();
    period->setCurrentIndex(0);
    scope->setCurrentIndex(0);
    session.applySettings();
    EXPECT_EQ(period->currentText(), QStringLiteral("Все время"));
    EXPECT_EQ(scope->currentText(), QStringLiteral("Текущий проект"));
}

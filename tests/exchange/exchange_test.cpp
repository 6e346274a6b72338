#include <limits>
#include <random>

#include <gtest/gtest.h>

#include <QDir>

#include "db/database.h"
#include "db/record_rules.h"
#include "db/table_text.h"
#include "exchange/list_export.h"
#include "exchange/list_import.h"
#include "util/text_file.h"
#include "support/locale_guard.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "web/batch_run.h"
#include "web/url_forms.h"

using namespace zentaro;

namespace {

struct QuietPanel final : web::RunPanel {
    void showRun(bool) override {}
    void setProgress(int) override {}
    void processEvents() override {}
};

class Exchange : public ::testing::Test {
protected:
    void SetUp() override {
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "Проект"}});
        test::addRecord(db.tbCat2, {{"Name", "Статьи"}});
    }
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
    test::TempFolder dir;
};

} // namespace

TEST(PrepareLinkString, ColumnsByOrderAndDivider) {
    struct Case {
        const char *text, *rule, *div, *url, *price, *date;
    };
    const Case cases[] = {
        {"http://a.ru/x", "|URL ссылки|Цена|Дата|", "tab", "http://a.ru/x", "", ""},
        {"http://a.ru/x;150,5;01.02.2014", "|URL ссылки|Цена|Дата|", ";", "http://a.ru/x", "150,5",
         "01.02.2014"},
        {"01.02.2014;http://a.ru;9", "|Дата|URL ссылки|Цена|", ";", "http://a.ru", "9", "01.02.2014"},
        {"a.ru;1;2", "|URL ссылки|Цена|Дата|", ";", "", "1", "2"},
        {"http://a.ru;1;2;extra;more", "|URL ссылки|Цена|Дата|", ";", "http://a.ru", "1", "2"},
        {"", "|URL ссылки|Цена|Дата|", ";", "", "", ""},
        // Only an address beginning with http:// or https:// (blanks around it aside) is taken.
        {"=HYPERLINK(\"http://e.vil\");1;2", "|URL ссылки|Цена|Дата|", ";", "", "1", "2"},
        {"see http://a.ru", "|URL ссылки|Цена|Дата|", "tab", "", "", ""},
        {"ftp://http.ru/", "|URL ссылки|Цена|Дата|", "tab", "", "", ""},
        {"  https://a.ru/x  ;5", "|URL ссылки|Цена|Дата|", ";", "https://a.ru/x", "5", ""},
        {"HTTP://A.RU/", "|URL ссылки|Цена|Дата|", "tab", "HTTP://A.RU/", "", ""},
    };
    for (const Case& c : cases) {
        QString url, date, price;
        exchange::PrepareLinkString(QString::fromUtf8(c.text), QString::fromUtf8(c.rule),
                                    QString::fromUtf8(c.div), url, date, price);
        EXPECT_EQ(url, QString::fromUtf8(c.url)) << c.text;
        EXPECT_EQ(price, QString::fromUtf8(c.price)) << c.text;
        EXPECT_EQ(date, QString::fromUtf8(c.date)) << c.text;
    }
}

TEST(TextFile, ByteOrderMarksCodePageAndLineEnds) {
    EXPECT_EQ(decodeLines("\xEF\xBB\xBF\xD0\xB4\r\nb\rc\nd"), (QStringList{"д", "b", "c", "d"}));
    EXPECT_EQ(decodeLines(QByteArray("\xFF\xFE\x34\x04\n\x00", 6)), (QStringList{"д"}));
    EXPECT_EQ(decodeLines(QByteArray("\xFE\xFF\x04\x34", 4)), (QStringList{"д"}));
    EXPECT_EQ(decodeLines("\xE4\r\n\r\n"), (QStringList{"д", ""}));
    EXPECT_EQ(encodeLines({"д", ""}), QByteArray("\xE4\r\n\r\n"));
    std::mt19937 rng(5);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(rng() % 40), '\0');
        for (char& c : bytes)
            c = char(rng() & 0xff);
        const QStringList lines = decodeLines(bytes);
        EXPECT_LE(lines.size(), bytes.size() + 1);
    }
}

// The code page by table says what the system's converter says, both ways, on every byte and on text mixing
// Cyrillic and marks; text with characters outside the code page (surrogate pairs included) reads back whole.
TEST(TextFile, CodePageTablesAgreeWithTheSystemConverter) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        if (b != '\r' && b != '\n') all += char(b);
    QString viaConverter;
    ASSERT_TRUE(web::decodeCharset(all, "CP1251", viaConverter));
    EXPECT_EQ(decodeLines(all), QStringList{viaConverter});
    const std::u16string pool = u"aZ09|.,\tЁёАяЖ№€—«»’™\u00a0\u0100\u4e2d\U0001F600";
    std::mt19937 rng(11);
    for (int round = 0; round < 500; ++round) {
        QString line;
        for (int i = int(rng() % 30); i > 0; --i) {
            const char16_t c = pool[rng() % pool.size()];
            line += rng() % 50 == 0 ? QChar(char16_t(0xD800 + rng() % 0x800)) : QChar(c);
        }
        // A line the code page cannot hold goes out in UTF-8 and reads back whole.
        if (fitsCodePage({line})) {
            ASSERT_EQ(encodeLines({line}), web::toAnsi(line) + "\r\n") << line.toStdString();
        } else if (line.isValidUtf16()) {
            ASSERT_EQ(decodeLines(encodeLines({line})), QStringList{line}) << line.toStdString();
        }
    }
}

TEST_F(Exchange, ListExportWritesStoredCodesAndRegionalForms) {
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/p"},
                                {"Price", 150.5},
                                {"TIC", -1},
                                {"PageIndexY", "1"},
                                {"PublicDate", QDate(2014, 2, 1)}});
    const QStringList lines = exchange::linkExportLines(db);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1], QStringLiteral("http://a.ru/p\tСтатьи\t-1\t\t150,5\t1\t\t\t\t01.02.2014"));
    EXPECT_TRUE(encodeLines(lines).startsWith(encodeLines({"Веб-страница"}).left(12)));
    EXPECT_TRUE(encodeLines(lines).contains("index\t\xC2\xED\xE5\xF8\xED\xE8\xE5"));
    EXPECT_EQ(encodeLines(lines).count("\r\n\r\n"), 1); // the empty second line
    EXPECT_EQ(exchange::siteExportLines(db), (QStringList{"Сайт\tтИЦ\tPR\tКатегория", "trust.ru\t\t\t"}));
}

TEST_F(Exchange, TablesGoToTextAndBackWholeOrNotAtAll) {
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/p"}, {"Price", 99.5}, {"PageStatus", "2"}});
    test::addRecord(db.tbAncor, {{"URL", "x"}});
    const QString folder = dir.path() + "export/";
    ui.answer(true);
    ui.answer(true);
    ASSERT_TRUE(db::AllTbExport(db, folder, ui, nullptr));
    EXPECT_EQ(ui.shown().size(), 2u); // categories and accounts are empty: asked each
    const QStringList link = *readTextFile(folder + "link.txt", nullptr);
    EXPECT_TRUE(link[0].startsWith(QStringLiteral("tbLink, ")));
    EXPECT_TRUE(link[0].endsWith(QStringLiteral(", [1.1]")));
    EXPECT_EQ(link[1], QStringLiteral("[structure]"));
    EXPECT_EQ(link[2], QStringLiteral("ID, TIntegerField, 0"));
    EXPECT_EQ(link[8], QStringLiteral("PageURL, TStringField, 255"));
    EXPECT_TRUE(link.contains(QStringLiteral("[data]")));

    // A damaged file anywhere: nothing changes.
    const QByteArray good = test::TempFolder::read(folder + "ancor.txt");
    test::TempFolder::write(folder + "ancor.txt", "[structure]\r\nID, TNoSuchField, 0\r\n[/structure]\r\n");
    test::addRecord(db.tbProject, {{"Name", "Второй"}});
    EXPECT_FALSE(db::AllTbImport(db, folder, nullptr));
    EXPECT_EQ(db.tbProject.recordCount(), 2);
    test::TempFolder::write(folder + "ancor.txt", good);
    ASSERT_TRUE(db::AllTbImport(db, folder, nullptr));
    EXPECT_EQ(db.tbProject.recordCount(), 1);
    db.tbLink.setFiltered(false);
    ASSERT_EQ(db.tbLink.recordCount(), 1);
    db.tbLink.first();
    EXPECT_EQ(db.tbLink.asFloat("Price"), 99.5);
    EXPECT_EQ(db.tbLink.asString("PageStatus"), QStringLiteral("2"));
    EXPECT_EQ(db.tbLink.asString("_cat"),
              QStringLiteral("Статьи")); // recomputed from the imported categories
    db.tbAncor.setFiltered(false);
    db.tbAncor.first();
    EXPECT_EQ(db.tbAncor.asString("URL"), QStringLiteral("x"));
}

// A table text that is empty, foreign, cut short, repeats or lacks record numbers, or holds a record of
// another width is refused whole: the error names the file, the line and why, and no table changes. Marker
// lines with blanks around them still count, and text in the code page is read in the code page even where
// its bytes happen to be valid UTF-8.
TEST_F(Exchange, ADamagedTableTextIsRefusedWholeAndNamesTheLine) {
    const QString cp1251AsUtf8 = QStringLiteral("РџСЂРёРІРµС‚"); // the bytes of "Привет" in UTF-8
    for (int i = 0; i < 3; ++i)
        test::addRecord(db.tbLink,
                        {{"PageURL", QStringLiteral("http://a.ru/%1").arg(i)}, {"Name", cp1251AsUtf8}});
    const QString folder = dir.path() + "export/";
    for (int i = 0; i < 4; ++i)
        ui.answer(true);
    ASSERT_TRUE(db::AllTbExport(db, folder, ui, nullptr));
    const QByteArray good = test::TempFolder::read(folder + "link.txt");
    const QList<QByteArray> lines = good.split('\n');
    const int data = int(lines.indexOf("[data]\r"));
    ASSERT_GT(data, 0);
    auto with = [&](int at, const QByteArray& line) {
        QList<QByteArray> l = lines;
        l[at] = line + '\r';
        return l.join('\n');
    };
    auto without = [&](int at) {
        QList<QByteArray> l = lines;
        l.removeAt(at);
        return l.join('\n');
    };
    QByteArray repeated = lines.mid(0, data + 2).join('\n') + '\n' + lines.mid(data + 1).join('\n');
    QByteArray idless = lines[data + 1], negative = lines[data + 1], barred = lines[data + 1];
    idless.remove(0, 1);          // "1|…" → "|…"
    negative.replace(0, 1, "-7"); // "1|…" → "-7|…"
    barred.replace("http://a.ru/0", "http://a.ru/|0");
    QList<QByteArray> swappedLines = lines;
    swappedLines.swapItemsAt(7, 8); // PageURL and Name (a file of another field order)
    const QByteArray swapped = swappedLines.join('\n');
    auto priced = [&](const QByteArray& price) {
        QList<QByteArray> values = lines[data + 1].split('|');
        values[db.tbLink.fieldIndex(QStringLiteral("Price"))] = price;
        return with(data + 1, values.join('|').chopped(1));
    };
    struct Case {
        const char* what;
        QByteArray bytes;
        const char* error; // empty when the import goes through with three links
    };
    const Case cases[] = {
        {"0 bytes", "", "\"link.txt\": файл пуст"},
        {"binary", QByteArray("\x00\x01SQLite format 3\x00\xff\xfe", 20),
         "строка 1: файл не является выгрузкой"},
        {"no [data]", without(data), "нет раздела [data]"},
        {"[data] with a trailing blank", with(data, "[data] "), ""},
        {"[data] with a leading blank", with(data, " [data]"), ""},
        {"[data] with a tab", with(data, "[data]\t"), ""},
        {"the first half", lines.mid(0, data + 3).join('\n'), "файл обрезан"},
        {"a record cut mid-way", with(data + 2, lines[data + 2].left(20)),
         "строка 27: в записи 6 полей вместо 23"},
        {"a repeated record", repeated, "строка 27: номер записи (ID) 1 повторяется"},
        {"an empty ID", with(data + 1, idless), "строка 26: нет номера записи (ID)"},
        {"ID -7", with(data + 1, negative), "строка 26: номер записи (ID) -7 не больше нуля"},
        {"a second [data]", with(data + 4, "[data]"), "строка 29: второй раздел [data] (первый в строке 25)"},
        {"a \"|\" inside a value", with(data + 1, barred), "строка 26: в записи 24 полей вместо 23"},
        {"a record after [/data]", good + "4|1|||||http://a.ru/4|\r\n",
         "строка 30: текст после строки [/data]"},
        {"two fields swapped in the structure", swapped, "строка 8: в структуре ожидалось поле Name"},
        {"a field missing from the structure", without(data - 3),
         "строка 22: в структуре ожидалось поле AFN"},
        {"Price inf", priced("inf"), "строка 26: недопустимое значение поля Price: \"inf\""},
        {"Price nan", priced("nan"), "строка 26: недопустимое значение поля Price: \"nan\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempFolder::write(folder + "link.txt", c.bytes);
        test::addRecord(db.tbLink, {{"PageURL", "http://before.ru/"}});
        const int before = db.tbLink.recordCount();
        QString error;
        const bool ok = db::AllTbImport(db, folder, &error);
        if (*c.error) {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(error.startsWith(QStringLiteral("\"link.txt\"")) &&
                        error.contains(QString::fromUtf8(c.error)))
                << error.toStdString();
            EXPECT_EQ(db.tbLink.recordCount(), before);
            continue;
        }
        ASSERT_TRUE(ok) << error.toStdString();
        db.tbLink.setFiltered(false);
        ASSERT_EQ(db.tbLink.recordCount(), 3);
        db.tbLink.first();
        EXPECT_EQ(db.tbLink.asString("Name"), cp1251AsUtf8);
    }
}

TEST(TableText, StructureAndDataLinesAsWritten) {
    QString name, cls;
    int size = 0;
    EXPECT_TRUE(db::InsertTableField(QStringLiteral("Name,TStringField,128"), name, cls, size));
    EXPECT_EQ(name, QStringLiteral("Name"));
    EXPECT_EQ(size, 128);
    EXPECT_FALSE(db::InsertTableField(QStringLiteral("Name, TStringField, x"), name, cls, size));
    EXPECT_EQ(db::splitDataLine(QStringLiteral("5|Новости")), QStringList{"5"});
    EXPECT_TRUE(db::splitDataLine(QStringLiteral("no bar")).isEmpty());
    EXPECT_EQ(db::sectionLines({"x", "[DATA]", "a", "[/DATA]", "b", "[/data]", "c"}, "[data]", "[/data]"),
              (QStringList{"a", "[/DATA]", "b"}));
}

TEST_F(Exchange, ListImportAddsNewLinesAndDomainsOnly) {
    test::addRecord(db.tbLink, {{"PageURL", "http://a.ru/1"}});
    QuietPanel panel;
    exchange::ImportChoice choice;
    choice.symbol = QStringLiteral(";");
    const int added =
        exchange::ImportLinks(db,
                              {"HTTP://A.RU/1", "http://b.ru/2;150,5;01.02.2014", "bare.ru;1;2",
                               "http://c.ru;x;y", "HTTP://D.RU/Case?ID=Ab", "http://d.ru/case?id=ab"},
                              choice, panel);
    EXPECT_EQ(added, 3);
    db.tbLink.last();
    // Path and query as written, scheme and host lower-cased; found listed whatever the letter case.
    EXPECT_EQ(db.tbLink.asString("PageURL"), QStringLiteral("http://d.ru/Case?ID=Ab"));
    db.tbLink.prior();
    EXPECT_EQ(db.tbLink.asString("PageURL"), QStringLiteral("http://c.ru"));
    EXPECT_TRUE(db.tbLink.isNull("Price"));
    db.tbLink.prior();
    EXPECT_EQ(db.tbLink.asFloat("Price"), 150.5);
    EXPECT_EQ(db.tbLink.asDate("PublicDate"), QDate(2014, 2, 1));
    EXPECT_EQ(db.tbLink.asInteger("LinkCat"), db.tbCat2.asInteger("ID"));
    // After the highest number (as a text import may bring) the free numbers are given, never an overflow.
    test::addRecord(db.tbLink, {{"ID", std::numeric_limits<int>::max()}, {"PageURL", "http://top.ru/"}});
    ASSERT_EQ(exchange::ImportLinks(db, {"http://d.ru/", "http://e.ru/"}, choice, panel), 2);
    db.tbLink.setFiltered(false);
    for (const char* url : {"http://d.ru/", "http://e.ru/"}) {
        ASSERT_TRUE(db.tbLink.locate("PageURL", url));
        EXPECT_EQ(db.tbLink.asInteger("ID"), url[7] == 'd' ? 5 : 6) << url;
    }
    // Blank lines are no sites; a domain already listed (in any letter case) or listed twice is added once.
    EXPECT_EQ(exchange::ImportSite(db, {"TRUST.ru", "https://www.new.ru/a?b=1", "", "   ", "NEW.ru"}), 1);
    db.tbSite.setFiltered(false);
    EXPECT_EQ(db.tbSite.recordCount(), 2);
}

// The stop button pressed while a long list is read: the line in hand is the last one imported, the bar goes
// away and the next import is not stopped by the old press.
TEST_F(Exchange, AStopDuringALongImportKeepsWhatCameBeforeIt) {
    struct StoppingPanel final : web::RunPanel {
        explicit StoppingPanel(db::Database& d) : db(d) {}
        void showRun(bool on) override { shown = on; }
        void setProgress(int p) override { last = p; }
        void processEvents() override {
            if (++turns == 300) db.isStop = true;
        }
        db::Database& db;
        bool shown = false;
        int last = -1, turns = 0;
    } panel{db};
    QStringList lines;
    for (int i = 0; i < 5000; ++i)
        lines << QStringLiteral("http://long%1.ru/").arg(i);
    const int before = db.tbLink.recordCount();
    EXPECT_EQ(exchange::ImportLinks(db, lines, {}, panel), 300);
    EXPECT_EQ(db.tbLink.recordCount(), before + 300);
    EXPECT_EQ(db.tbLink.asString("PageURL"), QStringLiteral("http://long299.ru/"));
    EXPECT_FALSE(panel.shown);
    EXPECT_GT(panel.last, 0);
    EXPECT_LT(panel.last, 10);
    EXPECT_FALSE(db.isStop);
    EXPECT_EQ(exchange::ImportLinks(db, lines, {}, panel), 4700);
}

TEST_F(Exchange, AnEmptyTableAnsweredNoKeepsItsOldFileAndBadFilesAreRefused) {
    const QString folder = dir.path() + "export/";
    QDir().mkpath(folder);
    test::TempFolder::write(folder + "account.txt", "old");
    ui.answer(true);  // categories of sites: empty, exported
    ui.answer(false); // links: empty, kept
    ui.answer(true);
    ui.answer(false); // accounts: empty, kept
    ASSERT_TRUE(db::AllTbExport(db, folder, ui, nullptr));
    EXPECT_EQ(test::TempFolder::read(folder + "account.txt"), QByteArray("old"));
    QString error;
    EXPECT_FALSE(readTextFile(dir.path(), &error).has_value()); // a folder given as the file
    EXPECT_TRUE(error.contains(QStringLiteral("не является файлом")));
    test::TempFolder::write(dir.path() + "empty.txt", "");
    EXPECT_EQ(readTextFile(dir.path() + "empty.txt", nullptr), QStringList());
    // Random and truncated files never import halfway.
    std::mt19937 rng(17);
    const QByteArray good = test::TempFolder::read(folder + "project.txt");
    for (int round = 0; round < 200; ++round) {
        QByteArray bytes = good.left(qsizetype(rng() % unsigned(good.size() + 1)));
        for (int i = 0; i < 4 && !bytes.isEmpty(); ++i)
            bytes[qsizetype(rng() % unsigned(bytes.size()))] = char(rng() & 0xff);
        test::TempFolder::write(folder + "project.txt", bytes);
        db::AllTbImport(db, folder, nullptr);
        EXPECT_LE(db.tbProject.recordCount(), 1);
    }
}

namespace {

using test::LocaleGuard;

// Every stored value of every data table, row by row in ID order, as the engine holds it.
QStringList storedValues(db::Database& db) {
    QStringList out;
    for (db::Table* t : db.dataTables()) {
        t->setFiltered(false);
        t->setIndexFieldNames(QStringLiteral("ID"));
        for (int pos = 0; pos < t->recordCount(); ++pos)
            for (const int f : t->storedFields())
                out << t->tableName() + u'.' + t->field(f).name + u'=' + t->valueAt(pos, f).toString();
    }
    return out;
}

} // namespace

// Values holding the section markers, characters outside Windows-1251 and dates come back exactly from the
// text files, under regional formats with two-digit years too.
TEST_F(Exchange, EverySevenTablesComeBackExactlyWithMarkersForeignCharactersAndDates) {
    const QString marker = QStringLiteral("Заметка [/data] в тексте"),
                  upper = QStringLiteral("see [DATA] here");
    const QString foreign = QStringLiteral("Café München ✓ 😀");
    db.tbProject.edit();
    db.tbProject.setValue("Name", marker);
    db.tbProject.setValue("Info", QStringLiteral("[/structure]"));
    db.tbProject.setValue("DateAdd", QDate(2014, 12, 8));
    db.tbProject.post();
    test::addRecord(db.tbProject, {{"Name", foreign}, {"DateAdd", QDate(1999, 1, 31)}});
    test::addRecord(db.tbProject, {{"Name", "year 14"}, {"DateAdd", QDate(14, 2, 1)}});
    test::addRecord(db.tbCat, {{"Name", upper}});
    test::addRecord(db.tbCat, {{"Name", QStringLiteral("[data]")}});
    db.tbCat2.edit();
    db.tbCat2.setValue("Name", QStringLiteral("[structure]"));
    db.tbCat2.post();
    db.tbSite.edit();
    db.tbSite.setValue("Info", foreign);
    db.tbSite.setValue("TicUpdate", QDate(2014, 12, 8));
    db.tbSite.post();
    test::addRecord(db.tbLink, {{"PageURL", "http://сайт.рф/[/data]"},
                                {"PublicDate", QDate(2014, 12, 8)},
                                {"Price", 150.5},
                                {"Name", foreign}});
    test::addRecord(db.tbAncor, {{"Ancor", marker}, {"URL", "http://a.ru/ü"}});
    test::addRecord(db.tbAccount, {{"User", upper}, {"info", foreign}});
    const QStringList before = storedValues(db);
    ASSERT_TRUE(before.contains(QStringLiteral("tbLink.PublicDate=2014-12-08")));
    struct Locale {
        QLocale::Language language;
        QLocale::Territory territory;
    };
    for (const Locale l :
         {Locale{QLocale::English, QLocale::UnitedStates}, Locale{QLocale::German, QLocale::Germany},
          Locale{QLocale::Slovak, QLocale::Slovakia}, Locale{QLocale::Hungarian, QLocale::Hungary},
          Locale{QLocale::Bulgarian, QLocale::Bulgaria}, Locale{QLocale::Korean, QLocale::SouthKorea},
          Locale{QLocale::Serbian, QLocale::Serbia}, Locale{QLocale::Arabic, QLocale::SaudiArabia},
          Locale{QLocale::Russian, QLocale::Russia}}) {
        LocaleGuard g(QLocale(l.language, l.territory));
        const QString folder = dir.path() + QLocale().name() + u'/';
        QStringList unreadable;
        QString error;
        ASSERT_TRUE(db::AllTbExport(db, folder, ui, &error, &unreadable)) << error.toStdString();
        EXPECT_TRUE(unreadable.isEmpty()) << unreadable.join(u' ').toStdString();
        test::addRecord(db.tbProject, {{"Name", "after the export"}});
        ASSERT_TRUE(db::AllTbImport(db, folder, &error)) << error.toStdString();
        EXPECT_EQ(storedValues(db), before) << QLocale().name().toStdString();
        db.tbProject.first();
    }
}

// The list import reads the short date forms and the encodings people's files come in; a line it cannot
// use is counted in the closing message, never silently changed.
TEST_F(Exchange, ListImportDatesAndEncodings) {
    LocaleGuard g(QLocale(QLocale::Russian, QLocale::Russia));
    const QDate today = QDate::currentDate(), feb1(2014, 2, 1);
    const int century = (today.year() + 20) / 100 * 100;
    const QByteArray utf16 = QByteArray("h\0t\0t\0p\0:\0/\0/\0u\0.\0r\0u\0", 22);
    struct Case {
        QByteArray bytes;
        const char* url; // "" when nothing is added
        QDate date;
        int badDate, withNul, noAddress;
    };
    const Case cases[] = {
        {"http://a.ru/1;;1.2.2014", "http://a.ru/1", feb1, 0, 0, 0},
        {"http://a.ru/2;;01.02.14", "http://a.ru/2", QDate(century + 14, 2, 1), 0, 0, 0},
        {"http://a.ru/3;; 01.02.2014 ", "http://a.ru/3", feb1, 0, 0, 0},
        {"http://a.ru/4;;01.02.0014", "http://a.ru/4", today, 1, 0, 0},
        {"http://a.ru/5;;31.02.2014", "http://a.ru/5", today, 1, 0, 0},
        {"http://a.ru/6;;", "http://a.ru/6", today, 0, 0, 0},
        {"http://\xD1\x81\xD0\xB0\xD0\xB9\xD1\x82.\xD1\x80\xD1\x84/;;01.02.2014", "http://сайт.рф/", feb1, 0,
         0, 0},
        {"\xEF\xBB\xBFhttp://\xD0\xB1.ru/", "http://б.ru/", today, 0, 0, 0},
        {"http://\xF1\xE0\xE9\xF2.ru/", "http://сайт.ru/", today, 0, 0, 0}, // Windows-1251
        {utf16, "", {}, 0, 1, 0},
        {"a.ru;1;01.02.2014", "", {}, 0, 0, 1},
    };
    QuietPanel panel;
    exchange::ImportChoice choice;
    choice.symbol = QStringLiteral(";");
    for (const Case& c : cases) {
        const int before = db.tbLink.recordCount();
        exchange::ImportReport report;
        exchange::ImportLinks(db, decodeLines(c.bytes), choice, panel, &report);
        const QString url = QString::fromUtf8(c.url);
        EXPECT_EQ(db.tbLink.recordCount(), before + (url.isEmpty() ? 0 : 1)) << c.bytes.toStdString();
        if (!url.isEmpty()) {
            EXPECT_EQ(db.tbLink.asString("PageURL"), url);
            EXPECT_EQ(db.tbLink.asDate("PublicDate"), c.date) << c.bytes.toStdString();
        }
        EXPECT_EQ(report.badDate, c.badDate) << c.bytes.toStdString();
        EXPECT_EQ(report.withNul, c.withNul) << c.bytes.toStdString();
        EXPECT_EQ(report.noAddress, c.noAddress) << c.bytes.toStdString();
    }
    // A UTF-16 file without its mark is no list of sites either.
    exchange::ImportReport report;
    EXPECT_EQ(exchange::ImportSite(db, decodeLines(utf16 + QByteArray("\n\0", 2) + utf16), &report), 0);
    EXPECT_EQ(report.withNul, 2);
}

// An address longer than the field is skipped and counted, so the same file read again adds nothing; a file
// divided by the divider not chosen is pointed out, and lines without an address are counted.
TEST_F(Exchange, ListImportSkipsWhatItCannotStoreAndSaysSo) {
    const QString longUrl = QStringLiteral("http://a.ru/") + QString(300, u'x');
    const QStringList lines{longUrl, "http://b.ru/1", "без адреса", "", "http://b.ru/2"};
    QuietPanel panel;
    exchange::ImportReport report;
    EXPECT_EQ(exchange::ImportLinks(db, lines, {}, panel, &report), 2);
    EXPECT_EQ(exchange::importSummary(report),
              QStringLiteral("Добавлено новых элементов: 2\r\nПропущено строк без адреса: 1\r\n"
                             "Пропущено строк с адресом длиннее 255 знаков: 1"));
    EXPECT_EQ(exchange::ImportLinks(db, lines, {}, panel, &report), 0);
    EXPECT_EQ(report.tooLong, 1);

    // "Табуляция" ticked, the file divided by ";": the whole line is taken, and the message says why.
    EXPECT_EQ(exchange::ImportLinks(db, {"http://c.ru;10;01.02.2014", "http://d.ru;20;01.02.2014"}, {}, panel,
                                    &report),
              2);
    EXPECT_TRUE(report.otherDivider);
    EXPECT_TRUE(exchange::importSummary(report).endsWith(
        QStringLiteral("Внимание: в большинстве строк столбцы разделены знаком \";\", а выбран другой "
                       "разделитель.")));
}

// Without a current trust site the links still get their number, project and date; without a current
// project nothing is added and the message says why.
TEST(ListImport, LinksNeedAProjectButNoTrustSite) {
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
    QuietPanel panel;
    exchange::ImportReport report;
    EXPECT_EQ(exchange::ImportLinks(db, {"http://a.ru/"}, {}, panel, &report), 0);
    EXPECT_EQ(exchange::importSummary(report),
              QStringLiteral("Нет текущего проекта: выберите проект, в который добавить ссылки."));
    test::addRecord(db.tbProject, {{"Name", "Проект"}});
    ASSERT_LT(db.tbSite.currentPos(), 0);
    EXPECT_EQ(exchange::ImportLinks(db, {"http://a.ru/", "http://b.ru/"}, {}, panel, &report), 2);
    EXPECT_EQ(db.tbLink.recordCount(), 2);
    EXPECT_EQ(db.tbLink.asInteger("ID"), 2);
    EXPECT_EQ(db.tbLink.asInteger("ProjectID"), db.tbProject.asInteger("ID"));
    EXPECT_EQ(db.tbLink.asDate("PublicDate"), QDate::currentDate());
}

// A table left unwritten at export (answered "No") is named in the refusal with what to do; a file larger
// than the reader takes is never written.
TEST_F(Exchange, ARefusedImportNamesTheMissingFileAndExportKeepsToTheReadersLimit) {
    const QString folder = dir.path() + "export/";
    for (int i = 0; i < 3; ++i)
        ui.answer(true); // the empty categories of sites, links and anchors are written
    ui.answer(false);    // the empty accounts are not
    ASSERT_TRUE(db::AllTbExport(db, folder, ui, nullptr));
    QString error;
    EXPECT_FALSE(db::AllTbImport(db, folder, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("нет файла \"account.txt\" (таблица tbAccount)")))
        << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("\"Да\""))) << error.toStdString();

    const QStringList lines{QString(600, u'a'), QString(600, u'b')};
    EXPECT_FALSE(writeTextFile(folder + "big.txt", lines, &error, 1000));
    EXPECT_FALSE(QFileInfo::exists(folder + "big.txt"));
    ASSERT_TRUE(writeTextFile(folder + "big.txt", lines, &error, 1204));
    EXPECT_EQ(readTextFile(folder + "big.txt", &error, 1204), lines);
    EXPECT_FALSE(readTextFile(folder + "big.txt", &error, 1203).has_value());
}

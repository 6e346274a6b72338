#include <optional>
#include <random>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include "db/value.h"
#include "support/locale_guard.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "util/regional.h"
#include "util/shell.h"
#include "util/text_helpers.h"
#include "util/user_interface.h"

using namespace zentaro;

namespace {

using test::LocaleGuard;

class OpenRecorder {
public:
    OpenRecorder() {
        setOpenHandler([this](const QString& t, const QString&, const QString&) {
            targets << t;
            return 0;
        });
    }
    ~OpenRecorder() { setOpenHandler({}); }
    QStringList targets;
};

} // namespace

TEST(DelLabelsBeginEnd, RemovesOnlySpacesFromBothEnds) {
    EXPECT_EQ(DelLabelsBeginEnd(QStringLiteral("  ab c  ")), QStringLiteral("ab c"));
    EXPECT_EQ(DelLabelsBeginEnd(QStringLiteral("\tab ")), QStringLiteral("\tab"));
    EXPECT_EQ(DelLabelsBeginEnd(QStringLiteral("\u00a0x\n")), QStringLiteral("\u00a0x\n"));
    EXPECT_EQ(DelLabelsBeginEnd(QString()), QString());
    EXPECT_EQ(DelLabelsBeginEnd(QStringLiteral("   ")), QStringLiteral("   "));
    EXPECT_EQ(DelLabelsBeginEnd(QStringLiteral(" Привет ")), QStringLiteral("Привет"));
}

// Either separator is read in both kinds of locale; nothing beyond the written grammar is.
TEST(StrToNormalFloat, ReadsEitherSeparatorInEveryLocaleAndNothingElse) {
    const QLocale comma(QLocale::Russian, QLocale::Russia);
    const QLocale point(QLocale::English, QLocale::UnitedStates);
    const struct {
        QLocale locale;
        const char* text;
        std::optional<double> number;
    } cases[] = {
        {comma, "12.5", 12.5},
        {comma, " 12,5 ", 12.5},
        {comma, "100", 100.0},
        {comma, "", 0.0},
        {comma, "-1,5e2", -150.0},
        {comma, "+,5", 0.5},
        {comma, "7.", 7.0},
        {comma, "1.5.5", std::nullopt},
        {comma, "   ", std::nullopt},
        {comma, "abc", std::nullopt},
        {comma, "1\u00a0000", std::nullopt},
        // No other white space, no words that parse as numbers elsewhere.
        {comma, "\t12", std::nullopt},
        {comma, "12\n", std::nullopt},
        {comma, "12\u00a0", std::nullopt},
        {comma, "inf", std::nullopt},
        {comma, "nan", std::nullopt},
        {comma, "-nan", std::nullopt},
        {comma, "infinity", std::nullopt},
        {comma, "1e", std::nullopt},
        {comma, "e5", std::nullopt},
        {comma, ",", std::nullopt},
        {comma, "+", std::nullopt},
        {comma, "1,5,5", std::nullopt},
        {comma, "1e999", std::nullopt},
        {comma, "١٢", std::nullopt},
        {comma, "0x10", std::nullopt},
        {point, "12,5", 12.5},
        {point, "12.5", 12.5},
        {point, "1,234.56", std::nullopt},
    };
    for (const auto& c : cases) {
        LocaleGuard g(c.locale);
        const std::optional<double> got = StrToNormalFloat(QString::fromUtf8(c.text));
        ASSERT_EQ(got.has_value(), c.number.has_value()) << c.locale.name().toStdString() << " " << c.text;
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.number) << c.text;
        }
    }
}

TEST(RunURL, LowerCasesAndAddsSchemeOnlyWhenNoHttpAnywhere) {
    OpenRecorder rec;
    RunURL(QStringLiteral("WWW.Example.RU/Page"));
    RunURL(QStringLiteral("HTTPS://Example.ru/"));
    RunURL(QStringLiteral("example.ru/?r=http"));
    RunURL(QString());
    RunURL(QStringLiteral("ПРИМЕР.РФ"));
    EXPECT_EQ(
        rec.targets,
        (QStringList{QStringLiteral("http://www.example.ru/page"), QStringLiteral("https://example.ru/"),
                     QStringLiteral("example.ru/?r=http"), QStringLiteral("http://пример.рф")}));
}

TEST(ShellExec, PassesTheTargetUnchanged) {
    OpenRecorder rec;
    ShellExec(QStringLiteral("/tmp/Some Folder"));
    EXPECT_EQ(rec.targets, QStringList{QStringLiteral("/tmp/Some Folder")});
}

TEST(ShellExec, ADocumentWithParametersGoesToTheDesktopAndOnlyAProgramIsRun) {
    QTemporaryDir dir;
    const QString bin = dir.path() + QStringLiteral("/bin/");
    QDir().mkpath(bin);
    auto script = [&](const QString& path, const QString& log) {
        test::TempFolder::write(path, ("#!/bin/sh\necho \"$@\" > '" + log + "'\n").toUtf8());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    // A stand-in for the desktop's opener, found first on the path.
    script(bin + QStringLiteral("xdg-open"), dir.path() + QStringLiteral("/opened"));
    script(dir.path() + QStringLiteral("/tool"), dir.path() + QStringLiteral("/ran"));
    test::TempFolder::write(dir.path() + QStringLiteral("/notes.txt"), "text");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);
    EXPECT_EQ(FileExecute(dir.path() + QStringLiteral("/notes.txt"), QStringLiteral("-x"), QString()), 0);
    EXPECT_EQ(FileExecute(dir.path() + QStringLiteral("/tool"), QStringLiteral("a b"), QString()), 0);
    qputenv("PATH", path);
    // The stand-ins run detached; a line is whole once its newline is written.
    auto waitRead = [](const QString& file) {
        QByteArray text;
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return (text = test::TempFolder::read(file)).endsWith('\n'); }, 2000))
            << file.toStdString();
        return text.trimmed();
    };
    EXPECT_EQ(waitRead(dir.path() + QStringLiteral("/opened")), QFile::encodeName(dir.path() + "/notes.txt"));
    EXPECT_EQ(waitRead(dir.path() + QStringLiteral("/ran")), "a b");
}

TEST(ShellExec, DesktopOpenOfNothingReportsFailureWithoutThrowing) {
    EXPECT_EQ(FileExecute(QString(), QString(), QString()), -1);
}

TEST(Msg, ShowsTextInTheInformationBox) {
    test::ScriptedUi ui;
    Msg(ui, QStringLiteral("строка 1\nстрока 2"));
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].kind, QStringLiteral("message"));
    EXPECT_EQ(ui.shown()[0].caption, QStringLiteral("Информация"));
    EXPECT_EQ(ui.shown()[0].text, QStringLiteral("строка 1\nстрока 2"));
}

// Dates go out with four-digit years under every regional format and come back the same day; the short forms
// people type are read in the locale's order, two-digit years near today, impossible ones refused.
TEST(RegionalDates, FourDigitYearsOutAndTheCommonShortFormsIn) {
    struct Case {
        QLocale::Language language;
        QLocale::Territory territory;
        const char* written; // formatDate(8 December 2014)
    };
    const Case locales[] = {{QLocale::Russian, QLocale::Russia, "08.12.2014"},
                            {QLocale::English, QLocale::UnitedStates, "12/8/2014"},
                            {QLocale::German, QLocale::Germany, "08.12.2014"},
                            {QLocale::French, QLocale::France, "08/12/2014"}};
    const QDate day(2014, 12, 8);
    for (const Case& c : locales) {
        LocaleGuard g(QLocale(c.language, c.territory));
        EXPECT_EQ(formatDate(day), QString::fromLatin1(c.written)) << c.written;
        EXPECT_EQ(readDate(formatDate(day)), day) << c.written;
        EXPECT_EQ(readDate(u"2014-12-08"), day) << c.written; // ISO in every locale
        EXPECT_EQ(readDate(u"8.12.2014"), day) << c.written;  // dotted: day first everywhere
    }
    const std::optional<QDate> none;
    const int century = (QDate::currentDate().year() + 20) / 100 * 100;
    struct Read {
        QLocale::Language language;
        const char16_t* text;
        std::optional<QDate> expected;
    };
    const Read reads[] = {
        {QLocale::Russian, u"01.02.2014", QDate(2014, 2, 1)},
        {QLocale::Russian, u"1.2.2014", QDate(2014, 2, 1)},
        {QLocale::Russian, u"01.02.14", QDate(century + 14, 2, 1)},
        {QLocale::Russian, u"  01.02.2014 ", QDate(2014, 2, 1)},
        {QLocale::Russian, u"01.02.99", QDate(century - 1, 2, 1)},
        {QLocale::Russian, u"01.02.0014", none},
        {QLocale::Russian, u"31.02.2014", none},
        {QLocale::Russian, u"01.02", none},
        {QLocale::Russian, u"01.02.2014.5", none},
        {QLocale::Russian, u"01.02-2014", none},
        {QLocale::Russian, u"1 февраля 2014", none},
        {QLocale::Russian, u"001.02.2014", none},
        {QLocale::Russian, u"", none},
        {QLocale::English, u"2/1/2014", QDate(2014, 2, 1)},
        {QLocale::English, u"2/1/14", QDate(century + 14, 2, 1)},
        {QLocale::English, u"13/1/2014", none},
        {QLocale::German, u"1.2.14", QDate(century + 14, 2, 1)},
    };
    for (const Read& r : reads) {
        LocaleGuard g(QLocale(r.language, r.language == QLocale::English ? QLocale::UnitedStates
                                                                         : QLocale::AnyTerritory));
        EXPECT_EQ(readDate(QStringView(r.text)), r.expected) << QString::fromUtf16(r.text).toStdString();
    }
}

// Every locale Qt knows: the date written is read back as the same day — native digits, blanks inside, marks
// of writing direction and literal text after the year («г.») included — with four-digit years, and with
// blanks around it. Russian files keep their form to the byte.
TEST(RegionalDates, EveryLocaleReadsBackWhatItWrites) {
    const QDate days[] = {QDate(2014, 12, 8), QDate(1999, 1, 31), QDate(2026, 2, 1)};
    const QList<QLocale> all =
        QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    ASSERT_GT(all.size(), 300);
    QStringList unread;
    for (const QLocale& l : all) {
        LocaleGuard g(l);
        for (const QDate& day : days) {
            const QString written = formatDate(day);
            // The grids show a date as the field's text and take the same text back.
            QVariant typed;
            const bool taken =
                db::parseValue(db::FieldType::Date, db::formatValue(db::FieldType::Date, day), typed) &&
                typed.toDate() == day;
            if (readDate(written) != day || readDate(u' ' + written + u' ') != day || !taken)
                unread << l.name() + QStringLiteral(": ") + written;
        }
    }
    EXPECT_TRUE(unread.isEmpty()) << unread.size()
                                  << " unread, first: " << unread.mid(0, 20).join(u'|').toStdString();
    struct Named {
        const char* locale;
        const char* written; // 8 December 2014
    };
    const Named named[] = {{"ru_RU", "08.12.2014"},    {"sk_SK", "8. 12. 2014"},  {"hu_HU", "2014. 12. 08."},
                           {"bg_BG", "8.12.2014 г."},  {"ko_KR", "2014. 12. 8."}, {"sr_RS", "8.12.2014."},
                           {"hr_HR", "08. 12. 2014."}, {"sl_SI", "8. 12. 2014"}};
    for (const Named& n : named) {
        LocaleGuard g{QLocale(QString::fromLatin1(n.locale))};
        EXPECT_EQ(formatDate(QDate(2014, 12, 8)), QString::fromUtf8(n.written)) << n.locale;
        EXPECT_EQ(readDate(QString::fromUtf8(n.written)), QDate(2014, 12, 8)) << n.locale;
    }
    LocaleGuard arabic{QLocale(QStringLiteral("ar_SA"))};
    EXPECT_NE(formatDate(QDate(2014, 12, 8)).at(0).unicode(), u'0'); // native digits are written
    EXPECT_EQ(readDate(formatDate(QDate(2014, 12, 8))), QDate(2014, 12, 8));
    // Letters that are not the locale's literal text are no date.
    LocaleGuard russian{QLocale(QLocale::Russian, QLocale::Russia)};
    EXPECT_EQ(readDate(u"8.12.2014 г."), std::nullopt);
    EXPECT_EQ(readDate(u"x08.12.2014"), std::nullopt);
}

// A cell a spreadsheet would run as a formula goes out behind an apostrophe; numbers and other text as they
// are.
TEST(CsvSafeText, FormulaStartsGetAnApostrophe) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"=HYPERLINK(\"http://e.vil\")", "'=HYPERLINK(\"http://e.vil\")"},
        {"+7 999", "'+7 999"},
        {"-x", "'-x"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tcmd", "'\tcmd"},
        {"\rcmd", "'\rcmd"},
        {"-5", "-5"},
        {"-12,50", "-12,50"},
        {"-1.5", "-1.5"},
        {"Проект = 1", "Проект = 1"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(csvSafeText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.in;
}

// Random text from digits of several scripts, separators, marks and letters: the date reader ends on every
// input, and what it accepts is a real day of a four-digit year.
TEST(RegionalDates, RandomTextNeverGivesABadDay) {
    const std::u16string pool = u"0123456789٠١٢٣٤٥٦٧٨٩۰۱۲.-/ \t\u200fг年aZ,:";
    std::mt19937 rng(31);
    for (const char* name : {"ru_RU", "bg_BG", "ar_SA", "ko_KR", "en_US"}) {
        LocaleGuard g{QLocale(QString::fromLatin1(name))};
        for (int round = 0; round < 3000; ++round) {
            QString text;
            for (int i = int(rng() % 24); i > 0; --i)
                text += QChar(pool[rng() % pool.size()]);
            if (rng() % 4 == 0) text += QChar(char16_t(0xD800 + rng() % 0x800)); // a lone surrogate
            const std::optional<QDate> d = readDate(text);
            if (d) {
                ASSERT_TRUE(d->isValid()) << text.toStdString();
                ASSERT_GE(d->year(), 1000) << text.toStdString();
            }
        }
    }
}

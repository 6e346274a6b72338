#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "web/page_fetcher.h"
#include "web/url_forms.h"

using namespace zentaro::web;

namespace {

// The element scan exactly as its steps are written: search W from its start each time, remove the two
// characters after "<" of the element found.
QStringList referenceExtract(const QString& text, ElementKind kind) {
    const QString open =
        kind == ElementKind::Anchor ? QStringLiteral("<a ") : QStringLiteral("<h3 class=\"result__title\">");
    const QString close = kind == ElementKind::Anchor ? QStringLiteral("/a>") : QStringLiteral("</h3>");
    const int tail = kind == ElementKind::Anchor ? 4 : 5;
    QString w = text;
    QStringList out;
    while (true) {
        const qsizetype p = w.indexOf(open); // 0-based
        if (p < 0) break;
        const qsizetype last = w.size() - tail; // 1-based last position
        qsizetype found = -1;
        for (qsizetype j = p + 1; j <= last; ++j) { // 1-based positions from p
            if (QStringView(w).mid(j - 1).startsWith(close)) {
                found = j - 1;
                break;
            }
        }
        if (found < 0) break;
        const QString element = w.mid(p, found + close.size() - p);
        w.remove(p + 1, 2);
        out << element;
    }
    return out;
}

} // namespace

TEST(PrepareURL, RemovesSchemeWwwAndOneTrailingSlash) {
    EXPECT_EQ(PrepareURL("HTTP://WWW.Site.Example/"), QStringLiteral("site.example"));
    EXPECT_EQ(PrepareURL("https://www.site.example/page/"), QStringLiteral("site.example/page"));
    EXPECT_EQ(PrepareURL("www.site.example"), QStringLiteral("www.site.example"));
    EXPECT_EQ(PrepareURL("http://"), QString());
    EXPECT_EQ(PrepareURL("http://www.site.example"), QStringLiteral("site.example"));
    EXPECT_EQ(PrepareURL("https://site.example/a/"), QStringLiteral("site.example/a"));
    EXPECT_EQ(PrepareURL("site.example//"), QStringLiteral("site.example/"));
    // The first 11 characters go, wherever the prefix stands: "xyz http://" is exactly 11 here.
    EXPECT_EQ(PrepareURL("xyz http://www.site.example"), QStringLiteral("www.site.example"));
    EXPECT_EQ(PrepareURL("ab http://www.site.example"), QStringLiteral("ww.site.example"));
    EXPECT_EQ(PrepareURL(QString()), QString());
}

TEST(ExtractDomain, CutsAtPathQueryFragmentOrBlankAndKeepsThePort) {
    EXPECT_EQ(ExtractDomain("HTTP://WWW.SITE.EXAMPLE/page?x=1"), QStringLiteral("site.example"));
    EXPECT_EQ(ExtractDomain("site.example?x"), QStringLiteral("site.example"));
    EXPECT_EQ(ExtractDomain("http://site.example:8080/a"), QStringLiteral("site.example:8080"));
    EXPECT_EQ(ExtractDomain("site.example#top"), QStringLiteral("site.example"));
    EXPECT_EQ(ExtractDomain(QString()), QString());
}

TEST(ExtractElements, AnchorExamples) {
    EXPECT_EQ(ExtractElements("<p><a href=1>x</a> <a href=2>y</a></p>", ElementKind::Anchor),
              (QStringList{"<a href=1>x</a>", "<a href=2>y</a>"}));
    EXPECT_EQ(ExtractElements("<a href=1>x</a>zz", ElementKind::Anchor), QStringList{"<a href=1>x</a>"});
    EXPECT_TRUE(ExtractElements("<a href=1>x</a>z", ElementKind::Anchor).isEmpty());
    EXPECT_TRUE(ExtractElements("<a href=1>x</a>", ElementKind::Anchor).isEmpty());
    EXPECT_EQ(ExtractElements("<a href=1>x</a><a href=2>y</a>", ElementKind::Anchor),
              QStringList{"<a href=1>x</a>"});
    EXPECT_EQ(ExtractElements("<p><a href=1>x<a href=2>y</a></p>", ElementKind::Anchor),
              (QStringList{"<a href=1>x<a href=2>y</a>", "<a href=2>y</a>"}));
    EXPECT_TRUE(ExtractElements(QString(), ElementKind::Anchor).isEmpty());
}

TEST(ExtractElements, ResultTitles) {
    const QString page =
        QStringLiteral("<h3 class=\"result__title\">Один</h3>x<h3 class=\"result__title\">Два</h3>!");
    EXPECT_EQ(ExtractElements(page, ElementKind::ResultTitle),
              (QStringList{"<h3 class=\"result__title\">Один</h3>", "<h3 class=\"result__title\">Два</h3>"}));
}

TEST(ExtractElements, LinearScanGivesExactlyTheWrittenStepsOnGeneratedPages) {
    // Pieces that make nested, unclosed, adjacent and self-renewing markers ("<a a ") and markers at the end.
    const QStringList anchorPieces = {"<a ", "a ", "/a>", "<a href=x>", "</a>", "t",  " ",
                                      "<",   "a",  "/",   ">",          "<p>",  "zz", "<a a "};
    const QStringList titlePieces = {
        "<h3 class=\"result__title\">", "</h3>", "<h3 ", "h3", "x", "<", "/h3>", " ",
        "class=\"result__title\">"};
    std::mt19937 rng(12345);
    for (int round = 0; round < 4000; ++round) {
        const bool anchor = round % 4 != 3;
        const QStringList& pieces = anchor ? anchorPieces : titlePieces;
        QString text;
        const int n = int(rng() % 24);
        for (int i = 0; i < n; ++i)
            text += pieces[int(rng() % unsigned(pieces.size()))];
        const ElementKind kind = anchor ? ElementKind::Anchor : ElementKind::ResultTitle;
        ASSERT_EQ(ExtractElements(text, kind), referenceExtract(text, kind)) << text.toStdString();
    }
}

TEST(HTTPEncode, EncodesWindows1251Bytes) {
    EXPECT_EQ(HTTPEncode(toAnsi(QStringLiteral("a b/ё"))), QByteArray("a+b%2F%B8"));
    EXPECT_EQ(HTTPEncode("!$'()*-.@_AZaz09"), QByteArray("!$'()*-.@_AZaz09"));
    EXPECT_EQ(HTTPEncode(toAnsi(QStringLiteral("Привет"))), QByteArray("%CF%F0%E8%E2%E5%F2"));
    EXPECT_EQ(HTTPEncode("a&b=c%"), QByteArray("a%26b%3Dc%25"));
    EXPECT_EQ(toAnsi(QStringLiteral("x€y中z")), QByteArray("x\x88y?z", 5));
    EXPECT_EQ(HTTPEncode(QByteArray()), QByteArray());
}

TEST(Decoding, CyrillicCodePagesComeOutAsTheRightLetters) {
    QString out;
    ASSERT_TRUE(decodeCharset(QByteArray("\xcf\xf0\xe8\xe2\xe5\xf2"), "windows-1251", out));
    EXPECT_EQ(out, QStringLiteral("Привет"));
    ASSERT_TRUE(decodeCharset(QByteArray("\xf0\xd2\xc9\xd7\xc5\xd4"), "koi8-r", out));
    EXPECT_EQ(out, QStringLiteral("Привет"));
    EXPECT_FALSE(decodeCharset("x", "no-such-charset", out));
}

TEST(Decoding, EveryCharacterSetMakesProgressOnShortRandomBodies) {
    // A body whose bad byte falls where the output buffer is full used to loop for ever.
    QString out;
    EXPECT_TRUE(decodeCharset(QByteArray("\x82\x82\x82\x82"
                                         "aaaa\xa0",
                                         9),
                              "TSCII", out));
    std::mt19937 rng(99);
    const QList<QByteArray> sets = {"TSCII",    "CP1251", "KOI8-R",      "UTF-16",     "UTF-16LE",
                                    "UCS-4",    "UTF-7",  "ISO-2022-JP", "EUC-JP",     "SHIFT_JIS",
                                    "GB18030",  "BIG5",   "CP1255",      "ISO-8859-5", "CP866",
                                    "UTF-32BE", "HZ",     "ARMSCII-8",   "VISCII",     "TCVN"};
    for (int round = 0; round < 2000; ++round) {
        QByteArray body(int(rng() % 24), '\0');
        for (char& c : body)
            c = char(rng() & 0xff);
        const QByteArray& set = sets[int(rng() % unsigned(sets.size()))];
        decodeCharset(body, set, out);
        EXPECT_LE(out.size(), body.size() * 4 + 16);
        decodeReply(body, "text/html; charset=" + set);
        decodeReply("<meta charset=" + set + ">" + body, "text/html");
    }
}

#include <random>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "db/database.h"
#include "db/evidence.h"
#include "db/sqlite_util.h"
#include "support/records.h"
#include "support/temp_folder.h"
#include "reports/claim.h"

using namespace zentaro;
using namespace zentaro::db;

namespace {

LinkSeen seen(const QString& needle, const QString& text, const QStringList& rel = {},
              const QString& href = QStringLiteral("https://mine.example/")) {
    LinkSeen l;
    l.needle = needle;
    l.found = true;
    l.text = text;
    l.rel = rel;
    l.href = href;
    l.tag = QStringLiteral("<a href=\"%1\">").arg(href);
    return l;
}

Evidence page(std::vector<LinkSeen> links,
              const QString& finalUrl = QStringLiteral("https://trust.example/p"), bool noindex = false) {
    Evidence e;
    e.requested = QStringLiteral("https://trust.example/p");
    e.finalUrl = finalUrl;
    e.status = 200;
    e.noindex = noindex;
    e.links = std::move(links);
    return e;
}

} // namespace

// Each pair of checks and the event the second writes against the last find.
TEST(Evidence, ChangesAgainstTheLastFindAreNamedInTheUsersWords) {
    const QString n = QStringLiteral("mine.example");
    LinkSeen missingInComment;
    missingInComment.needle = n;
    missingInComment.inComment = true;
    struct Row {
        const char* name;
        Evidence now;
        QString agreed;
        QStringList events;
    } rows[] = {
        {"unchanged", page({seen(n, "купить окна")}), "", {}},
        {"text", page({seen(n, "окна")}), "", {"текст ссылки изменён: «купить окна» → «окна»"}},
        {"nofollow", page({seen(n, "купить окна", {"nofollow"})}), "", {"ссылка стала nofollow"}},
        {"sponsored counts as nofollow",
         page({seen(n, "купить окна", {"sponsored", "noopener"})}),
         "",
         {"ссылка стала nofollow"}},
        {"redirected",
         page({seen(n, "купить окна")}, "https://other.example/"),
         "",
         {"страница перенаправляет на https://other.example/"}},
        {"trailing slash is the same address",
         page({seen(n, "купить окна")}, "https://trust.example/p/"),
         "",
         {}},
        {"noindex",
         page({seen(n, "купить окна")}, "https://trust.example/p", true),
         "",
         {"страница закрыта от индексации"}},
        {"moved into a comment", page({missingInComment}), "", {"ссылка спрятана в комментарий"}},
        {"address form",
         page({seen(n, "купить окна", {}, "http://mine.example/")}),
         "",
         {"адрес ссылки изменён: https://mine.example/ → http://mine.example/"}},
        {"agreed text already differed at the last find",
         page({seen(n, "купить окна")}),
         "пластиковые окна",
         {}},
        {"agreed text differs now",
         page({seen(n, "окна")}),
         "купить окна",
         {"текст ссылки изменён: «купить окна» → «окна»", "текст ссылки не тот, что указан"}},
        {"agreed text matches ignoring case and blanks",
         page({seen(n, "Купить  окна")}),
         "купить окна",
         {"текст ссылки изменён: «купить окна» → «Купить окна»"}},
    };
    const Evidence before = page({seen(n, "купить окна")});
    for (const Row& r : rows)
        EXPECT_EQ(changeEvents(before, r.now, r.agreed), r.events) << r.name;
    // Without an earlier find only the agreed text is compared.
    EXPECT_EQ(changeEvents(Evidence{}, page({seen(n, "окна")}), "купить окна"),
              QStringList{"текст ссылки не тот, что указан"});
}

TEST(Evidence, StaysWithinItsBoundAndReadsBackDamagedRowsAsNothing) {
    Evidence e = page({seen("mine.example", QString(2000, QChar(u'ж')))});
    e.links.front().tag = QString(5000, QLatin1Char('t'));
    for (int i = 0; i < 30; ++i)
        e.hops.push_back({301, QStringLiteral("https://hop.example/") + QString(900, 'x')});
    for (int i = 0; i < 40; ++i)
        e.links.push_back(seen(QStringLiteral("n%1.example").arg(i), "t"));
    const QByteArray data = encodeEvidence(e);
    EXPECT_LE(data.size(), 2048);
    const std::optional<Evidence> back = decodeEvidence(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->requested, e.requested);
    ASSERT_FALSE(back->links.empty());
    EXPECT_EQ(back->links.front().needle, "mine.example");

    const Evidence small = page({seen("mine.example", "купить окна", {"nofollow", "ugc"})});
    const std::optional<Evidence> same = decodeEvidence(encodeEvidence(small));
    ASSERT_TRUE(same);
    EXPECT_TRUE(changeEvents(small, *same).isEmpty());
    EXPECT_EQ(same->links.front().rel, (QStringList{"nofollow", "ugc"}));

    // A bounded fuzz: cut, flipped and random rows never crash and never read as evidence of another shape.
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        QByteArray d = encodeEvidence(small);
        d.truncate(int(rng() % (d.size() + 1)));
        if (!d.isEmpty() && i % 2) d[int(rng() % d.size())] = char(rng());
        (void)decodeEvidence(d);
    }
    EXPECT_FALSE(decodeEvidence("[1,2]"));
    EXPECT_FALSE(decodeEvidence("{\"u\":1}"));
}

// The stored bytes are the ones QJsonDocument writes for the same evidence (rows written by earlier versions
// compare equal, so an unchanged page adds no row after an upgrade), and every text reads back as written.
TEST(Evidence, EncodingIsQtsCompactJsonAndReadsBack) {
    auto viaQt = [](const Evidence& e) {
        QJsonObject o{{"u", e.requested}, {"f", e.finalUrl}, {"s", e.status}, {"src", int(e.charsetSource)}};
        if (!e.charset.isEmpty()) o["cs"] = e.charset;
        if (!e.contentType.isEmpty()) o["ct"] = e.contentType;
        if (!e.robotsHeader.isEmpty()) o["xr"] = e.robotsHeader;
        if (!e.robotsMeta.isEmpty()) o["rm"] = e.robotsMeta;
        if (e.noindex) o["ni"] = true;
        if (e.size >= 0) o["z"] = double(e.size);
        if (!e.sha256.isEmpty()) o["sha"] = QString::fromLatin1(e.sha256);
        QJsonArray hops, links;
        for (const RedirectHop& h : e.hops)
            hops.append(QJsonArray{h.status, h.target});
        if (!hops.isEmpty()) o["h"] = hops;
        for (const LinkSeen& l : e.links) {
            QJsonObject j{{"a", l.needle}, {"ok", l.found}};
            if (!l.tag.isEmpty()) j["t"] = l.tag;
            if (!l.href.isEmpty()) j["r"] = l.href;
            if (!l.rel.isEmpty()) j["rel"] = QJsonArray::fromStringList(l.rel);
            if (!l.text.isEmpty()) j["x"] = l.text;
            if (!l.nearest.isEmpty()) j["n"] = l.nearest;
            if (l.inComment) j["c"] = true;
            links.append(j);
        }
        o["l"] = links;
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    const QString texts[] = {QStringLiteral("купить \"окна\" \\ дёшево"),
                             QStringLiteral("tab\tline\nfeed\r\b\f") + QChar(1) + QChar(0x1f) + QChar(0x7f),
                             QStringLiteral("emoji 😀 and U+2028 \u2028, </script>"), QString()};
    for (const QString& t : texts) {
        Evidence e = page({seen("mine.example", t, {"nofollow", t}), seen("two.example", "x")});
        e.links.back().found = false;
        e.links.back().nearest = t;
        e.links.back().inComment = true;
        e.charset = QStringLiteral("windows-1251");
        e.contentType = QStringLiteral("text/html; charset=") + t;
        e.robotsHeader = t;
        e.robotsMeta = QStringLiteral("noindex");
        e.noindex = true;
        e.size = 1048576;
        e.sha256 = QByteArray(64, 'a');
        e.hops = {{301, QStringLiteral("https://trust.example/") + t},
                  {302, QStringLiteral("https://x.example/")}};
        const QByteArray data = encodeEvidence(e);
        EXPECT_EQ(data, viaQt(e)) << qPrintable(t);
        const std::optional<Evidence> back = decodeEvidence(data);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->links.front().text, t);
        EXPECT_EQ(back->robotsHeader, t);
        EXPECT_EQ(back->hops.front().target, e.hops.front().target);
        EXPECT_EQ(back->size, e.size);
        EXPECT_TRUE(changeEvents(e, *back).isEmpty());
    }
    // A cut that leaves half of a surrogate pair is written as Qt wrote it, and reads.
    const Evidence cut = page({seen("mine.example", QString(511, QLatin1Char('a')) + QStringLiteral("😀"))});
    Evidence cutByQt = cut;
    cutByQt.links.front().text.truncate(512);
    EXPECT_EQ(encodeEvidence(cut), viaQt(cutByQt));
    EXPECT_TRUE(decodeEvidence(encodeEvidence(cut)));
}

// The history's stored time is what QDateTime writes and reads back, for local times and others.
TEST(Evidence, StoredTimesAreQtsIsoTextAndReadBack) {
    const QDate day(2026, 6, 15);
    for (const QDateTime& at :
         {QDateTime(day, QTime(0, 0)), QDateTime(day, QTime(2, 30, 5, 7)),
          QDateTime(day, QTime(23, 59, 59, 999)), QDateTime(QDate(1, 1, 1), QTime(12, 0)),
          QDateTime(day, QTime(10, 0), Qt::UTC), QDateTime(day, QTime(10, 0), Qt::OffsetFromUTC, 3 * 3600),
          QDateTime::currentDateTime()}) {
        EXPECT_EQ(sql::timeText(at), at.toString(Qt::ISODateWithMs)) << qPrintable(at.toString());
        EXPECT_EQ(QDateTime::fromString(sql::timeText(at), Qt::ISODateWithMs), at)
            << qPrintable(at.toString());
    }
}

TEST(Evidence, SnapshotsArePackedWithinTheirCapAndDamageReadsAsNothing) {
    const QString text = QStringLiteral("<p>Привет</p>") + QString(1000, QChar(u'ё'));
    EXPECT_EQ(unpackSnapshot(packSnapshot(text)), text);
    // Incompressible text is cut until it fits.
    std::mt19937 rng(3);
    QString noise;
    for (int i = 0; i < 600000; ++i)
        noise += QChar(char16_t(0x400 + rng() % 0x100));
    const QByteArray big = packSnapshot(noise);
    EXPECT_LE(big.size(), kMaxSnapshot);
    const std::optional<QString> back = unpackSnapshot(big);
    ASSERT_TRUE(back);
    EXPECT_TRUE(noise.startsWith(*back));
    // Snapshots packed with zlib by earlier versions still read.
    const QByteArray zlibPacked = "ZS1" + qCompress(text.toUtf8(), 9);
    EXPECT_EQ(unpackSnapshot(zlibPacked), text);
    // A size header that claims a terabyte is refused before anything is allocated, in either form.
    QByteArray zlibLying = zlibPacked;
    zlibLying[3] = char(0x7f);
    const QByteArray zstdLying =
        QByteArray("ZS2\x28\xb5\x2f\xfd\xe0", 9) + QByteArray("\0\0\0\0\0\x01\0\0", 8);
    for (const QByteArray& bad :
         {zlibLying, zstdLying, QByteArray("garbage"), QByteArray("ZS2"), QByteArray()})
        EXPECT_FALSE(unpackSnapshot(bad)) << bad.toHex().constData();
    // A bounded fuzz: cut and flipped snapshots of both forms never crash.
    for (int i = 0; i < 400; ++i) {
        QByteArray d = i % 2 ? packSnapshot(text) : zlibPacked;
        d.truncate(int(rng() % (d.size() + 1)));
        if (d.size() > 3 && i % 3) d[3 + int(rng() % (d.size() - 3))] = char(rng());
        (void)unpackSnapshot(d);
    }

    const QString inert =
        inertPage(QStringLiteral("<a href=x onclick=\"steal()\">a</a><SCRIPT>alert(1)</script>"
                                 "<iframe src=y></iframe><a href=\"javascript:go()\">b</a>"));
    EXPECT_FALSE(inert.contains("alert"));
    EXPECT_FALSE(inert.contains("steal"));
    EXPECT_FALSE(inert.contains("iframe"));
    EXPECT_FALSE(inert.contains("javascript:"));
    EXPECT_TRUE(inert.contains("script-src 'none'"));
}

// The history file keeps evidence beside the outcomes: unchanged rows are not written again, deletions and
// imports take evidence along, and the claim reads it back without any account data.
class EvidenceHistory : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(test::openHistoryOnly(db, dir.path())); }
    int rows(const char* table) {
        sql::StmtPtr s =
            sql::prepare(db.store.connection(), QStringLiteral("SELECT count(*) FROM checks.%1").arg(table));
        return s && sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : -1;
    }
    void keep(int id, const QDateTime& at, const Evidence& e, bool found, const QStringList& events = {}) {
        db.checks.recordEvidence(CheckSubject::LinkPage, id, at, found, e, events);
        db.store.flush();
    }
    test::TempFolder dir;
    Database db;
};

TEST_F(EvidenceHistory, KeepsChangesOnlyAndForgetsWithTheOutcomes) {
    const QDateTime t0 = QDateTime(QDate(2026, 12, 1), QTime(10, 0));
    const Evidence found = page({seen("mine.example", "купить окна")});
    keep(1, t0, found, true);
    keep(1, t0.addDays(1), found, true); // nothing changed: no new row
    EXPECT_EQ(rows("evidence"), 1);
    Evidence missing = page({});
    missing.links.push_back(LinkSeen{"mine.example", false, {}, {}, {}, {}, "mine.example/other", false});
    keep(1, t0.addDays(2), missing, false, {"ссылка пропала"});
    keep(2, t0, found, true);
    EXPECT_EQ(rows("evidence"), 3);
    const auto last = db.checks.evidence().lastFound(db.checks.connection(), 0, 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->at, t0);
    db.checks.keepSnapshot(CheckSubject::LinkPage, 1, t0, true, "<p>было</p>", {});
    db.checks.keepSnapshot(CheckSubject::LinkPage, 1, t0.addDays(2), false, "<p>стало</p>", {});
    db.store.flush();
    EXPECT_EQ(db.checks.evidence().snapshot(db.checks.connection(), 0, 1, true)->pageText, "<p>было</p>");
    EXPECT_EQ(db.checks.evidence().snapshot(db.checks.connection(), 0, 1, false)->pageText, "<p>стало</p>");

    db.checks.forget(CheckSubject::LinkPage, 1);
    db.store.flush();
    EXPECT_EQ(rows("evidence"), 1);
    EXPECT_EQ(rows("snapshots"), 0);
    EXPECT_EQ(rows("events"), 0);
    db.checks.forgetAll();
    db.store.flush();
    EXPECT_EQ(rows("evidence"), 0);
    // Past the budget the oldest kept pages go first.
    std::mt19937 rng(11);
    auto noise = [&] {
        QString t;
        for (int i = 0; i < 40000; ++i)
            t += QChar(char16_t(0x400 + rng() % 0x100));
        return t;
    };
    db.checks.setSnapshotBudget(150 * 1024);
    for (int id = 10; id < 14; ++id) {
        db.checks.keepSnapshot(CheckSubject::LinkPage, id, t0.addDays(id), true, noise(), {});
        db.store.flush();
    }
    const auto kept = [&](int id) {
        return db.checks.evidence().snapshot(db.checks.connection(), 0, id, true).has_value();
    };
    EXPECT_FALSE(kept(10));
    EXPECT_TRUE(kept(13));
}

TEST_F(EvidenceHistory, TheClaimNamesWhatWasAgreedSeenAndChangedButNeverThePassword) {
    test::addRecord(db.tbSite, {{"ID", 5}, {"Site", "trust.example"}});
    test::addRecord(db.tbAccount, {{"ID", 9}, {"User", "seller-login"}, {"Password", "s3cret-pass"}});
    test::addRecord(db.tbLink, {{"ID", 1},
                                {"SiteID", 5},
                                {"AccountID", 9},
                                {"PageURL", "https://trust.example/p"},
                                {"PublicDate", QDate(2026, 11, 2)},
                                {"Price", 1500.5}});
    test::addRecord(db.tbAncor,
                    {{"ID", 1}, {"LinkID", 1}, {"Ancor", "купить окна"}, {"URL", "mine.example"}});
    const QDateTime t0 = QDateTime(QDate(2026, 12, 1), QTime(10, 0));
    keep(1, t0, page({seen("mine.example", "купить окна")}), true);
    Evidence gone = page({});
    gone.links.push_back(LinkSeen{"mine.example", false, {}, {}, {}, {}, {}, true});
    keep(1, t0.addDays(3), gone, false, {"ссылка спрятана в комментарий"});
    keep(1, t0.addDays(4), page({}, "https://trust.example/new"), false);

    const reports::ClaimLink c = reports::claimLinkAt(db, db.tbLink.findRow("ID", 1));
    ASSERT_TRUE(c.lastFound && c.firstMissing);
    EXPECT_EQ(c.firstMissing->at, t0.addDays(3)); // the first miss, not the newest
    const QString text = reports::claimText({c, c}, QDate(2026, 12, 10));
    for (const char* part :
         {"trust.example", "https://trust.example/p", "02.11.2026", "1500,50", "купить окна",
          "01.12.2026 10:00", "04.12.2026 10:00", "ссылка спрятана в комментарий"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
    EXPECT_EQ(text.count(QStringLiteral("Претензия: ")), 2);
    const QString html = reports::claimHtml({c, c}, QDate(2026, 12, 10));
    EXPECT_EQ(html.count(QStringLiteral("page-break-before")), 1);
    for (const QString& doc : {text, html}) {
        EXPECT_FALSE(doc.contains("s3cret-pass"));
        EXPECT_FALSE(doc.contains("seller-login"));
    }
}

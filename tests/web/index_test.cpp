#include <gtest/gtest.h>

#include <QDate>
#include <QTemporaryDir>

#include "db/database.h"
#include "db/record_rules.h"
#include "support/http_server.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "web/captcha.h"
#include "web/index_check.h"
#include "web/page_fetcher.h"

using namespace zentaro;
using test::HttpServer;

namespace {

const QByteArray kCaptchaPage = "<img src=\"/captcha/next.gif\">";
const QByteArray kNothing = "По вашему запросу ничего не нашлось";

class IndexChecks : public ::testing::Test {
protected:
    void SetUp() override {
        fetcher.readTimeoutMs = 2000;
        fetcher.hosts.yandexSearch = yandex.host();
        fetcher.hosts.yandexCaptcha = yandex.host();
        fetcher.hosts.googleSearch = google.host();
        fetcher.hosts.mailSearch = mail.host();
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        test::addRecord(db.tbProject, {{"Name", "П"}});
        test::addRecord(db.tbLink, {{"PageURL", QStringLiteral("HTTP://www.Site.Example/a/")}});
        google.on("/search", test::htmlPage("обычная выдача"));
        mail.on(
            "/search",
            test::htmlPage("<h3 class=\"result__title\"><a href=https://site.example/a/b>x</a></h3> end"));
    }
    QStringList flags() {
        return {db.tbLink.asString("PageIndexY"), db.tbLink.asString("PageIndexG"),
                db.tbLink.asString("PageIndexM")};
    }
    // A Yandex search that asks for a captcha once, then answers.
    void captchaOnce(const QByteArray& captchaPage) {
        yandex.on("/yandsearch", [this, captchaPage](const HttpServer::Request& r) {
            if (r.target == "/yandsearch?text=123") return test::htmlPage(captchaPage);
            return test::htmlPage(++asked == 1 ? kCaptchaPage : kNothing);
        });
        HttpServer::Reply gif;
        gif.headers = {test::contentType("image/gif")};
        gif.body = "GIF89a-image";
        yandex.on("/image", gif);
        yandex.on("/checkcaptcha", test::htmlPage("ok"));
    }

    HttpServer yandex, google, mail;
    web::PageFetcher fetcher;
    db::Database db;
    test::ScriptedUi ui;
    db::RecordRules rules{db, ui};
    QTemporaryDir dir;
    web::IndexContext c{fetcher, ui, dir.path() + QStringLiteral("/yandex.gif"), {}};
    int asked = 0;
};

} // namespace

TEST_F(IndexChecks, ThreeEnginesAreAskedAndTheirFlagsDateAndMessageStored) {
    yandex.on("/yandsearch", test::htmlPage(kNothing));
    web::sbPageCheckIndexClick(db, c);
    EXPECT_EQ(flags(), (QStringList{"0", "1", "1"}));
    EXPECT_EQ(db.tbLink.asDate("UpdateIndexDate"), QDate::currentDate());
    EXPECT_EQ(ui.texts(), QStringList{"Yandex: не в индексе\r\nGoogle: в индексе\r\nGo@Mail: в индексе\r\n"});
    EXPECT_EQ(yandex.targets(), QByteArrayList{"/yandsearch?text=url:(www.site.example%2Fa%2F)"});
    EXPECT_EQ(google.targets(), QByteArrayList{"/search?hl=ru&gl=RU&q=info:www.site.example/a/"});
    EXPECT_EQ(mail.targets(), QByteArrayList{"/search?q=http://www.site.example/a/"});
    EXPECT_FALSE(fetcher.GlobalStop);
}

TEST_F(IndexChecks, CaptchaAndErrorsEmptyTheFlagsAndSetTheStopFlag) {
    yandex.on("/yandsearch", test::htmlPage("результаты"));
    google.on("/search", test::htmlPage("Чтобы продолжить, введите указанные ниже символы:<br><br>"));
    mail.on("/search", test::htmlPage("нет заголовков"));
    db.tbLink.setValue("PageIndexM", QStringLiteral("1"));
    db.tbLink.post();
    web::sbPageCheckIndexClick(db, c);
    EXPECT_EQ(flags(), (QStringList{"1", "", ""}));
    EXPECT_EQ(ui.texts().last(),
              QStringLiteral("Yandex: в индексе\r\nGoogle: каптча\r\nGo@Mail: ошибка\r\n"));
    EXPECT_TRUE(fetcher.GlobalStop);
}

// No engine answered: nothing was checked, so the page keeps its flags and its date.
TEST_F(IndexChecks, NoNetworkGivesThreeErrorsAndKeepsFlagsAndDateEmptyAddressNothing) {
    fetcher.hosts.yandexSearch = fetcher.hosts.googleSearch = fetcher.hosts.mailSearch =
        QStringLiteral("127.0.0.1:1");
    db.tbLink.setValue("PageIndexY", QStringLiteral("1"));
    db.tbLink.setValue("PageIndexM", QStringLiteral("0"));
    db.tbLink.setValue("UpdateIndexDate", QDate(2026, 1, 2));
    db.tbLink.post();
    web::CheckPageIndex(db, c, db.tbLink.asString("PageURL"), true);
    EXPECT_EQ(flags(), (QStringList{"1", "", "0"}));
    EXPECT_EQ(db.tbLink.asDate("UpdateIndexDate"), QDate(2026, 1, 2));
    EXPECT_EQ(ui.texts().last(), QStringLiteral("Yandex: ошибка\r\nGoogle: ошибка\r\nGo@Mail: ошибка\r\n"));
    ui.clear();
    db.tbLink.setValue("PageURL", QVariant());
    db.tbLink.setValue("UpdateIndexDate", QVariant());
    db.tbLink.post();
    web::sbPageCheckIndexClick(db, c);
    EXPECT_TRUE(ui.shown().empty());
    EXPECT_TRUE(db.tbLink.isNull("UpdateIndexDate"));
}

TEST_F(IndexChecks, ACaptchaIsShownAnsweredAndTheQueryAskedAgain) {
    captchaOnce(
        "<input type=\"hidden\" name=\"key\" value=\"12ab_cd\"><input type=\"hidden\" name=\"retpath\" "
        "value=\"http://y.ru/x?a=1&amp;b\">");
    ui.answerCaptcha(QStringLiteral("ab д"));
    EXPECT_EQ(web::IndexYandex(c, "site.example"), web::kNotIndexed);
    ASSERT_EQ(ui.captchaImages.size(), 1u);
    EXPECT_EQ(ui.captchaImages[0], QByteArray("GIF89a-image"));
    EXPECT_EQ(test::TempFolder::read(c.captchaImage), QByteArray("GIF89a-image")); // left in place
    EXPECT_EQ(
        yandex.targets(),
        (QByteArrayList{"/yandsearch?text=url:(site.example)", "/yandsearch?text=123", "/image?key=12ab",
                        "/checkcaptcha?key=12ab_cd&retpath=http://y.ru/x?a=1&amp;b&rep=ab+%E4",
                        "/yandsearch?text=url:(site.example)"}));
}

TEST_F(IndexChecks, CancellingTheCaptchaGivesUpYandexButTheOthersAreAsked) {
    captchaOnce("<input type=\"hidden\" name=\"key\" value=\"k1\">");
    ui.cancelCaptcha();
    web::sbPageCheckIndexClick(db, c);
    EXPECT_EQ(flags(), (QStringList{"", "1", "1"}));
    EXPECT_TRUE(ui.texts().last().startsWith(QStringLiteral("Yandex: ошибка\r\nGoogle: в индексе")));
    EXPECT_TRUE(fetcher.GlobalStop);
    EXPECT_FALSE(yandex.targets().join(' ').contains("checkcaptcha"));
}

TEST_F(IndexChecks, CaptchaPagesWithoutAKeyEndAfterThreeRounds) {
    yandex.on("/yandsearch", test::htmlPage(kCaptchaPage)); // also the captcha page itself: no key in it
    EXPECT_EQ(web::IndexYandex(c, "site.example"), web::kIndexError);
    EXPECT_TRUE(fetcher.GlobalStop);
    EXPECT_TRUE(ui.captchaImages.empty());
    EXPECT_EQ(yandex.targets().count("/yandsearch?text=123"), 3);
}

TEST_F(IndexChecks, AFailedExchangeEndsTheCheckWithItsErrorAndNoFlag) {
    captchaOnce("<input type=\"hidden\" name=\"key\" value=\"k1\">");
    yandex.on("/image", HttpServer::Reply{404, {}, "no", 0, false, false, 0, {}});
    db.tbLink.setValue("PageIndexY", QStringLiteral("1"));
    db.tbLink.post();
    web::sbPageCheckIndexClick(db, c);
    EXPECT_EQ(flags(), (QStringList{"1", "", ""}));
    ASSERT_EQ(ui.shown().size(), 1u);
    EXPECT_EQ(ui.shown()[0].kind, QStringLiteral("error"));
    EXPECT_TRUE(google.targets().isEmpty());
}

TEST(Captcha, PageFieldsAndTheAnswerAsSent) {
    const auto page = web::parseCaptchaPage("<input type=\"hidden\" name=\"key\" value=\"abc\">");
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->imageKey, QStringLiteral("abc"));
    EXPECT_EQ(page->retpath, QString()); // no return path: sent empty
    EXPECT_FALSE(web::parseCaptchaPage("<input type=\"hidden\" name=\"key\" value=\"_x\">").has_value());
    EXPECT_FALSE(web::parseCaptchaPage("no key").has_value());
    EXPECT_EQ(web::encodeCaptchaAnswer(QStringLiteral("ab cd")), QStringLiteral("ab+cd"));
    EXPECT_EQ(web::encodeCaptchaAnswer(QString(100, u'д')).size(), 255);
}

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>

#include "dialogs/claim_dialog.h"
#include "support/main_window.h"
#include "support/records.h"
#include "widgets/evidence_view.h"

using namespace zentaro;

namespace {

// A link page found, then missing with its link commented out: the evidence, the change, the kept pages.
class EvidenceWindow : public test::MainWindowTest {
protected:
    void lostPage() {
        test::addRecord(db.tbSite, {{"Site", "trust.ru"}});
        addProject(QStringLiteral("Проект"));
        test::addRecord(db.tbAccount, {{"User", "seller"}, {"Password", "pa55word"}});
        test::addRecord(db.tbLink, {{"PageURL", "https://trust.ru/p"},
                                    {"Price", 900.0},
                                    {"PublicDate", QDate(2026, 11, 1)},
                                    {"AccountID", db.tbAccount.asInteger("ID")}});
        id = db.tbLink.asInteger("ID");
        test::addRecord(db.tbAncor, {{"URL", "mine.example"}, {"Ancor", "купить окна"}, {"LinkID", id}});
        const QDateTime t0(QDate(2026, 12, 1), QTime(9, 0));
        db::Evidence found;
        found.requested = found.finalUrl = "https://trust.ru/p";
        found.status = 200;
        found.links.push_back({"mine.example",
                               true,
                               "<a href=\"http://mine.example/\">",
                               "http://mine.example/",
                               {},
                               "купить окна",
                               {},
                               false});
        db::Evidence gone = found;
        gone.links[0] = {"mine.example", false, {}, {}, {}, {}, "адрес есть только в комментарии: x", true};
        const auto subject = db::CheckSubject::LinkPage;
        db.checks.record(subject, id, {t0, db::CheckKind::Presence, db::CheckReason::Found, {}});
        db.checks.recordEvidence(subject, id, t0, true, found, {});
        db.checks.keepSnapshot(subject, id, t0, true,
                               "<p><a href=x onclick=evil()>купить окна</a><script>x()</script>", {});
        db.checks.recordEvidence(subject, id, t0.addDays(2), false, gone, {"ссылка спрятана в комментарий"});
        db.checks.record(subject, id, {t0.addDays(2), db::CheckKind::Presence, db::CheckReason::Missing, {}});
        db.store.flush();
        db.tbLink.locate("ID", id);
    }
    // Runs what follows on the modal dialog the next action opens, then closes it.
    template <class D> void onDialog(const char* name, std::function<void(D*)> look) {
        QTimer::singleShot(0, [this, name, look] {
            D* d = nullptr;
            const bool shown =
                QTest::qWaitFor([&] { return (d = form->findChild<D*>(QString::fromLatin1(name))); });
            ASSERT_TRUE(shown) << name;
            look(d);
            d->reject();
        });
    }
    int id = 0;
};

} // namespace

TEST_F(EvidenceWindow, PropertiesShowTheLastFindBesideTheFirstMissAndOpenTheKeptPageWithoutScripts) {
    ui.answer(false);
    lostPage();
    bool seen = false;
    onDialog<QDialog>("fmEvidence", [&](QDialog* d) {
        auto* found = d->findChild<QTextBrowser*>("tbEvidenceFound");
        auto* missing = d->findChild<QTextBrowser*>("tbEvidenceMissing");
        ASSERT_TRUE(found && missing);
        EXPECT_TRUE(found->toPlainText().contains("купить окна"));
        EXPECT_TRUE(missing->toPlainText().contains("только в комментарии"));
        auto* view = d->findChild<widgets::EvidenceView*>("evCheckEvidence");
        EXPECT_TRUE(d->findChild<QPushButton*>("bSnapshotFound")->isEnabled());
        EXPECT_FALSE(d->findChild<QPushButton*>("bSnapshotMissing")->isEnabled());
        const QString file = view->writeSnapshot(true);
        const QString page = QString::fromUtf8(test::TempFolder::read(file));
        QFile::remove(file);
        EXPECT_TRUE(page.contains("купить окна"));
        EXPECT_FALSE(page.contains("evil()"));
        EXPECT_FALSE(page.contains("x()"));
        seen = true;
    });
    find<QPushButton>("bEvidence")->click();
    EXPECT_TRUE(seen);
}

TEST_F(EvidenceWindow, AClaimNamesThePageThePriceAndTheChangeAndNeverThePassword) {
    lostPage();
    bool seen = false;
    onDialog<dialogs::ClaimDialog>("fmClaim", [&](dialogs::ClaimDialog* d) {
        const QString text = d->findChild<QTextBrowser*>("tbClaim")->toPlainText();
        for (const char* part :
             {"https://trust.ru/p", "01.11.2026", "900,00", "купить окна", "ссылка спрятана в комментарий"})
            EXPECT_TRUE(text.contains(QString::fromUtf8(part))) << part;
        EXPECT_FALSE(text.contains("pa55word"));
        d->bCopyClick();
        EXPECT_EQ(QApplication::clipboard()->text(), d->text());
        const QString pdf = dir.path() + "claim.pdf";
        EXPECT_TRUE(d->saveAsPdf(pdf));
        EXPECT_TRUE(test::TempFolder::read(pdf).startsWith("%PDF"));
        seen = true;
    });
    form->findChild<QAction*>("mnClaim")->trigger();
    EXPECT_TRUE(seen);
    // A page that is not lost gets no claim, only a word why.
    db.checks.record(db::CheckSubject::LinkPage, id,
                     {QDateTime::currentDateTime(), db::CheckKind::Presence, db::CheckReason::Found, {}});
    form->findChild<QAction*>("mnClaim")->trigger();
    EXPECT_TRUE(ui.texts().last().startsWith("Претензию составляют по пропавшим ссылкам"));
}

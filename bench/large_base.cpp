#include "large_base.h"

#include <random>

#include <QDate>

#include "db/database.h"

namespace zentaro::bench {

namespace {

using db::Table;

// Writes records through the bulk path the table files use, so generation stays quick.
class Filler {
public:
    explicit Filler(Table& t) : m_t(t) { m_t.clearRecords(); }
    ~Filler() { m_t.finishLoad(); }
    int row() { return m_row = m_t.appendRawRow(); }
    void i(const char* f, qint64 v) { m_t.setRawInt(m_row, m_t.fieldIndex(QString::fromLatin1(f)), v); }
    void d(const char* f, const QDate& v) { i(f, v.toJulianDay()); }
    void s(const char* f, const QString& v) {
        m_t.setRawString(m_row, m_t.fieldIndex(QString::fromLatin1(f)), v);
    }
    void fl(const char* f, double v) { m_t.setRawFloat(m_row, m_t.fieldIndex(QString::fromLatin1(f)), v); }

private:
    Table& m_t;
    int m_row = -1;
};

const QStringList kWords = {QStringLiteral("строй"),  QStringLiteral("авто"),   QStringLiteral("ремонт"),
                            QStringLiteral("мебель"), QStringLiteral("туризм"), QStringLiteral("здоровье"),
                            QStringLiteral("news"),   QStringLiteral("market"), QStringLiteral("blog"),
                            QStringLiteral("portal")};

} // namespace

void fillLargeBase(db::Database& db, const BaseSize& n) {
    std::mt19937 rng(42);
    auto pick = [&](int hi) { return int(rng() % unsigned(hi)) + 1; };
    const QDate start(2015, 1, 1);
    {
        Filler f(db.tbProject);
        for (int id = 1; id <= n.projects; ++id) {
            f.row();
            f.i("ID", id);
            f.s("Name", QStringLiteral("Проект %1 — %2").arg(id).arg(kWords[id % kWords.size()]));
            f.s("Info",
                QStringLiteral("Продвижение сайта по запросам «%1»").arg(kWords[(id * 7) % kWords.size()]));
            f.d("DateAdd", start.addDays(id % 3000));
            f.i("TIC", (id * 37) % 500);
            f.i("PR", id % 8);
            f.s("Site", QStringLiteral("project%1.ru").arg(id));
        }
    }
    {
        Filler f(db.tbCat);
        for (int id = 1; id <= n.siteCats; ++id) {
            f.row();
            f.i("ID", id);
            f.s("Name", QStringLiteral("Категория %1").arg(id));
        }
    }
    {
        Filler f(db.tbCat2);
        for (int id = 1; id <= n.linkCats; ++id) {
            f.row();
            f.i("ID", id);
            f.s("Name", QStringLiteral("Ссылки %1").arg(id));
            f.i("PID", (id - 1) % n.projects + 1);
        }
    }
    {
        Filler f(db.tbSite);
        for (int id = 1; id <= n.sites; ++id) {
            f.row();
            f.i("ID", id);
            f.s("Site", QStringLiteral("www.%1-%2.ru").arg(kWords[rng() % kWords.size()]).arg(id));
            f.i("CatID", pick(n.siteCats));
            f.i("TIC", int(rng() % 2000));
            f.i("PR", int(rng() % 8));
            f.d("PRUpdate", start.addDays(int(rng() % 4000)));
            f.s("BackURL", id % 3 ? QStringLiteral("1") : QStringLiteral("0"));
            f.s("FURL", id % 5 ? QStringLiteral("0") : QStringLiteral("1"));
            f.s("Info", QStringLiteral("Заметка о сайте %1").arg(id));
            f.s("FS1", QStringLiteral("0"));
        }
    }
    {
        Filler f(db.tbLink);
        for (int id = 1; id <= n.links; ++id) {
            const int project = (id - 1) % n.projects + 1;
            f.row();
            f.i("ID", id);
            f.i("ProjectID", project);
            f.i("SiteID", pick(n.sites));
            f.i("AccountID", pick(n.accounts));
            f.s("Name", QStringLiteral("Статья %1").arg(id));
            f.s("PageURL", QStringLiteral("http://www.%1-%2.ru/articles/%3.html")
                               .arg(kWords[rng() % kWords.size()])
                               .arg(pick(n.sites))
                               .arg(id));
            f.d("PublicDate", start.addDays(int(rng() % 4000)));
            f.s("PageIndexY", QString::number(rng() % 2));
            f.s("PageIndexG", QString::number(rng() % 2));
            f.d("UpdateIndexDate", start.addDays(int(rng() % 4000)));
            f.i("UrlCount", int(rng() % 60));
            f.s("PageStatus", QString::number(rng() % 4));
            f.fl("Price", double(rng() % 100000) / 100.0);
            f.i("LinkCat", (project - 1) + n.projects * int(rng() % unsigned(n.linkCats / n.projects)) + 1);
            f.i("TIC", int(rng() % 2000));
            f.i("PR", int(rng() % 8));
        }
    }
    {
        Filler f(db.tbAncor);
        for (int id = 1; id <= n.anchors; ++id) {
            f.row();
            f.i("ID", id);
            f.i("LinkID", (id - 1) % n.links + 1);
            f.s("Ancor", QStringLiteral("купить %1 недорого").arg(kWords[rng() % kWords.size()]));
            f.s("URL", QStringLiteral("http://project%1.ru/page%2.html").arg(pick(n.projects)).arg(id % 97));
        }
    }
    {
        Filler f(db.tbAccount);
        for (int id = 1; id <= n.accounts; ++id) {
            f.row();
            f.i("ID", id);
            f.s("User", QStringLiteral("user%1").arg(id));
            f.s("Password", QStringLiteral("pw%1x").arg(id * 7919));
            f.s("email", QStringLiteral("user%1@mail.ru").arg(id));
            f.s("info", QStringLiteral("Аккаунт %1").arg(id));
        }
    }
}

// Adds a project with 1,000 link pages and 2,000 anchors as program code would (rules held still).
void addBigProject(db::Database& db) {
    db.isAuto = true;
    db.InsFlag = true;
    db.tbProject.setFiltered(false);
    db.tbProject.last();
    const int project = db.tbProject.asInteger(QStringLiteral("ID")) + 1;
    db.tbProject.insert();
    db.tbProject.setValue(QStringLiteral("ID"), project);
    db.tbProject.setValue(QStringLiteral("Name"), QStringLiteral("Большой проект"));
    db.tbProject.post();
    db.tbLink.setFiltered(false);
    db.tbLink.last();
    int link = db.tbLink.asInteger(QStringLiteral("ID"));
    db.tbAncor.setFiltered(false);
    db.tbAncor.last();
    int anchor = db.tbAncor.asInteger(QStringLiteral("ID"));
    for (int i = 0; i < 1000; ++i) {
        db.tbLink.insert();
        db.tbLink.setValue(QStringLiteral("ID"), ++link);
        db.tbLink.setValue(QStringLiteral("ProjectID"), project);
        db.tbLink.setValue(QStringLiteral("PageURL"), QStringLiteral("http://big.ru/%1").arg(i));
        db.tbLink.post();
        for (int a = 0; a < 2; ++a) {
            db.tbAncor.insert();
            db.tbAncor.setValue(QStringLiteral("ID"), ++anchor);
            db.tbAncor.setValue(QStringLiteral("LinkID"), link);
            db.tbAncor.post();
        }
    }
    db.InsFlag = false;
    db.isAuto = false;
    db.tbProject.locate(QStringLiteral("ID"), project);
}

} // namespace zentaro::bench

// The rules every table follows as records are added, deleted or made current: IDs, cascades, filters.
#include "db/record_rules.h"

#include <limits>
#include <unordered_set>

#include <QDate>
#include <QScopeGuard>

#include "db/database.h"
#include "db/link_losses.h"
#include "db/table.h"
#include "util/user_interface.h"

namespace zentaro::db {

namespace {

const QString kDeleteCaption = QStringLiteral("Удаление");
const QString kDeleteCatCaption = QStringLiteral("Удаление категории");

bool hasId(const Table& t) {
    return t.currentRow() >= 0 && !t.isNull(QStringLiteral("ID"));
}

// The current record's ID, 0 when there is none.
int currentId(const Table& t) {
    return hasId(t) ? t.asInteger(QStringLiteral("ID")) : 0;
}

class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagGuard() { m_flag = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& m_flag;
};

class ViewOff {
public:
    explicit ViewOff(Table& t) : m_t(t) { m_t.disableControls(); }
    ~ViewOff() { m_t.enableControls(); }
    ViewOff(const ViewOff&) = delete;
    ViewOff& operator=(const ViewOff&) = delete;

private:
    Table& m_t;
};

void deleteAllShown(Table& t) {
    t.first();
    while (!t.eof() && t.recordCount() > 0) {
        if (!t.deleteRecord()) break;
    }
}

} // namespace

QString idText(const Table& t) {
    return hasId(t) ? t.asString(QStringLiteral("ID")) : QStringLiteral("-1");
}

void setFilterIfDifferent(Table& t, const QString& text) {
    if (t.filter() != text) t.setFilter(text);
}

RecordRules::RecordRules(Database& db, UserInterface& ui, QObject* parent)
    : QObject(parent), m_db(db), m_ui(ui) {
    install();
}

RecordRules::~RecordRules() {
    for (Table* t : m_db.dataTables()) {
        t->beforeInsert = nullptr;
        t->afterInsert = nullptr;
        t->beforeDelete = nullptr;
        t->afterScroll = nullptr;
    }
}

void RecordRules::install() {
    for (Table* t : m_db.dataTables())
        t->afterInsert = [this](Table& tb) { idRule(tb); };

    m_db.tbAncor.beforeInsert = [this](Table&) { return hasId(m_db.tbLink); };
    m_db.tbCat2.beforeInsert = [this](Table&) { return hasId(m_db.tbProject); };
    m_db.tbLink.beforeInsert = [this](Table&) {
        setLinkFilterMode(LinkFilterMode::AllUrl);
        return true;
    };

    m_db.tbProject.beforeDelete = [this](Table& t) { return cascadeProject(t); };
    m_db.tbCat2.beforeDelete = [this](Table& t) { return cascadeLinkCat(t); };
    m_db.tbCat.beforeDelete = [this](Table& t) { return cascadeSiteCat(t); };
    m_db.tbLink.beforeDelete = [this](Table& t) { return cascadeLink(t); };

    m_db.tbProject.afterScroll = [this](Table&) { afterScrollProject(); };
    m_db.tbCat2.afterScroll = [this](Table&) { SetLinkFilter(); };
    m_db.tbCat.afterScroll = [this](Table&) { afterScrollCat(); };
    m_db.tbSite.afterScroll = [this](Table&) { afterScrollSite(); };
    m_db.tbLink.afterScroll = [this](Table&) { afterScrollLink(); };
}

void RecordRules::setLinkFilterMode(LinkFilterMode mode) {
    if (mode == m_mode) return;
    m_mode = mode;
    emit linkFilterModeChanged(mode);
    SetLinkFilter();
}

void RecordRules::setTexts(QString* field, const QString& value) {
    if (*field == value) return;
    *field = value;
    emit textsChanged();
}

// A new record is replaced by a finished one: the next ID of the whole table, the table's defaults,
// posted at once, then the table's filter as its rule says and the new record current.
void RecordRules::idRule(Table& t) {
    if (m_db.InsFlag) return;
    if (&t == &m_db.tbLink && !hasId(m_db.tbSite)) return;
    const bool detail = &t == &m_db.tbLink || &t == &m_db.tbAncor;
    const QString remembered = t.filter();
    t.setFiltered(false);
    t.setIndexFieldNames(QStringLiteral("ID"));
    t.last();
    const int lastId = t.eof() ? 0 : t.asInteger(QStringLiteral("ID"));
    int nextId = 0;
    if (lastId < std::numeric_limits<int>::max()) {
        nextId = lastId + 1;
    } else {
        // The highest number is taken (read in from a file): one more would overflow and repeat an ID, so
        // the lowest number no record holds is given.
        const int idField = t.fieldIndex(QStringLiteral("ID"));
        std::unordered_set<int> taken;
        for (int row = 0; row < t.rowCapacity(); ++row)
            if (t.rowAlive(row) && row != t.insertRow()) taken.insert(t.rowValue(row, idField).toInt());
        nextId = 1;
        while (taken.count(nextId))
            ++nextId;
    }
    {
        FlagGuard ins(m_db.InsFlag);
        t.insert();
    }
    t.setValue(QStringLiteral("ID"), nextId);
    const QDate today = QDate::currentDate();
    if (&t == &m_db.tbProject) {
        t.setValue(QStringLiteral("DateAdd"), today);
    } else if (&t == &m_db.tbCat2) {
        t.setValue(QStringLiteral("PID"), currentId(m_db.tbProject));
    } else if (&t == &m_db.tbSite) {
        t.setValue(QStringLiteral("CatID"), currentId(m_db.tbCat));
    } else if (&t == &m_db.tbLink) {
        t.setValue(QStringLiteral("PublicDate"), today);
        t.setValue(QStringLiteral("ProjectID"), currentId(m_db.tbProject));
        t.setValue(QStringLiteral("PageStatus"), QStringLiteral("0"));
        t.setValue(QStringLiteral("LinkCat"), currentId(m_db.tbCat2));
    } else if (&t == &m_db.tbAncor) {
        t.setValue(QStringLiteral("LinkID"), currentId(m_db.tbLink));
    }
    t.post();
    if (detail) {
        t.setFilter(remembered);
        t.setFiltered(true);
    } else if (&t == &m_db.tbCat2) {
        t.setFiltered(true);
    }
    t.last();
    // A number below the highest is not the last record.
    if (nextId <= lastId) t.locate(QStringLiteral("ID"), nextId);
}

bool RecordRules::cascadeProject(Table& t) {
    if (!m_ui.askYesNo(QStringLiteral("Удалить все ссылки и категории данного проекта?"), kDeleteCaption))
        return false;
    const QString id = idText(t);
    {
        FlagGuard autoRun(m_db.isAuto);
        Table& links = m_db.tbLink;
        links.setFiltered(true);
        {
            ViewOff off(links);
            links.setFilter(QStringLiteral("ProjectID=") + id);
            deleteAllShown(links);
        }
        Table& cats = m_db.tbCat2;
        ViewOff off(cats);
        cats.setFiltered(true);
        setFilterIfDifferent(cats, QStringLiteral("PID=") + id);
        deleteAllShown(cats);
    }
    return true;
}

bool RecordRules::cascadeLinkCat(Table& t) {
    if (m_db.isAuto) return true;
    if (m_ui.askYesNo(QStringLiteral("Удалить все ссылки этой категории?"), kDeleteCatCaption)) {
        Table& links = m_db.tbLink;
        const bool wasOn = links.filtered();
        const QString wasText = links.filter();
        // A category or project without an ID owns no links: "-1" matches none.
        links.setFiltered(true);
        links.setFilter(QStringLiteral("LinkCat=") + idText(t) + QStringLiteral(" and ProjectID=") +
                        idText(m_db.tbProject));
        ViewOff off(links);
        deleteAllShown(links);
        links.setFilter(wasText);
        links.setFiltered(wasOn);
        links.last();
    }
    return true;
}

bool RecordRules::cascadeSiteCat(Table& t) {
    if (!hasId(t)) return true;
    if (m_ui.askYesNo(QStringLiteral("Удалить все сайты этой категории?"), kDeleteCatCaption)) {
        Table& sites = m_db.tbSite;
        const bool wasOn = sites.filtered();
        const QString wasText = sites.filter();
        sites.setFiltered(true);
        sites.setFilter(QStringLiteral("CatID=") + idText(t));
        ViewOff off(sites);
        deleteAllShown(sites);
        sites.setFilter(wasText);
        sites.setFiltered(wasOn);
        sites.last();
    }
    return true;
}

bool RecordRules::cascadeLink(Table& t) {
    // A later link page may get this number: it must not inherit these outcomes.
    m_db.checks.forget(CheckSubject::LinkPage, t.asInteger(QStringLiteral("ID")));
    Table& anchors = m_db.tbAncor;
    anchors.setFiltered(true);
    anchors.setFilter(QStringLiteral("LinkID=") + idText(t));
    ViewOff off(anchors);
    deleteAllShown(anchors);
    return true;
}

bool RecordRules::DBNavigator1BeforeAction(const QString& navigator, NavButton button) {
    static const QStringList asking = {QStringLiteral("DBNavigator4"), QStringLiteral("DBNavigator5"),
                                       QStringLiteral("DBNavigator8"), QStringLiteral("DBNavigator9"),
                                       QStringLiteral("DBNavigator10")};
    // While a run walks the tables no navigator moves or changes a record under it.
    if (m_db.refuseDuringRun()) return false;
    if (button != NavButton::Delete || !asking.contains(navigator)) return true;
    return m_ui.askYesNo(QStringLiteral("Удалить запись?"), kDeleteCaption);
}

void RecordRules::SetLinkFilter() {
    if (m_db.isAuto || m_db.InsFlag) return;
    Table& links = m_db.tbLink;
    links.setFiltered(true);
    const QString project = idText(m_db.tbProject);
    QString text;
    switch (m_mode) {
    case LinkFilterMode::AllUrl:
        text = QStringLiteral("ProjectID=") + project;
        break;
    case LinkFilterMode::UrlSite:
        // Without a project the site's links of no project are shown: none ("ProjectID=-1").
        text = hasId(m_db.tbSite) ? QStringLiteral("SiteID=") + idText(m_db.tbSite) +
                                        QStringLiteral(" and ProjectID=") + project
                                  : QStringLiteral("SiteID=-1");
        break;
    case LinkFilterMode::Cat:
        text = hasId(m_db.tbCat2) ? QStringLiteral("LinkCat=") + idText(m_db.tbCat2) +
                                        QStringLiteral(" and ProjectID=") + project
                                  : QStringLiteral("SiteID=-1");
        break;
    }
    setFilterIfDifferent(links, text);
}

void RecordRules::SetCatFilter() {
    if (m_db.isAuto || m_db.InsFlag) return;
    Table& cats = m_db.tbCat2;
    cats.setFiltered(true);
    if (!hasId(m_db.tbProject)) {
        setFilterIfDifferent(cats, QStringLiteral("PID=-1"));
        return;
    }
    setFilterIfDifferent(cats, QStringLiteral("PID=") + idText(m_db.tbProject));
    m_db.tbLink.last();
}

void RecordRules::afterScrollProject() {
    if (m_db.isAuto || m_db.tbProject.controlsDisabled()) return;
    const QString name = m_db.tbProject.asString(QStringLiteral("Name"));
    setTexts(&m_ppInfo, name);
    SetLinkFilter();
    SetCatFilter();
    setTexts(&m_sbShowSiteHint,
             QStringLiteral("Показать на каких сайтах пока нет ссылок на проект ") + u'"' + name + u'"');
}

void RecordRules::afterScrollCat() {
    if (m_db.isAuto || !m_siteCat) return;
    // With no category left the filter keeps the site view empty rather than showing every site.
    setFilterIfDifferent(m_db.tbSite, QStringLiteral("CatID=") + idText(m_db.tbCat));
}

void RecordRules::afterScrollSite() {
    if (m_db.isAuto || m_db.tbSite.controlsDisabled()) return;
    if (!m_siteLinkPage) SetLinkFilter();
    setTexts(&m_rbListUrlSiteCaption,
             QStringLiteral("Трастовый сайт (") + m_db.tbSite.asString(QStringLiteral("Site")) + u')');
}

void RecordRules::afterScrollLink() {
    if (m_db.isAuto || m_db.tbSite.controlsDisabled()) return;
    Table& links = m_db.tbLink;
    setTexts(&m_pLinkInfo,
             links.displayText(links.fieldIndex(QStringLiteral("_Site"))) + QStringLiteral("  "));
    Table& anchors = m_db.tbAncor;
    anchors.setFiltered(true);
    setFilterIfDifferent(anchors, QStringLiteral("LinkID=") + idText(links));
    emit accountDataChanged();
}

void RecordRules::setCheckFilter(CheckFilter filter) {
    m_checkFilter = filter;
    Table& links = m_db.tbLink;
    const auto told = qScopeGuard([this, filter] { emit checkFilterChanged(filter); });
    if (filter == CheckFilter::None) {
        links.setRowFilter({});
        return;
    }
    if (filter == CheckFilter::Changed) {
        m_db.store.flush(); // the newest events too
        const auto changed =
            m_db.checks.evidence().latestEvents(m_db.checks.connection(), int(CheckSubject::LinkPage));
        const int idField = links.fieldIndex(QStringLiteral("ID"));
        const int dateField = links.fieldIndex(QStringLiteral("PublicDate"));
        links.setRowFilter([&links, changed, idField, dateField](int row) {
            const auto it = changed.find(links.rowValue(row, idField).toInt());
            if (it == changed.end()) return false;
            const QDate bought = links.rowValue(row, dateField).toDate();
            return !bought.isValid() || it->second.date() >= bought;
        });
        return;
    }
    std::vector<CheckReason> reasons;
    // The links are not seen there: missing, no anchors to look for, or a page that was read but holds no
    // link at all (read, so not among the pages that could not be loaded).
    if (filter == CheckFilter::Missing)
        reasons = {CheckReason::Missing, CheckReason::NoAnchors, CheckReason::NoLinks};
    else if (filter == CheckFilter::Nofollow)
        reasons = {CheckReason::FoundNofollow, CheckReason::FoundNoindex};
    else
        for (int r = 0; r < 64; ++r)
            if (isUnreachable(CheckReason(r))) reasons.push_back(CheckReason(r));
    const std::unordered_set<int> ids = m_db.checks.withLast(CheckSubject::LinkPage, reasons);
    const int idField = links.fieldIndex(QStringLiteral("ID"));
    links.setRowFilter([&links, ids, idField](int row) {
        const QVariant id = links.rowValue(row, idField);
        return id.isValid() && ids.count(id.toInt()) > 0;
    });
}

void RecordRules::setListedPages(std::unordered_set<int> ids) {
    m_checkFilter = CheckFilter::Listed;
    Table& links = m_db.tbLink;
    const int idField = links.fieldIndex(QStringLiteral("ID"));
    links.setRowFilter([&links, ids = std::move(ids), idField](int row) {
        const QVariant id = links.rowValue(row, idField);
        return id.isValid() && ids.count(id.toInt()) > 0;
    });
    emit checkFilterChanged(m_checkFilter);
}

} // namespace zentaro::db

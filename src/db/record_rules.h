// The rules every table follows as records are added, deleted or made current: IDs, cascades, filters.
#pragma once

#include <unordered_set>

#include <QObject>
#include <QString>

#include "db/forward.h"

namespace zentaro::db {

// Which links the links pane shows: the radio buttons rbListAllUrl, rbListCat and rbListUrlSite.
enum class LinkFilterMode { AllUrl, Cat, UrlSite };
// Link pages shown by the last check's outcome, on top of the link filter.
// Listed: the pages a note over the list named (lost or unreachable since the last start).
// Changed: pages whose link changed (a change event) since the page was bought (PublicDate).
enum class CheckFilter { None, Missing, NotFetched, Nofollow, Listed, Changed };

// The navigator buttons a before-action rule can see.
enum class NavButton { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh };

// The rules every table follows when records are added, deleted or the current record changes: IDs and
// defaults, insert guards, delete cascades with their questions, and the detail filters that keep link
// categories, links, anchors and sites in step with the current project, category, site and link.
// The window state the rules read lives here; the window binds its controls to it.
class RecordRules : public QObject {
    Q_OBJECT
public:
    RecordRules(Database& db, UserInterface& ui, QObject* parent = nullptr);
    ~RecordRules() override;

    // Window state read by the rules
    LinkFilterMode linkFilterMode() const { return m_mode; }
    // A click on a link-filter radio button: checks it and, when it was not checked, runs SetLinkFilter.
    void setLinkFilterMode(LinkFilterMode mode);
    // Shows only the link pages whose last presence check came to the outcome (as known now), or all.
    void setCheckFilter(CheckFilter filter);
    // Shows only the given link pages (CheckFilter::Listed), on top of the link filter.
    void setListedPages(std::unordered_set<int> ids);
    CheckFilter checkFilter() const { return m_checkFilter; }
    bool siteCatChecked() const { return m_siteCat; }
    void setSiteCatChecked(bool on) {
        if (on == m_siteCat) return;
        m_siteCat = on;
        emit siteCatChanged();
    }
    bool siteCatEnabled() const { return m_siteCatEnabled; }
    void setSiteCatEnabled(bool on) {
        if (on == m_siteCatEnabled) return;
        m_siteCatEnabled = on;
        emit siteCatChanged();
    }
    void setSiteLinkPageShown(bool on) { m_siteLinkPage = on; }

    // Texts the rules set on the window
    const QString& ppInfo() const { return m_ppInfo; }
    const QString& pLinkInfo() const { return m_pLinkInfo; }
    const QString& sbShowSiteHint() const { return m_sbShowSiteHint; }
    const QString& rbListUrlSiteCaption() const { return m_rbListUrlSiteCaption; }

    void SetLinkFilter();
    void SetCatFilter();

    // The before-action rule of the navigator bars: false cancels the action (every action while a run
    // goes).
    bool DBNavigator1BeforeAction(const QString& navigator, NavButton button);

signals:
    void linkFilterModeChanged(zentaro::db::LinkFilterMode mode);
    void textsChanged();
    // The category box of the sites pane was ticked, unticked, enabled or disabled by an operation.
    void siteCatChanged();
    // The account fields of the links pane must be shown anew.
    void accountDataChanged();
    // The links list is narrowed to another outcome of the last check (or no longer narrowed).
    void checkFilterChanged(zentaro::db::CheckFilter filter);

private:
    void install();
    void idRule(Table& t);
    bool cascadeProject(Table& t);
    bool cascadeLinkCat(Table& t);
    bool cascadeSiteCat(Table& t);
    bool cascadeLink(Table& t);
    void afterScrollProject();
    void afterScrollCat();
    void afterScrollSite();
    void afterScrollLink();
    void setTexts(QString* field, const QString& value);

    Database& m_db;
    UserInterface& m_ui;
    LinkFilterMode m_mode = LinkFilterMode::AllUrl;
    CheckFilter m_checkFilter = CheckFilter::None;
    bool m_siteCat = false;
    bool m_siteCatEnabled = true;
    bool m_siteLinkPage = false;
    QString m_ppInfo;
    QString m_pLinkInfo;
    QString m_sbShowSiteHint = QStringLiteral("Показать на каких сайтах пока нет ссылок на проект");
    QString m_rbListUrlSiteCaption = QStringLiteral("Трастовый сайт");
};

// The ID of the table's current record as filter text; "-1" when there is no record or its ID is empty.
QString idText(const Table& t);
// Assigns the filter text only when it differs from the current one.
void setFilterIfDifferent(Table& t, const QString& text);

} // namespace zentaro::db

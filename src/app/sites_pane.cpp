// The trust-sites pane: the site list with its notes, its menu and the properties of the current site.
#include "app/sites_pane.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "widgets/field_binding.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "widgets/navigator_bar.h"
#include "app/split_panel.h"
#include "db/database.h"
#include "db/site_view.h"
#include "util/shell.h"

namespace zentaro::app {

namespace {

const QStringList kYesNo = {QStringLiteral("Да"), QStringLiteral("Нет")};

} // namespace

SitesPane::SitesPane(const PaneContext& ctx, QWidget* listPage, QWidget* infoPage)
    : QObject(listPage), m_ctx(ctx) {
    buildList(listPage);
    buildInfo(infoPage);
    buildMenu();
    connect(&ctx.rules, &db::RecordRules::siteCatChanged, this, &SitesPane::showSiteCat);
    connect(&ctx.rules, &db::RecordRules::textsChanged, this,
            [this] { setHint(m_sbShowSite, m_ctx.rules.sbShowSiteHint()); });
    showSiteCat();
}

void SitesPane::buildList(QWidget* page) {
    db::Table& t = m_ctx.db.tbSite;
    QFrame* strip = nullptr;
    QVBoxLayout* layout =
        listColumn(m_ctx, page, t,
                   {QStringLiteral("Panel4"), QStringLiteral("DBNavigator4"), QStringLiteral("sbSiteFind"),
                    QStringLiteral("Site"), QStringLiteral("Домен:")},
                   &strip);
    // Right after the navigator: on the strip and for the Tab key.
    m_menuButton = menuButton(strip, QStringLiteral("sbSiteMenu"));
    static_cast<QHBoxLayout*>(strip->layout())->insertWidget(1, m_menuButton);
    QWidget::setTabOrder(m_menuButton, strip->findChild<QToolButton*>(QStringLiteral("sbSiteFind")));
    QToolButton* update = speedButton(strip, QStringLiteral("sbAllPrUpdate"),
                                      QStringLiteral("Обновить тИЦ и PR для текущего сайта"), "view-refresh",
                                      QStyle::SP_BrowserReload);
    connect(update, &QToolButton::clicked, this, [this] { emit commandRequested(Command::sitePrcy); });
    QToolButton* open = speedButton(strip, QStringLiteral("SpeedButton6"), QStringLiteral("Открыть сайт"),
                                    "internet-web-browser", QStyle::SP_DirLinkIcon);
    connect(open, &QToolButton::clicked, this, &SitesPane::mnOpenTrustSiteClick);
    QToolButton* here =
        speedButton(strip, QStringLiteral("SpeedButton9"), QStringLiteral("Разместить ссылку на этом сайте"),
                    "insert-link", QStyle::SP_FileLinkIcon);
    connect(here, &QToolButton::clicked, this, &SitesPane::linkHereRequested);
    auto* bar = static_cast<QHBoxLayout*>(strip->layout());
    m_cbSiteCat = new QCheckBox(QStringLiteral("Категория"), strip);
    m_cbSiteCat->setObjectName(QStringLiteral("cbSiteCat"));
    setHint(m_cbSiteCat,
            QStringLiteral("Отображать только те сайты, которые принадлежат к текущей категории"));
    bar->insertWidget(bar->count() - 1, m_cbSiteCat);
    connect(m_cbSiteCat, &QCheckBox::clicked, this, [this](bool on) {
        m_ctx.rules.setSiteCatChecked(on);
        cbSiteCatClick();
    });
    m_sbShowSite = new QToolButton(strip);
    m_sbShowSite->setObjectName(QStringLiteral("sbShowSite"));
    m_sbShowSite->setAutoRaise(true);
    m_sbShowSite->setIcon(themeIcon("edit-find-replace", QStyle::SP_FileDialogDetailedView));
    setHint(m_sbShowSite, m_ctx.rules.sbShowSiteHint());
    connect(m_sbShowSite, &QToolButton::clicked, this, &SitesPane::sbShowSiteClick);
    bar->addWidget(m_sbShowSite);
    auto* clear = new QToolButton(strip);
    clear->setObjectName(QStringLiteral("SpeedButton5"));
    clear->setAutoRaise(true);
    clear->setIcon(themeIcon("edit-clear", QStyle::SP_DialogResetButton));
    setHint(clear, QStringLiteral("Отменить все фильтры"));
    connect(clear, &QToolButton::clicked, this, &SitesPane::SpeedButton5Click);
    bar->addWidget(clear);

    m_splitter3 = new QSplitter(Qt::Vertical, page);
    m_splitter3->setObjectName(QStringLiteral("Splitter3"));
    m_splitter3->setHandleWidth(4);
    auto* top = new QWidget(m_splitter3);
    auto* tl = new QVBoxLayout(top);
    tl->setContentsMargins(0, 0, 0, 0);
    tl->setSpacing(0);
    m_grid = app::grid(
        m_ctx, top, QStringLiteral("grdSite"), t,
        {{QStringLiteral("_num"), QStringLiteral("#"), 40},
         {QStringLiteral("Site"), QStringLiteral("Сайт"), 146},
         {QStringLiteral("TIC"), QStringLiteral("тИЦ"), 60, QStringList(), 0xff0000, true, 0xff0000},
         {QStringLiteral("PR"), QStringLiteral("PR"), 37, QStringList(), 0x008080, true, 0x008080},
         {QStringLiteral("_Cat"), QStringLiteral("Категория"), 172},
         {QStringLiteral("Social"), QStringLiteral("Соцсеть"), 70},
         {QStringLiteral("FURL"), QStringLiteral("Пр.URL"), 64, kYesNo, 0x0000ff, false},
         {QStringLiteral("BackURL"), QStringLiteral("Об.URL"), 64, kYesNo, 0x0000ff, false},
         {QStringLiteral("ID"), QStringLiteral("#"), 40, QStringList(), 0x0000ff, false}});
    m_grid->setLookupColumn(4, m_ctx.db.tbCat, QStringLiteral("Name"), QStringLiteral("CatID"));
    m_grid->emptyText = [this] {
        return m_ctx.db.tbSite.filtered()
                   ? QStringLiteral("Нет сайтов по выбранному отбору.")
                   : QStringLiteral("Добавьте трастовый сайт: кнопка «Добавить» (+) над списком, или "
                                    "«Команды» → «Импорт сайтов из файла».");
    };
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_grid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { m_pumSite->popup(m_grid->viewport()->mapToGlobal(p)); });
    tl->addWidget(m_grid, 1);
    m_pHelpShow = new QFrame(top);
    m_pHelpShow->setObjectName(QStringLiteral("pHelpShow"));
    m_pHelpShow->setFixedHeight(7);
    m_pHelpShow->setStyleSheet(QStringLiteral("QFrame#pHelpShow { background: rgb(255, 255, 227); }"));
    m_pHelpShow->installEventFilter(this);
    tl->addWidget(m_pHelpShow);
    m_splitter3->addWidget(top);
    auto* notes = new QFrame(m_splitter3);
    notes->setObjectName(QStringLiteral("pSiteHelp"));
    notes->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    notes->setMinimumHeight(30);
    new SplitPanel(notes, 69, 30, 60);
    auto* nl = new QVBoxLayout(notes);
    nl->setContentsMargins(1, 1, 1, 1);
    auto* memo = new QPlainTextEdit(notes);
    memo->setObjectName(QStringLiteral("mSiteInfo"));
    memo->setStyleSheet(QStringLiteral("background: rgb(255, 255, 238);"));
    new FieldBinding(t, QStringLiteral("Info"), memo, 250);
    nl->addWidget(memo);
    m_splitter3->addWidget(notes);
    m_splitter3->setCollapsible(0, false);
    m_splitter3->setStretchFactor(0, 1);
    m_splitter3->setSizes({400, 69});
    layout->addWidget(m_splitter3, 1);
}

void SitesPane::buildInfo(QWidget* page) {
    db::Table& t = m_ctx.db.tbSite;
    auto* layout = new QVBoxLayout(page);
    auto* nav = new NavigatorBar(QStringLiteral("DBNavigator6"), t,
                                 {db::NavButton::First, db::NavButton::Prior, db::NavButton::Next,
                                  db::NavButton::Last, db::NavButton::Post},
                                 page);
    nav->beforeAction = [&rules = m_ctx.rules](const QString& n, db::NavButton b) {
        return rules.DBNavigator1BeforeAction(n, b);
    };
    layout->addWidget(nav);
    auto* g = new QGridLayout;
    auto edit = [&](const QString& field, const QString& name) {
        auto* e = new QLineEdit(page);
        e->setObjectName(name);
        new FieldBinding(t, field, e);
        return e;
    };
    g->addWidget(new QLabel(QStringLiteral("Сайт:"), page), 0, 0);
    QLineEdit* site = edit(QStringLiteral("Site"), QStringLiteral("eSiteName"));
    site->setReadOnly(true);
    site->setFrame(false);
    site->setStyleSheet(QStringLiteral("font-weight: bold; color: maroon; background: transparent;"));
    g->addWidget(site, 0, 1, 1, 3);
    g->addWidget(new QLabel(QStringLiteral("тИЦ:"), page), 1, 0);
    g->addWidget(edit(QStringLiteral("TIC"), QStringLiteral("eSiteTIC")), 1, 1);
    g->addWidget(new QLabel(QStringLiteral("PR:"), page), 2, 0);
    g->addWidget(edit(QStringLiteral("PR"), QStringLiteral("eSitePR")), 2, 1);
    g->addWidget(new QLabel(QStringLiteral("Обновлено:"), page), 3, 0);
    QLineEdit* updated = edit(QStringLiteral("PRUpdate"), QStringLiteral("eSitePRUpdate"));
    setHint(updated, QStringLiteral("Дата последнего обновления тИЦ и PR"));
    g->addWidget(updated, 3, 1);
    auto* tp = new QToolButton(page);
    tp->setObjectName(QStringLiteral("sbTPUpdate"));
    tp->setAutoRaise(true);
    tp->setIcon(themeIcon("view-refresh", QStyle::SP_BrowserReload));
    setHint(tp, QStringLiteral("Обновить тИЦ и PR"));
    connect(tp, &QToolButton::clicked, this, [this] { emit commandRequested(Command::sitePrcy); });
    g->addWidget(tp, 3, 2);
    g->addWidget(new QLabel(QStringLiteral("Страница регистрации или добавления ссылки:"), page), 4, 0, 1, 4);
    g->addWidget(edit(QStringLiteral("RegURL"), QStringLiteral("eSiteRegURL")), 5, 0, 1, 3);
    auto* reg = new QToolButton(page);
    reg->setObjectName(QStringLiteral("sbRegURL"));
    reg->setAutoRaise(true);
    reg->setIcon(themeIcon("internet-web-browser", QStyle::SP_DirLinkIcon));
    setHint(reg, QStringLiteral("Открыть страницу"));
    connect(reg, &QToolButton::clicked, this, &SitesPane::sbRegURLClick);
    g->addWidget(reg, 5, 3);
    g->setColumnStretch(1, 1);
    layout->addLayout(g);
    layout->addStretch();
}

void SitesPane::buildMenu() {
    m_pumSite = new QMenu(m_grid);
    m_pumSite->setObjectName(QStringLiteral("pumSite"));
    auto item = [this](QMenu* menu, const char* name, const QString& caption, const QKeySequence& key,
                       const char* icon) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) {
            a->setShortcut(key);
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            m_grid->addAction(a);
        }
        if (icon) a->setIcon(themeIcon(icon, QStyle::SP_FileIcon));
        return a;
    };
    auto command = [this](QAction* a, Command op) {
        connect(a, &QAction::triggered, this, [this, op] { emit commandRequested(op); });
    };
    connect(item(m_pumSite, "mnOpenTrustSite", QStringLiteral("Открыть сайт"), Qt::Key_F9,
                 "internet-web-browser"),
            &QAction::triggered, this, &SitesPane::mnOpenTrustSiteClick);
    connect(
        item(m_pumSite, "mnLinkHere", QStringLiteral("Разместить ссылку здесь"), Qt::Key_F2, "insert-link"),
        &QAction::triggered, this, &SitesPane::linkHereRequested);
    QMenu* prcy = m_pumSite->addMenu(QStringLiteral("Обновить тИЦ и PR"));
    prcy->menuAction()->setObjectName(QStringLiteral("PR2"));
    prcy->menuAction()->setIcon(themeIcon("view-refresh", QStyle::SP_BrowserReload));
    command(item(prcy, "mnUpdatePRCY", QStringLiteral("У текущего сайта"), QKeySequence(Qt::CTRL | Qt::Key_T),
                 "view-refresh"),
            Command::sitePrcy);
    command(item(prcy, "mnUpdatePRCY_All", QStringLiteral("У всех сайтов"), {}, nullptr),
            Command::updateSitePrcyAll);
    command(item(prcy, "N2", QStringLiteral("Только у новых"), {}, nullptr), Command::updateSitePrcyNew);
    m_pumSite->addSeparator()->setObjectName(QStringLiteral("N13"));
    command(item(m_pumSite, "N19", QStringLiteral("Экспорт сайтов в файл"), {}, nullptr),
            Command::exportSites);
    command(item(m_pumSite, "N14", QStringLiteral("Импорт сайтов из файла"), {}, nullptr),
            Command::importSites);
    m_menuButton->setMenu(m_pumSite);
}

void SitesPane::showSiteCat() {
    m_cbSiteCat->setChecked(m_ctx.rules.siteCatChecked());
    m_cbSiteCat->setEnabled(m_ctx.rules.siteCatEnabled());
}

void SitesPane::cbSiteCatClick() {
    db::cbSiteCatClick(m_ctx.db, m_ctx.rules);
}

void SitesPane::sbShowSiteClick() {
    db::sbShowSiteClick(m_ctx.db, m_ctx.rules);
}

void SitesPane::SpeedButton5Click() {
    db::SpeedButton5Click(m_ctx.db, m_ctx.rules);
}

void SitesPane::mnOpenTrustSiteClick() {
    RunURL(db::trustSiteAddress(m_ctx.db));
}

void SitesPane::sbRegURLClick() {
    RunURL(m_ctx.db.tbSite.asString(QStringLiteral("RegURL")));
}

void SitesPane::pHelpShowClick() {
    QList<int> sizes = m_splitter3->sizes();
    const int total = sizes[0] + sizes[1];
    m_splitter3->setSizes({total - 50, 50});
}

bool SitesPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pHelpShow &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        pHelpShowClick();
    return QObject::eventFilter(watched, event);
}

} // namespace zentaro::app

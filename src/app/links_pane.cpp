// The links list and a link page's properties: grids, bound edits, the check bar, history and evidence.
#include "app/links_pane.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "widgets/field_binding.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "widgets/lookup_box.h"
#include "widgets/navigator_bar.h"
#include "db/database.h"
#include "db/link_removal.h"
#include "db/site_view.h"
#include "util/shell.h"
#include "util/user_interface.h"

namespace zentaro::app {

namespace {

const QStringList kYesNo = {QStringLiteral("Да"), QStringLiteral("Нет")};
const QStringList kStatus = {QStringLiteral("Ожидание"), QStringLiteral("Размещено"),
                             QStringLiteral("Пропажа"), QStringLiteral("Изменено")};
constexpr unsigned kBlue = 0x0000ff, kRed = 0xff0000, kTeal = 0x008080, kMaroon = 0x800000,
                   kPurple = 0x800080, kNavy = 0x000080;

QToolButton* plainButton(QWidget* parent, const QString& name, const QString& hint, const char* icon,
                         QStyle::StandardPixmap fallback) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setAutoRaise(true);
    b->setIcon(themeIcon(icon, fallback));
    b->setIconSize(QSize(16, 16));
    setHint(b, hint);
    return b;
}

QLineEdit* bound(db::Table& t, const QString& field, const QString& name, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    new FieldBinding(t, field, e);
    return e;
}

} // namespace

namespace {

// The last check of each link page, in a few words and its colour, at the end of the grid.
db::GridColumn checkColumn(db::Database& db) {
    db::GridColumn c(QStringLiteral("_check"), QStringLiteral("Проверка"), 110, QStringList(), 0x000080);
    const int idField = db.tbLink.fieldIndex(QStringLiteral("ID"));
    c.computed = [&db, idField](int row, int role) -> QVariant {
        if (row < 0 || !db.checks.isOpen()) return {};
        const QVariant id = db.tbLink.rowValue(row, idField);
        if (!id.isValid()) return {};
        const auto last = db.checks.last(db::CheckSubject::LinkPage, id.toInt());
        if (!last) return {};
        switch (role) {
        case Qt::DisplayRole:
            return last->lostSince.isValid()
                       ? QStringLiteral("Пропала с %1")
                             .arg(last->lostSince.toString(QStringLiteral("dd.MM.yyyy")))
                       : db::reasonText(last->outcome.reason);
        case db::TableModel::TextRgbRole:
            return db::reasonRgb(last->outcome.reason);
        case Qt::ToolTipRole: {
            QString tip = QLocale().toString(last->outcome.at, QLocale::ShortFormat) + u' ' +
                          db::kindText(last->outcome.kind) + QStringLiteral(": ") + last->outcome.detail;
            // What changed in the link lately, newest first.
            const auto events = db.checks.evidence().events(db.checks.connection(),
                                                            int(db::CheckSubject::LinkPage), id.toInt());
            for (size_t i = 0; i < events.size() && i < 3; ++i)
                tip += u'\n' + QLocale().toString(events[i].at, QLocale::ShortFormat) +
                       QStringLiteral(" — ") + events[i].text;
            return tip;
        }
        default:
            return {};
        }
    };
    return c;
}

} // namespace

LinksPane::LinksPane(const PaneContext& ctx, QWidget* listPage, QWidget* infoPage)
    : QObject(listPage), m_ctx(ctx) {
    buildList(listPage);
    buildInfo(infoPage);
    buildMenu();
    connect(&ctx.rules, &db::RecordRules::linkFilterModeChanged, this, &LinksPane::showMode);
    connect(&ctx.rules, &db::RecordRules::textsChanged, this, [this] {
        m_rbSite->setText(m_ctx.rules.rbListUrlSiteCaption());
        m_pLinkInfo->setText(m_ctx.rules.pLinkInfo());
    });
    connect(&ctx.rules, &db::RecordRules::accountDataChanged, this, &LinksPane::ShowAccountData);
    // The history follows the current link page and its checks (shown once the check has kept its outcome).
    auto later = [this] { QTimer::singleShot(0, this, &LinksPane::showHistory); };
    connect(&ctx.db.tbLink, &db::Table::currentChanged, this, later);
    connect(&ctx.db.tbLink, &db::Table::rowChanged, this, [this, later](int pos) {
        if (pos == m_ctx.db.tbLink.currentPos()) later();
    });
    // The current link page's account changed, however it was written: show it at once.
    connect(&ctx.db.tbLink, &db::Table::rowChanged, this, [this](int pos) {
        if (pos == m_ctx.db.tbLink.currentPos() && m_ctx.db.tbLink.state() == db::Table::State::Browse)
            ShowAccountData();
    });
    showMode();
    showCheckFilter();
}

void LinksPane::buildList(QWidget* page) {
    db::Table& t = m_ctx.db.tbLink;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_filterBox = new QGroupBox(QStringLiteral("Фильтры: "), page);
    m_filterBox->setObjectName(QStringLiteral("gbLinkFilter"));
    m_filterBox->setMinimumHeight(52);
    m_filterBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    m_filterBox->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; }"));
    auto* fl = new QHBoxLayout(m_filterBox);
    m_rbAll = new QRadioButton(QStringLiteral("Все ссылки проекта "), m_filterBox);
    m_rbAll->setObjectName(QStringLiteral("rbListAllUrl"));
    m_rbCat = new QRadioButton(QStringLiteral("Только ссылки категории"), m_filterBox);
    m_rbCat->setObjectName(QStringLiteral("rbListCat"));
    setHint(m_rbCat, QStringLiteral("Категории ссылок"));
    m_rbSite = new QRadioButton(m_ctx.rules.rbListUrlSiteCaption(), m_filterBox);
    m_rbSite->setObjectName(QStringLiteral("rbListUrlSite"));
    setHint(m_rbSite, QStringLiteral("Только те, которые относятся к текущему трастовому сайту"));
    for (QRadioButton* rb : {m_rbAll, m_rbCat, m_rbSite}) {
        rb->setStyleSheet(QStringLiteral("font-weight: normal;"));
        fl->addWidget(rb);
    }
    fl->addStretch();
    m_checkFilterText = new QLabel(m_filterBox);
    m_checkFilterText->setObjectName(QStringLiteral("lCheckFilter"));
    m_checkFilterText->setStyleSheet(QStringLiteral("font-weight: normal; color: #000080;"));
    fl->addWidget(m_checkFilterText);
    m_checkFilterClear = new QToolButton(m_filterBox);
    m_checkFilterClear->setObjectName(QStringLiteral("sbCheckFilterClear"));
    m_checkFilterClear->setAutoRaise(true);
    m_checkFilterClear->setIcon(themeIcon("edit-clear", QStyle::SP_DialogResetButton));
    setHint(m_checkFilterClear, QStringLiteral("Показать все страницы, без отбора по проверке"));
    connect(m_checkFilterClear, &QToolButton::clicked, this,
            [this] { m_ctx.rules.setCheckFilter(db::CheckFilter::None); });
    fl->addWidget(m_checkFilterClear);
    connect(&m_ctx.rules, &db::RecordRules::checkFilterChanged, this, &LinksPane::showCheckFilter);
    auto pick = [this](db::LinkFilterMode mode) { m_ctx.rules.setLinkFilterMode(mode); };
    connect(m_rbAll, &QRadioButton::clicked, this, [pick] { pick(db::LinkFilterMode::AllUrl); });
    connect(m_rbCat, &QRadioButton::clicked, this, [pick] { pick(db::LinkFilterMode::Cat); });
    connect(m_rbSite, &QRadioButton::clicked, this, [pick] { pick(db::LinkFilterMode::UrlSite); });
    layout->addWidget(m_filterBox);

    QFrame* strip = toolbarStrip(page, QStringLiteral("Panel9"));
    NavigatorBar* nav = navigator(m_ctx, strip, QStringLiteral("DBNavigator5"), t, kEditNavigator);
    // Several rows selected: one question and one transaction for all of them, instead of one each.
    nav->beforeAction = [this, single = nav->beforeAction](const QString& n, db::NavButton b) {
        if (b == db::NavButton::Delete && m_grid->selectedPositions().size() > 1) {
            if (!m_ctx.db.refuseDuringRun()) deleteSelectedLinks();
            return false;
        }
        return single(n, b);
    };
    auto* bar = static_cast<QHBoxLayout*>(strip->layout());
    auto* spacer = new QFrame(strip);
    spacer->setObjectName(QStringLiteral("Panel6"));
    spacer->setFixedWidth(16);
    bar->insertWidget(1, spacer);
    m_menuButton = menuButton(strip, QStringLiteral("sbLinkMenu"));
    bar->insertWidget(1, m_menuButton);
    QToolButton* view =
        speedButton(strip, QStringLiteral("sbViewWebPage"), QStringLiteral("Открыть веб-страницу"),
                    "internet-web-browser", QStyle::SP_DirLinkIcon);
    connect(view, &QToolButton::clicked, this, &LinksPane::sbLinkOutClick);
    auto command = [this](QToolButton* b, const QString& op) {
        connect(b, &QToolButton::clicked, this, [this, op] { emit commandRequested(op); });
    };
    command(speedButton(strip, QStringLiteral("sbLinkPRCY"),
                        QStringLiteral("Обновить тИЦ и PR для текущей страницы"), "view-refresh",
                        QStyle::SP_BrowserReload),
            QStringLiteral("UpDateLinkPRCY"));
    command(speedButton(strip, QStringLiteral("sbPageCheckIndex"),
                        QStringLiteral("Проверить индексацию страницы"), "system-search",
                        QStyle::SP_FileDialogContentsView),
            QStringLiteral("sbPageCheckIndexClick"));
    command(speedButton(strip, QStringLiteral("sbExtLinks"),
                        QStringLiteral("Определить число внешних ссылок на странице"), "go-jump",
                        QStyle::SP_ArrowRight),
            QStringLiteral("sbExtLinksClick"));
    command(speedButton(strip, QStringLiteral("SpeedButton3"),
                        QStringLiteral("Проверить наличие ссылки на странице"), "zentaro-link-check",
                        QStyle::SP_DialogApplyButton),
            QStringLiteral("CheckPageLink"));
    findButton(m_ctx, strip, QStringLiteral("sbLinkFind"), t, QStringLiteral("PageURL"),
               QStringLiteral("Веб-страница:"));
    // The find button and the filter switch stand at the right end.
    QWidget* find = strip->findChild<QWidget*>(QStringLiteral("sbLinkFind"));
    bar->removeWidget(find);
    bar->addWidget(find);
    QToolButton* toggle =
        plainButton(strip, QStringLiteral("SpeedButton2"), QStringLiteral("Показать/скрыть фильтры"),
                    "view-filter", QStyle::SP_FileDialogListView);
    bar->addWidget(toggle);
    connect(toggle, &QToolButton::clicked, this, &LinksPane::SpeedButton2Click);
    layout->addWidget(strip);
    buildCheckBar(page);
    layout->addWidget(m_checkBar);

    m_grid = app::grid(
        m_ctx, page, QStringLiteral("grdLink"), t,
        {{QStringLiteral("ID"), QStringLiteral("#"), 40},
         {QStringLiteral("PageURL"), QStringLiteral("Веб-страница"), 180},
         {QStringLiteral("_cat"), QStringLiteral("Категория"), 80, QStringList(), kBlue, true, kNavy},
         {QStringLiteral("TIC"), QStringLiteral("тИЦ"), 40, QStringList(), kRed, true, kRed},
         {QStringLiteral("PR"), QStringLiteral("PR"), 34, QStringList(), kTeal, true, kTeal},
         {QStringLiteral("PageIndexY"), QStringLiteral("YP"), 34, kYesNo, kRed, true, kRed},
         {QStringLiteral("PageIndexG"), QStringLiteral("GP"), 34, kYesNo, kTeal, true, kTeal},
         {QStringLiteral("PageIndexM"), QStringLiteral("Mail"), 38, kYesNo, kMaroon, true, kMaroon},
         {QStringLiteral("UrlCount"), QStringLiteral("Внеш."), 40, QStringList(), kPurple, true, kPurple},
         {QStringLiteral("PublicDate"), QStringLiteral("Добавлено"), 86},
         {QStringLiteral("PageStatus"), QStringLiteral("Статус"), 80, kStatus},
         {QStringLiteral("Price"), QStringLiteral("Цена"), 80, QStringList(), kPurple},
         {QStringLiteral("Name"), QStringLiteral("Примечание"), 176},
         checkColumn(m_ctx.db)});
    m_grid->tableModel()->setSmallTitle(8);
    // The outcome of the last check stands beside the status the user keeps, in view at the default size;
    // only the shown order changes, so the remembered widths keep naming the same columns.
    m_grid->horizontalHeader()->moveSection(13, 11);
    m_grid->setLookupColumn(2, m_ctx.db.tbCat2, QStringLiteral("Name"), QStringLiteral("LinkCat"));
    m_grid->highlightFirstColumn = [&links = t](int row) { return db::isLostLinkRow(links, row); };
    m_grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_grid->deleteSelection = [this] {
        if (m_grid->selectedPositions().size() < 2) return false;
        deleteSelectedLinks();
        return true;
    };
    // The address takes the room a wide window leaves.
    m_grid->setSpareWidthColumn(1, 180);
    m_grid->emptyText = [this] {
        if (m_ctx.db.tbProject.currentPos() < 0)
            return QStringLiteral("Добавьте проект: слева, кнопка «Добавить» (+) над списком проектов; "
                                  "здесь появятся страницы с его ссылками.");
        if (m_ctx.rules.checkFilter() != db::CheckFilter::None)
            return QStringLiteral("Нет страниц с таким итогом проверки.");
        if (m_ctx.rules.linkFilterMode() != db::LinkFilterMode::AllUrl)
            return QStringLiteral("Нет ссылок по выбранному фильтру.");
        // A page added by hand belongs to a trust site: without one the insert does nothing.
        if (m_ctx.db.tbSite.recordCount() == 0 && !m_ctx.db.tbSite.filtered())
            return QStringLiteral(
                "Импортируйте список: «Команды» → «Импорт ссылок из файла». Чтобы добавлять "
                "страницы по одной, сначала добавьте трастовый сайт (вкладка «Трастовые "
                "сайты»).");
        return QStringLiteral("Импортируйте список: «Команды» → «Импорт ссылок из файла», или добавьте "
                              "страницу кнопкой «Добавить» (+).");
    };
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_grid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { m_pumLink->popup(m_grid->viewport()->mapToGlobal(p)); });
    layout->addWidget(m_grid, 1);

    // The pane's own status line: how many pages the list shows and what they cost together.
    m_linkSum = new QLabel(page);
    m_linkSum->setObjectName(QStringLiteral("lLinkSum"));
    m_linkSum->setContentsMargins(4, 1, 4, 1);
    layout->addWidget(m_linkSum);
    auto* later = new QTimer(this);
    later->setSingleShot(true);
    later->setInterval(0);
    connect(later, &QTimer::timeout, this, &LinksPane::showLinkSum);
    for (auto signal : {&db::Table::rowChanged, &db::Table::rowInserted, &db::Table::rowRemoved})
        connect(&t, signal, later, qOverload<>(&QTimer::start));
    connect(&t, &db::Table::viewReset, later, qOverload<>(&QTimer::start));
    showLinkSum();
}

void LinksPane::showLinkSum() {
    const db::Table& t = m_ctx.db.tbLink;
    if (t.controlsBlank()) {
        m_linkSum->clear();
        return;
    }
    const int price = t.fieldIndex(QStringLiteral("Price"));
    qint64 kopecks = 0;
    const int n = t.recordCount();
    for (int pos = 0; pos < n; ++pos)
        kopecks += qRound64(t.valueAt(pos, price).toDouble() * 100);
    m_linkSum->setText(QStringLiteral("Страниц в списке: %1, сумма цен: %2")
                           .arg(n)
                           .arg(cli::moneyText(double(kopecks) / 100.0)));
}

void LinksPane::buildInfo(QWidget* page) {
    db::Table& t = m_ctx.db.tbLink;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 0, 2, 2);

    auto* strip = new QFrame(page);
    strip->setFixedHeight(29);
    auto* sl = new QHBoxLayout(strip);
    sl->setContentsMargins(0, 0, 4, 0);
    auto* nav = new NavigatorBar(QStringLiteral("DBNavigator7"), t,
                                 {db::NavButton::First, db::NavButton::Prior, db::NavButton::Next,
                                  db::NavButton::Last, db::NavButton::Post},
                                 strip);
    nav->setFixedWidth(130);
    nav->beforeAction = [&rules = m_ctx.rules](const QString& n, db::NavButton b) {
        return rules.DBNavigator1BeforeAction(n, b);
    };
    sl->addWidget(nav);
    m_pLinkInfo = new QLabel(strip);
    m_pLinkInfo->setObjectName(QStringLiteral("pLinkInfo"));
    m_pLinkInfo->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sl->addWidget(m_pLinkInfo, 1);
    layout->addWidget(strip);

    auto* g3 = new QGroupBox(QStringLiteral("Страница, содержащая ссылку:"), page);
    g3->setObjectName(QStringLiteral("GroupBox3"));
    auto* g3l = new QHBoxLayout(g3);
    g3l->setContentsMargins(6, 2, 6, 2);
    g3l->addWidget(bound(t, QStringLiteral("PageURL"), QStringLiteral("eLinkPageURL"), g3), 1);
    QToolButton* out = plainButton(g3, QStringLiteral("sbLinkOut"), QStringLiteral("Открыть веб-страницу"),
                                   "internet-web-browser", QStyle::SP_DirLinkIcon);
    connect(out, &QToolButton::clicked, this, &LinksPane::sbLinkOutClick);
    g3l->addWidget(out);
    layout->addWidget(g3);

    auto* g4 = new QGroupBox(QStringLiteral("Мои ссылки на странице: "), page);
    g4->setObjectName(QStringLiteral("GroupBox4"));
    auto* g4l = new QHBoxLayout(g4);
    DataGrid* anchors = app::grid(m_ctx, g4, QStringLiteral("grdAncor"), m_ctx.db.tbAncor,
                                  {{QStringLiteral("Ancor"), QStringLiteral("Анкор (текст ссылки)"), 188},
                                   {QStringLiteral("URL"), QStringLiteral("Ссылка (URL)"), 215},
                                   {QStringLiteral("Info"), QStringLiteral("Примечание"), 144}});
    g4l->addWidget(anchors, 1);
    auto* anav = new NavigatorBar(
        QStringLiteral("DBNavigator8"), m_ctx.db.tbAncor,
        {db::NavButton::Insert, db::NavButton::Delete, db::NavButton::Edit, db::NavButton::Post}, g4,
        Qt::Vertical);
    anav->beforeAction = nav->beforeAction;
    g4l->addWidget(anav);
    // The anchors and the check history share the room that is left, each with a usable least height.
    auto* rows = new QSplitter(Qt::Vertical, page);
    rows->setObjectName(QStringLiteral("SplitterHistory"));
    rows->setChildrenCollapsible(false);
    rows->addWidget(g4);
    layout->addWidget(rows, 1);
    // Below the anchors, in this order: the article file, the account and trust site, the index date and
    // the check history.
    auto* lower = new QWidget(rows);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->setSpacing(2);
    rows->addWidget(lower);

    auto* g8 = new QGroupBox(QStringLiteral("Файл со статьей: "), page);
    g8->setObjectName(QStringLiteral("GroupBox8"));
    auto* g8l = new QHBoxLayout(g8);
    g8l->setContentsMargins(6, 2, 6, 2);
    QLineEdit* afn = bound(t, QStringLiteral("AFN"), QStringLiteral("eLinkAFN"), g8);
    setHint(afn, QStringLiteral("Статья с вашими ссылками, которая публикуется на сайте"));
    g8l->addWidget(afn, 1);
    QToolButton* assign = plainButton(g8, QStringLiteral("sbArtFN"), QStringLiteral("Назначить файл"),
                                      "document-open", QStyle::SP_DialogOpenButton);
    connect(assign, &QToolButton::clicked, this, &LinksPane::sbArtFNClick);
    QToolButton* openFile = plainButton(g8, QStringLiteral("SpeedButton10"), QStringLiteral("Открыть файл"),
                                        "document-preview", QStyle::SP_FileIcon);
    connect(openFile, &QToolButton::clicked, this, &LinksPane::SpeedButton10Click);
    g8l->addWidget(assign);
    g8l->addWidget(openFile);
    lowerLayout->addWidget(g8);

    auto* side = new QHBoxLayout;
    auto* g5 = new QGroupBox(QStringLiteral("Логин и пароль для редактирования:"), page);
    g5->setObjectName(QStringLiteral("GroupBox5"));
    auto* g5l = new QGridLayout(g5);
    g5l->setVerticalSpacing(2);
    g5l->addWidget(new QLabel(QStringLiteral("Аккаунт:"), g5), 0, 0);
    m_account = new LookupBox(t, QStringLiteral("AccountID"), m_ctx.db.tbAccount, QStringLiteral("ID"),
                              QStringLiteral("info"), g5);
    m_account->setObjectName(QStringLiteral("DBLookupComboBox1"));
    g5l->addWidget(m_account, 0, 1);
    QToolButton* showAccount =
        plainButton(g5, QStringLiteral("sbShowAccount"), QStringLiteral("Открыть страницу"), "system-users",
                    QStyle::SP_DirHomeIcon);
    connect(showAccount, &QToolButton::clicked, this, &LinksPane::showAccountsRequested);
    g5l->addWidget(showAccount, 0, 2);
    const QString rowNames[3] = {QStringLiteral("Логин:"), QStringLiteral("Пароль:"),
                                 QStringLiteral("E-mail:")};
    const QString editNames[3] = {QStringLiteral("eLinkLogin"), QStringLiteral("eLinkPassword"),
                                  QStringLiteral("eLinkEMail")};
    QLineEdit** edits[3] = {&m_login, &m_password, &m_email};
    for (int i = 0; i < 3; ++i) {
        g5l->addWidget(new QLabel(rowNames[i], g5), i + 1, 0);
        *edits[i] = new QLineEdit(g5);
        (*edits[i])->setObjectName(editNames[i]);
        (*edits[i])->setReadOnly(true);
        g5l->addWidget(*edits[i], i + 1, 1);
        QToolButton* copy =
            plainButton(g5, QStringLiteral("sbL%1").arg(i + 1), QStringLiteral("Копировать в буфер обмена"),
                        "edit-copy", QStyle::SP_FileLinkIcon);
        connect(copy, &QToolButton::clicked, this, [this, e = *edits[i]] { copyToClipboard(e); });
        g5l->addWidget(copy, i + 1, 2);
    }
    side->addWidget(g5, 1);
    auto* g6 = new QGroupBox(QStringLiteral("Сайт-источник (трастовый сайт): "), page);
    g6->setObjectName(QStringLiteral("GroupBox6"));
    auto* g6l = new QVBoxLayout(g6);
    m_site = new LookupBox(t, QStringLiteral("SiteID"), m_ctx.db.tbSite, QStringLiteral("ID"),
                           QStringLiteral("Site"), g6);
    m_site->setObjectName(QStringLiteral("DBLookupComboBox2"));
    m_site->setStyleSheet(QStringLiteral("color: green;"));
    g6l->addWidget(m_site);
    g6l->addStretch();
    side->addWidget(g6, 1);
    lowerLayout->addLayout(side);
    for (LookupBox* box : {m_account, m_site}) {
        connect(box, &LookupBox::closedUp, this, &LinksPane::ShowAccountData);
        connect(box, &LookupBox::chosen, this, &LinksPane::ShowAccountData);
    }

    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(new QLabel(QStringLiteral("Дата проверки индексации страницы:"), page));
    QLineEdit* date = bound(t, QStringLiteral("UpdateIndexDate"), QStringLiteral("eLinkIndexDate"), page);
    date->setMaximumWidth(100);
    dateRow->addWidget(date);
    QToolButton* check =
        plainButton(page, QStringLiteral("SpeedButton4"), QStringLiteral("Проверить индексацию страницы"),
                    "system-search", QStyle::SP_FileDialogContentsView);
    connect(check, &QToolButton::clicked, this,
            [this] { emit commandRequested(QStringLiteral("sbPageCheckIndexClick")); });
    dateRow->addWidget(check);
    // The evidence behind the verdict: the last find beside the first miss, in a window of its own (the
    // properties page has no room to spare).
    auto* evidence = new QPushButton(QStringLiteral("Доказательства…"), page);
    evidence->setObjectName(QStringLiteral("bEvidence"));
    evidence->setToolTip(QStringLiteral("Что было на странице при последней находке и при первой пропаже"));
    connect(evidence, &QPushButton::clicked, this, &LinksPane::showEvidence);
    dateRow->addWidget(evidence);
    auto* g9 = new QGroupBox(QStringLiteral("История проверок: "), page);
    g9->setObjectName(QStringLiteral("gbCheckHistory"));
    auto* g9l = new QVBoxLayout(g9);
    m_lostSince = new QLabel(g9);
    m_lostSince->setObjectName(QStringLiteral("lLostSince"));
    m_lostSince->setStyleSheet(QStringLiteral("color: #c00000;"));
    g9l->addWidget(m_lostSince);
    m_history = new QTreeWidget(g9);
    m_history->setObjectName(QStringLiteral("tvCheckHistory"));
    m_history->setRootIsDecorated(false);
    m_history->setHeaderLabels({QStringLiteral("Когда"), QStringLiteral("Проверка"), QStringLiteral("Итог"),
                                QStringLiteral("Подробности")});
    m_history->setColumnWidth(0, 130);
    m_history->setColumnWidth(1, 120);
    m_history->setColumnWidth(2, 160);
    m_history->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A title row and two rows at least, the rest by scrolling (the window's least height allows no more).
    m_history->setMinimumHeight((m_history->fontMetrics().height() + 6) * 3 + 4);
    m_lostSince->hide();
    g9l->addWidget(m_history);
    anchors->setMinimumHeight(anchors->fontMetrics().height() * 3 + 16);
    dateRow->addStretch();
    lowerLayout->addLayout(dateRow);
    lowerLayout->addWidget(g9, 1);
    rows->setStretchFactor(0, 1);
    rows->setStretchFactor(1, 2);
}

QAction* LinksPane::menuItem(QMenu* menu, const QString& name, const QString& caption,
                             const QKeySequence& key, const QString& operation, const char* icon) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    if (!key.isEmpty()) {
        a->setShortcut(key);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_grid->addAction(a);
    }
    if (icon) a->setIcon(themeIcon(icon, QStyle::SP_FileIcon));
    if (!operation.isEmpty())
        connect(a, &QAction::triggered, this, [this, operation] { emit commandRequested(operation); });
    return a;
}

void LinksPane::buildMenu() {
    m_pumLink = new QMenu(m_grid);
    m_pumLink->setObjectName(QStringLiteral("pumLink"));
    QAction* open = menuItem(m_pumLink, QStringLiteral("N8"), QStringLiteral("Открыть страницу"), Qt::Key_F3,
                             {}, "internet-web-browser");
    connect(open, &QAction::triggered, this, &LinksPane::sbLinkOutClick);
    m_pumLink->addSeparator()->setObjectName(QStringLiteral("N17"));
    QAction* all =
        menuItem(m_pumLink, QStringLiteral("mnCheckLinkAll"), QStringLiteral("Проверить все параметры"),
                 Qt::Key_F9, QStringLiteral("mnCheckLinkAllClick"), "emblem-default");
    setHint(all, QStringLiteral("| Проверить тИЦ, PR, индексацию, внешние ссылки, наличие ссылок"));
    m_pumLink->addSeparator()->setObjectName(QStringLiteral("N16"));
    menuItem(m_pumLink, QStringLiteral("PR1"), QStringLiteral("Проверить тИЦ и PR"),
             QKeySequence(Qt::CTRL | Qt::Key_T), QStringLiteral("UpDateLinkPRCY"), "view-refresh");
    menuItem(m_pumLink, QStringLiteral("N1"), QStringLiteral("Проверить индексацию страницы"),
             QKeySequence(Qt::CTRL | Qt::Key_P), QStringLiteral("sbPageCheckIndexClick"), "system-search");
    QMenu* presence = m_pumLink->addMenu(QStringLiteral("Проверить наличие своей ссылки"));
    presence->menuAction()->setObjectName(QStringLiteral("N9"));
    menuItem(presence, QStringLiteral("N10"), QStringLiteral("Для текущей веб-страницы"),
             QKeySequence(Qt::CTRL | Qt::Key_L), QStringLiteral("CheckPageLink"), "zentaro-link-check");
    menuItem(presence, QStringLiteral("N11"), QStringLiteral("Для все страниц в списке"), {},
             QStringLiteral("CheckAllPageLink"));
    menuItem(presence, QStringLiteral("mnAddSiteAnchors"),
             QStringLiteral("Добавить анкор с адресом сайта проекта всем страницам без анкоров"), {},
             QStringLiteral("addSiteAnchorsToPagesWithoutAnchors"));
    QMenu* ext = m_pumLink->addMenu(QStringLiteral("Проверить внешние ссылки"));
    ext->menuAction()->setObjectName(QStringLiteral("N4"));
    // The count for the current page is started by its toolbar button; this item has no action of its own.
    menuItem(ext, QStringLiteral("N5"), QStringLiteral("Для текущений веб-страницы"),
             QKeySequence(Qt::CTRL | Qt::Key_E), {}, "go-jump");
    menuItem(ext, QStringLiteral("N6"), QStringLiteral("Для всех страниц в списке"), {},
             QStringLiteral("CheckExtLinksAll"));
    menuItem(ext, QStringLiteral("N7"), QStringLiteral("Только для новых"), {},
             QStringLiteral("CheckExtLinksNew"));
    m_pumLink->addSeparator()->setObjectName(QStringLiteral("N15"));
    QMenu* filters = m_pumLink->addMenu(QStringLiteral("Фильтры"));
    filters->menuAction()->setObjectName(QStringLiteral("N3"));
    const QString names[3] = {QStringLiteral("mnFL1"), QStringLiteral("mnFL2"), QStringLiteral("mnFL3")};
    const QString captions[3] = {QStringLiteral("Все ссылки проекта"), QStringLiteral("Категория ссылки"),
                                 QStringLiteral("Текущий трастовый сайт")};
    const db::LinkFilterMode modes[3] = {db::LinkFilterMode::AllUrl, db::LinkFilterMode::Cat,
                                         db::LinkFilterMode::UrlSite};
    for (int i = 0; i < 3; ++i) {
        m_fl[i] = filters->addAction(captions[i]);
        m_fl[i]->setObjectName(names[i]);
        m_fl[i]->setCheckable(true);
        connect(m_fl[i], &QAction::triggered, this,
                [this, mode = modes[i]] { m_ctx.rules.setLinkFilterMode(mode); });
    }
    filters->addSeparator();
    const QString checkNames[5] = {QStringLiteral("mnCheckMissing"), QStringLiteral("mnCheckNotFetched"),
                                   QStringLiteral("mnCheckNofollow"), QStringLiteral("mnCheckChanged"),
                                   QStringLiteral("mnCheckAny")};
    const QString checkCaptions[5] = {
        QStringLiteral("Проверка: ссылка пропала"), QStringLiteral("Проверка: страница не загружена"),
        QStringLiteral("Проверка: nofollow или noindex"), QStringLiteral("Изменились после покупки"),
        QStringLiteral("Проверка: все страницы")};
    const db::CheckFilter checkFilters[5] = {db::CheckFilter::Missing, db::CheckFilter::NotFetched,
                                             db::CheckFilter::Nofollow, db::CheckFilter::Changed,
                                             db::CheckFilter::None};
    for (int i = 0; i < 5; ++i) {
        m_fc[i] = filters->addAction(checkCaptions[i]);
        m_fc[i]->setObjectName(checkNames[i]);
        // Commands, not ticks: the one tick under "Фильтры" is the link filter's; the outcome chosen is
        // named in the filter box.
        connect(m_fc[i], &QAction::triggered, this,
                [this, f = checkFilters[i]] { m_ctx.rules.setCheckFilter(f); });
    }
    QAction* claim = m_pumLink->addAction(QStringLiteral("Составить претензию по пропавшим ссылкам…"));
    claim->setObjectName(QStringLiteral("mnClaim"));
    connect(claim, &QAction::triggered, this, &LinksPane::makeClaim);
    menuItem(m_pumLink, QStringLiteral("N18"), QStringLiteral("Экспорт ссылок в файл"), {},
             QStringLiteral("N18Click"));
    menuItem(m_pumLink, QStringLiteral("N12"), QStringLiteral("Импорт ссылок из файла"), {},
             QStringLiteral("ImportLinks"));
    // Shown only while there is something to take back.
    m_undoImport = m_pumLink->addAction(QStringLiteral("Отменить импорт"));
    m_undoImport->setObjectName(QStringLiteral("mnUndoImport"));
    m_undoImport->setVisible(false);
    connect(m_undoImport, &QAction::triggered, this, &LinksPane::undoImport);
    m_undoDelete = m_pumLink->addAction(QStringLiteral("Отменить удаление"));
    m_undoDelete->setObjectName(QStringLiteral("mnUndoDelete"));
    m_undoDelete->setVisible(false);
    connect(m_undoDelete, &QAction::triggered, this, &LinksPane::undoDelete);
    connect(m_pumLink, &QMenu::aboutToShow, this, &LinksPane::pumLinkPopup);
    m_menuButton->setMenu(m_pumLink);
}

void LinksPane::showCheckFilter() {
    const db::CheckFilter f = m_ctx.rules.checkFilter();
    const std::pair<db::CheckFilter, QString> texts[] = {
        {db::CheckFilter::Missing, QStringLiteral("Проверка: ссылка пропала")},
        {db::CheckFilter::NotFetched, QStringLiteral("Проверка: страница не загружена")},
        {db::CheckFilter::Nofollow, QStringLiteral("Проверка: nofollow или noindex")},
        {db::CheckFilter::Listed, QStringLiteral("Пропавшие и недоступные с прошлого запуска")},
        {db::CheckFilter::Changed, QStringLiteral("Изменились после покупки")}};
    QString text;
    for (const auto& [filter, caption] : texts)
        if (filter == f) text = caption;
    m_checkFilterText->setText(text);
    m_checkFilterText->setVisible(!text.isEmpty());
    m_checkFilterClear->setVisible(!text.isEmpty());
}

void LinksPane::showMode() {
    const db::LinkFilterMode mode = m_ctx.rules.linkFilterMode();
    m_rbAll->setChecked(mode == db::LinkFilterMode::AllUrl);
    m_rbCat->setChecked(mode == db::LinkFilterMode::Cat);
    m_rbSite->setChecked(mode == db::LinkFilterMode::UrlSite);
}

void LinksPane::pumLinkPopup() {
    const int mode = int(m_ctx.rules.linkFilterMode());
    for (int i = 0; i < 3; ++i)
        m_fl[i]->setChecked(i == mode);
}

void LinksPane::ShowAccountData() {
    if (db::accountDataFrozen(m_ctx.db)) return;
    const db::AccountData a = db::accountDataFor(m_ctx.db);
    m_login->setText(a.login);
    m_password->setText(a.password);
    m_email->setText(a.email);
}

void LinksPane::sbLinkOutClick() {
    RunURL(m_ctx.db.tbLink.asString(QStringLiteral("PageURL")));
}

void LinksPane::SpeedButton2Click() {
    m_filterBox->setVisible(!m_filterBox->isVisible());
}

void LinksPane::SpeedButton10Click() {
    ShellExec(m_ctx.db.tbLink.asString(QStringLiteral("AFN")));
}

void LinksPane::sbArtFNClick() {
    db::Table& t = m_ctx.db.tbLink;
    if (t.currentPos() < 0 || t.isNull(QStringLiteral("ID"))) return;
    QString file;
    if (!m_ctx.ui.chooseOpenFile(QStringLiteral("*.*"), file) || file.isEmpty()) return;
    t.edit();
    if (t.setValue(QStringLiteral("AFN"), file))
        t.post();
    else
        t.cancel();
}

void LinksPane::copyToClipboard(QLineEdit* edit) {
    edit->selectAll();
    QApplication::clipboard()->setText(edit->selectedText());
}

void LinksPane::buildCheckBar(QWidget* page) {
    m_checkBar = new QFrame(page);
    m_checkBar->setObjectName(QStringLiteral("pCheckBar"));
    m_checkBar->setStyleSheet(QStringLiteral("#pCheckBar { background: rgb(255, 236, 200); }"));
    auto* row = new QHBoxLayout(m_checkBar);
    row->setContentsMargins(6, 2, 6, 2);
    m_lCheckBar = new QLabel(m_checkBar);
    m_lCheckBar->setObjectName(QStringLiteral("lCheckBar"));
    row->addWidget(m_lCheckBar, 1);
    auto button = [this, row](const QString& name, const QString& caption) {
        auto* b = new QPushButton(caption, m_checkBar);
        b->setObjectName(name);
        b->setFlat(true);
        row->addWidget(b);
        return b;
    };
    QPushButton* show = button(QStringLiteral("bCheckBarShow"), QStringLiteral("Показать"));
    QPushButton* check = button(QStringLiteral("bCheckBarCheck"), QStringLiteral("Проверить сейчас"));
    QPushButton* hide = button(QStringLiteral("bCheckBarHide"), QStringLiteral("Скрыть"));
    m_bCheckBarShow = show;
    m_bCheckBarCheck = check;
    connect(show, &QPushButton::clicked, this, &LinksPane::bCheckBarShowClick);
    connect(check, &QPushButton::clicked, this, &LinksPane::bCheckBarCheckClick);
    connect(hide, &QPushButton::clicked, m_checkBar, &QWidget::hide);
    m_checkBar->hide();
}

void LinksPane::startWatch(const QString& baseDir) {
    m_baseDir = baseDir;
    showCheckBar(cli::takeWatchNote(m_ctx.db, QDateTime::currentDateTime()));
    // A scheduled check that finds the window open leaves a file beside the tables and ends.
    m_skipWatch = new QFileSystemWatcher(QStringList{baseDir}, this);
    connect(m_skipWatch, &QFileSystemWatcher::directoryChanged, this, &LinksPane::takeSkippedCheck);
    takeSkippedCheck();
}

void LinksPane::takeSkippedCheck() {
    if (m_baseDir.isEmpty() || !QFile::remove(cli::skippedCheckFile(m_baseDir))) return;
    cli::WatchNote note = m_checkBar->isVisible() ? m_note : cli::WatchNote();
    const QString skipped = QStringLiteral("Проверка по расписанию не выполнена: программа была открыта");
    if (!note.text.contains(skipped))
        note.text = note.text.isEmpty() ? skipped : note.text + QStringLiteral(". ") + skipped;
    note.offerCheck = true;
    showCheckBar(note);
}

void LinksPane::showCheckBar(const cli::WatchNote& note) {
    m_note = note;
    m_lCheckBar->setText(note.text);
    m_bCheckBarShow->setVisible(note.offerShow);
    m_bCheckBarCheck->setVisible(note.offerCheck);
    m_checkBar->setVisible(!note.text.isEmpty());
}

void LinksPane::bCheckBarShowClick() {
    // Across projects: the project's filter goes; exactly the pages the bar counted are listed.
    m_ctx.db.tbLink.setFilter(QString());
    m_ctx.db.tbLink.setFiltered(true);
    m_ctx.rules.setListedPages(m_note.pages);
}

void LinksPane::bCheckBarCheckClick() {
    if (m_ctx.db.runGoing) return; // the run in hand says so when asked again
    m_checkBar->hide();
    m_ctx.rules.setCheckFilter(db::CheckFilter::None);
    // Every project's pages are checked; afterwards the list shows the current project's again.
    m_ctx.db.tbLink.setFiltered(false);
    emit commandRequested(QStringLiteral("CheckAllPageLink"));
    m_ctx.rules.SetLinkFilter();
}

std::vector<int> LinksPane::selectedLinkIds() const {
    const db::Table& t = m_ctx.db.tbLink;
    const int idField = t.fieldIndex(QStringLiteral("ID"));
    std::vector<int> ids;
    for (const int pos : m_grid->selectedPositions()) {
        const QVariant id = t.valueAt(pos, idField);
        if (id.isValid()) ids.push_back(id.toInt());
    }
    return ids;
}

void LinksPane::deleteSelectedLinks() {
    const std::vector<int> ids = selectedLinkIds();
    if (ids.empty() || m_ctx.db.tbLink.controlsDisabled()) return;
    if (!m_ctx.ui.askYesNo(QStringLiteral("Удалить выбранные записи (%1)?").arg(ids.size()),
                           QStringLiteral("Удаление")))
        return;
    m_removed = db::deleteLinks(m_ctx.db, ids);
    m_ctx.rules.SetLinkFilter();
    m_undoDelete->setText(QStringLiteral("Отменить удаление (%1)").arg(m_removed.links.size()));
    m_undoDelete->setVisible(!m_removed.empty());
}

void LinksPane::undoDelete() {
    if (m_removed.empty() || m_ctx.db.refuseDuringRun()) return;
    if (!db::restoreLinks(m_ctx.db, m_removed)) {
        Msg(m_ctx.ui,
            QStringLiteral("Удаление отменить нельзя: номера удаленных записей уже заняты новыми."));
    }
    m_removed = {};
    m_undoDelete->setVisible(false);
    m_ctx.rules.SetLinkFilter();
}

void LinksPane::offerUndoImport(std::vector<int> ids) {
    m_imported = std::move(ids);
    m_undoImport->setText(QStringLiteral("Отменить импорт (%1)").arg(m_imported.size()));
    m_undoImport->setVisible(!m_imported.empty());
}

void LinksPane::undoImport() {
    if (m_imported.empty() || m_ctx.db.refuseDuringRun()) return;
    // The whole import goes in one transaction; what it added is not asked about record by record.
    db::deleteLinks(m_ctx.db, m_imported);
    m_imported.clear();
    m_undoImport->setVisible(false);
    m_ctx.rules.SetLinkFilter();
}

} // namespace zentaro::app

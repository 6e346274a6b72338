// The main window: builds the frame, composes the panes, runs the commands they ask for and the
// start and closing sequences.
#include "app/main_form.h"

#include <QApplication>
#include <QScopeGuard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "app/accounts_pane.h"
#include "app/categories_pane.h"
#include "widgets/field_binding.h"
#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "app/links_pane.h"
#include "app/projects_pane.h"
#include "app/report_pane.h"
#include "app/settings_pane.h"
#include "app/sites_pane.h"
#include "app/split_panel.h"
#include "app/widget_ui.h"
#include "app/window_place.h"
#include "cli/check_report.h"
#include "db/base_files.h"
#include "db/link_removal.h"
#include "db/site_view.h"
#include "util/shell.h"
#include "dialogs/import_dialog.h"
#include "exchange/list_export.h"
#include "exchange/list_import.h"
#include "util/text_file.h"
#include "web/batch_run.h"
#include "web/ext_links.h"
#include "web/index_check.h"
#include "web/link_presence.h"
#include "web/page_fetcher.h"
#include "web/site_metrics.h"
#include "db/database.h"
#include "db/record_rules.h"
#include "db/session.h"
#include "db/settings.h"
#include "util/user_interface.h"

namespace zentaro::app {

namespace {

const QString kCatLinks = QStringLiteral("Категории ссылок проекта");
const QString kCatSites = QStringLiteral("Категории трастовых сайтов");
// Settings row: the window was maximised when it closed.
const QString kMaximizedKey = QStringLiteral("Window.Maximized");
// The status line when nothing goes on and nothing is pointed at.
const QString kIdleText = QStringLiteral("Готово");

struct PageSpec {
    const char* name;
    const char* caption;
    const char* icon = nullptr; // a theme icon, with the fallback where the theme has none
    QStyle::StandardPixmap fallback = QStyle::SP_CustomBase;
};

// Adds the pages to the tabs; returns them in the same order.
std::vector<QWidget*> pages(QTabWidget* tabs, std::initializer_list<PageSpec> specs) {
    std::vector<QWidget*> out;
    for (const PageSpec& p : specs) {
        auto* w = new QWidget(tabs);
        w->setObjectName(QLatin1String(p.name));
        tabs->addTab(w, p.icon ? themeIcon(p.icon, p.fallback) : QIcon(), QString::fromUtf8(p.caption));
        out.push_back(w);
    }
    return out;
}

QTabWidget* pageControl(QWidget* parent, const QString& name,
                        QTabWidget::TabPosition pos = QTabWidget::North) {
    auto* tabs = new QTabWidget(parent);
    tabs->setObjectName(name);
    tabs->setTabPosition(pos);
    tabs->setDocumentMode(true);
    return tabs;
}

void fill(QWidget* parent, QWidget* child) {
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(child);
}

// The work panel as batch runs see it: the progress bar 0 to 100, the stop button, and the run's own
// progress in the status line (hints wait until the run is over).
class WorkPanel final : public web::RunPanel {
public:
    WorkPanel(QProgressBar* pb, QPushButton* stop, QLabel* text, bool& running)
        : m_pb(pb), m_stop(stop), m_text(text), m_running(running) {}
    void showRun(bool on) override {
        m_running = on;
        m_pb->setRange(0, 100);
        m_pb->setValue(0);
        m_pb->setVisible(on);
        m_stop->setVisible(on);
        if (on) {
            m_summarised = false;
            setProgress(0);
        } else if (!m_summarised) {
            // The progress of a finished operation would read as if it were still going.
            m_text->setText(kIdleText);
        }
    }
    void setProgress(int percent) override {
        m_pb->setValue(percent);
        m_text->setText(QStringLiteral("Выполнено: %1 %").arg(percent));
    }
    void processEvents() override { QApplication::processEvents(); }
    void showSummary(const QString& text) override {
        m_summarised = true;
        const QString tail = summaryTail ? summaryTail() : QString();
        m_text->setText(tail.isEmpty() ? text : text + QStringLiteral(". ") + tail);
    }
    // Added to the run's counts in the status line (the money lost by a presence run).
    std::function<QString()> summaryTail;

private:
    bool m_summarised = false;
    QProgressBar* m_pb;
    QPushButton* m_stop;
    QLabel* m_text;
    bool& m_running;
};

// The voice of a presence run: its closing message also says what it lost and what it could not read.
class LossNoteUi final : public UserInterface {
public:
    LossNoteUi(UserInterface& ui, std::function<QString()> note) : m_ui(ui), m_note(std::move(note)) {}
    void showMessage(const QString& text, const QString& caption) override {
        const QString note = m_note();
        m_ui.showMessage(note.isEmpty() ? text : text + QStringLiteral("\n\n") + note, caption);
    }
    void showError(const QString& text, const QString& caption) override { m_ui.showError(text, caption); }
    bool askYesNo(const QString& text, const QString& caption) override {
        return m_ui.askYesNo(text, caption);
    }
    bool inputQuery(const QString& caption, const QString& prompt, QString& value) override {
        return m_ui.inputQuery(caption, prompt, value);
    }
    bool chooseOpenFile(const QString& preset, QString& fileName) override {
        return m_ui.chooseOpenFile(preset, fileName);
    }
    bool chooseFolder(const QString& startDir, QString& folder) override {
        return m_ui.chooseFolder(startDir, folder);
    }
    bool chooseSaveFile(const QString& preset, QString& fileName) override {
        return m_ui.chooseSaveFile(preset, fileName);
    }
    QString ShowCaptcha(const QString& imageFile, bool& cancelled) override {
        return m_ui.ShowCaptcha(imageFile, cancelled);
    }

private:
    UserInterface& m_ui;
    std::function<QString()> m_note;
};

QSplitter* splitter(Qt::Orientation o, const QString& name, QWidget* parent) {
    auto* s = new QSplitter(o, parent);
    s->setObjectName(name);
    s->setHandleWidth(4);
    s->setChildrenCollapsible(true);
    return s;
}

} // namespace

TMainForm::TMainForm(db::Database& db, db::Session& session, UserInterface& ui, const QString& programDir,
                     QWidget* parent)
    : QMainWindow(parent), m_db(db), m_session(session), m_ui(ui), m_programDir(programDir),
      m_stderrUi(std::make_unique<StderrUi>()), m_rules(std::make_unique<db::RecordRules>(db, ui)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kMainCaption);
    m_appHint = new AppHint(this);
    m_fetcher = new web::PageFetcher(this);
    m_fetcher->cancel = &m_abandon;
    buildFrame();
    connect(&m_db, &db::Database::refusedDuringRun, this, [this] {
        m_psbText->setText(QStringLiteral("Идет проверка или импорт: дождитесь окончания или нажмите "
                                          "\"Остановить\"."));
    });
    m_runPanel = std::make_unique<WorkPanel>(m_pb, m_bUStop, m_psbText, m_running);
    // A typed value that was not stored says why in the status line.
    for (DataGrid* grid : findChildren<DataGrid*>())
        connect(grid, &DataGrid::inputRefused, m_psbText, &QLabel::setText);
    for (FieldBinding* binding : findChildren<FieldBinding*>())
        connect(binding, &FieldBinding::refused, m_psbText, &QLabel::setText);
    resize(1180, 680);
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(m_appHint);
    // The panes' bindings go before the rules that feed them.
    delete centralWidget();
}

void TMainForm::buildFrame() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_pcMain = pageControl(central, QStringLiteral("pcMain"));
    const std::vector<QWidget*> main =
        pages(m_pcMain, {{"tbTrust", "Продвижение", "go-up", QStyle::SP_ArrowUp},
                         {"tsReport", "Отчеты", "x-office-presentation", QStyle::SP_FileDialogInfoView},
                         {"tsOption", "Настройки", "preferences-system", QStyle::SP_FileDialogDetailedView},
                         {"tsHelp", "Справка", "help-browser", QStyle::SP_DialogHelpButton}});
    QWidget *trust = main[0], *report = main[1], *option = main[2], *help = main[3];
    layout->addWidget(m_pcMain, 1);

    auto* psb = new QFrame(central);
    psb->setObjectName(QStringLiteral("psb"));
    psb->setFixedHeight(25);
    psb->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    psb->setAutoFillBackground(true);
    QPalette pal = psb->palette();
    pal.setColor(QPalette::Window, Qt::white);
    psb->setPalette(pal);
    auto* pl = new QHBoxLayout(psb);
    pl->setContentsMargins(4, 1, 1, 1);
    m_bUStop = new QPushButton(QStringLiteral("Остановить"), psb);
    m_bUStop->setObjectName(QStringLiteral("bUStop"));
    m_bUStop->setFixedWidth(112);
    m_bUStop->hide();
    connect(m_bUStop, &QPushButton::clicked, this, [this] { m_db.isStop = true; }); // bUStopClick
    m_pb = new QProgressBar(psb);
    m_pb->setObjectName(QStringLiteral("pb"));
    m_pb->setRange(0, 0);
    m_pb->hide();
    m_psbText = new QLabel(kIdleText, psb);
    m_psbText->setObjectName(QStringLiteral("psbText"));
    pl->addWidget(m_bUStop);
    pl->addWidget(m_pb, 1);
    pl->addWidget(m_psbText, 1);
    layout->addWidget(psb);
    setCentralWidget(central);

    // The working area: projects and categories on the left, links, sites and accounts on the right.
    auto* s1 = splitter(Qt::Horizontal, QStringLiteral("Splitter1"), trust);
    fill(trust, s1);
    s1->addWidget(buildProjectColumn(s1));
    m_pcTrust = pageControl(s1, QStringLiteral("pcTrust"));
    const std::vector<QWidget*> work =
        pages(m_pcTrust, {{"tsSiteLink", "Ссылки на проект", "insert-link", QStyle::SP_FileLinkIcon},
                          {"tsSiteBase", "Трастовые сайты", "network-server", QStyle::SP_DriveNetIcon},
                          {"tsAccount", "Аккаунты", "system-users", QStyle::SP_DirHomeIcon}});
    QWidget *siteLink = work[0], *siteBase = work[1], *account = work[2];
    m_pcTrust->setMinimumWidth(30);
    s1->addWidget(m_pcTrust);
    s1->setStretchFactor(1, 1);
    s1->setSizes({330, 850});

    m_pcLink = pageControl(siteLink, QStringLiteral("pcLink"));
    fill(siteLink, m_pcLink);
    const std::vector<QWidget*> link = pages(m_pcLink, {{"TabSheet3", "Список"}, {"tsLinkMore", "Свойства"}});
    m_pcTSite = pageControl(siteBase, QStringLiteral("pcTSite"));
    fill(siteBase, m_pcTSite);
    const std::vector<QWidget*> site =
        pages(m_pcTSite, {{"tsTSiteList", "Список"}, {"tsTSiteMore", "Свойства"}});
    const PaneContext ctx{m_db, *m_rules, m_ui};
    m_accounts = new AccountsPane(ctx, account);
    m_links = new LinksPane(ctx, link[0], link[1]);
    m_sites = new SitesPane(ctx, site[0], site[1]);
    connect(m_links, &LinksPane::showAccountsRequested, this, [this] { m_pcTrust->setCurrentIndex(2); });
    connect(m_links, &LinksPane::commandRequested, this, qOverload<const QString&>(&TMainForm::runCommand));
    connect(m_sites, &SitesPane::commandRequested, this, qOverload<Command>(&TMainForm::runCommand));
    connect(m_sites, &SitesPane::linkHereRequested, this, &TMainForm::LinkHere);

    m_reports = new ReportPane(PaneContext{m_db, *m_rules, m_ui}, report);
    m_settings = new SettingsPane(PaneContext{m_db, *m_rules, m_ui}, option, m_session.baseDir());
    m_groupBox7 = m_settings->groupBox7();
    m_gbImport = m_settings->gbImport();
    m_groupBox7->installEventFilter(this);
    connect(m_settings, &SettingsPane::restored, this, [this] {
        m_db.tbSite.first();
        m_db.tbProject.first();
        emit m_rules->accountDataChanged();
    });
    // The remembered layout and options, and the reserve copy at closing.
    const db::OptionAccess options = m_settings->optionAccess(this);
    m_session.applySettings = [this, options] { db::SetPrgOptions(m_db.tbSets, options); };
    m_session.storeSettings = [this, options] {
        db::SaveAllOptions(m_db.tbSets, options);
        // The normal size is kept above; whether the window was maximised is kept beside it.
        db::SetOption(m_db.tbSets, kMaximizedKey, QString(), isMaximized() ? 1 : 0);
    };
    m_session.runReserveCopy = [this] { m_settings->runAtClosing(); };
    m_session.exportAll = [this] { m_settings->exportAtClosing(); };
    m_wb = new QTextBrowser(help);
    m_wb->setObjectName(QStringLiteral("wb"));
    m_wb->setOpenExternalLinks(true);
    fill(help, m_wb);

    // The reactions follow the current tab, however it changed (mouse or keyboard).
    connect(m_pcMain, &QTabWidget::currentChanged, this, &TMainForm::pcMainChange);
    connect(m_pcTrust, &QTabWidget::currentChanged, this, [this](int index) {
        m_rules->setSiteLinkPageShown(index == 0);
        pcTrustChange();
    });
    m_rules->setSiteLinkPageShown(true);
    connect(m_pcCat, &QTabWidget::currentChanged, this, &TMainForm::pcCatChange);
    connect(m_appHint, &AppHint::hintChanged, this, &TMainForm::appHintChanged);
}

QWidget* TMainForm::buildProjectColumn(QWidget* parent) {
    auto* pProject = new QFrame(parent);
    pProject->setObjectName(QStringLiteral("pProject"));
    pProject->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pProject->setMinimumWidth(30);
    new SplitPanel(pProject, 330, 120, 200);
    auto* layout = new QVBoxLayout(pProject);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(headerStrip(pProject, QStringLiteral("pTop1"), QStringLiteral("Panel3"),
                                  QStringLiteral("Продавигаемые проекты"))
                          ->parentWidget());
    auto* s2 = splitter(Qt::Vertical, QStringLiteral("Splitter2"), pProject);
    layout->addWidget(s2, 1);

    m_pcProject = pageControl(s2, QStringLiteral("pcProject"), QTabWidget::South);
    m_pcProject->setMinimumHeight(30);
    const std::vector<QWidget*> project =
        pages(m_pcProject, {{"tsProject", "Проект"}, {"tsPInfo", "Свойства"}});
    s2->addWidget(m_pcProject);

    auto* pCat = new QFrame(s2);
    pCat->setObjectName(QStringLiteral("pCat"));
    pCat->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pCat->setMinimumHeight(30);
    new SplitPanel(pCat, std::nullopt, 60, 60);
    auto* cl = new QVBoxLayout(pCat);
    cl->setContentsMargins(1, 1, 1, 1);
    cl->setSpacing(0);
    m_pCat2 = headerStrip(pCat, QStringLiteral("Panel5"), QStringLiteral("pCat2"), kCatLinks);
    cl->addWidget(m_pCat2->parentWidget());
    m_pcCat = pageControl(pCat, QStringLiteral("pcCat"), QTabWidget::South);
    const std::vector<QWidget*> cat = pages(m_pcCat, {{"tsCat2", "Ссылки"}, {"tsCat1", "Сайты"}});
    cl->addWidget(m_pcCat, 1);
    s2->addWidget(pCat);
    s2->setStretchFactor(1, 1);
    s2->setSizes({323, 300});

    const PaneContext ctx{m_db, *m_rules, m_ui};
    m_projects = new ProjectsPane(ctx, project[0], project[1]);
    connect(m_projects, &ProjectsPane::prcyProjectUpdateRequested, this,
            [this] { runCommand(Command::projectPrcy); });
    m_categories = new CategoriesPane(ctx, cat[0], cat[1]);
    return pProject;
}

void TMainForm::FormCreate() {
    qApp->installEventFilter(m_appHint);
    for (QTabWidget* tabs : {m_pcMain, m_pcTrust, m_pcProject, m_pcTSite, m_pcLink, m_pcCat})
        tabs->setCurrentIndex(0);
    pcCatChange();
    // Every change is written as it happens; a write that fails is said once, the closing says it again.
    connect(&m_db.store, &db::Store::writeFailed, this, [this](const QString& err) {
        (m_quietClose ? *m_stderrUi : m_ui)
            .showError(QStringLiteral("Не удалось сохранить изменения: ") + err, QStringLiteral("Ошибка"));
    });
    m_session.start();
    // Placed once the remembered size is known, so that the whole window is on its screen.
    placeOnScreen(this);
    {
        QString text;
        int maximized = 0;
        if (db::GetOption(m_db.tbSets, kMaximizedKey, text, maximized) && maximized == 1)
            setWindowState(windowState() | Qt::WindowMaximized);
    }
    web::applyFetchSettings(*m_fetcher, m_db.tbSets);
    // The accounts load after the links: show the current link's account now that both are there.
    emit m_rules->accountDataChanged();
    if (!m_db.BaseLoadError && !m_session.readOnly()) m_links->startWatch(m_session.baseDir());
}

void TMainForm::pcMainChange() {
    if (m_pcMain->currentWidget()->objectName() != QLatin1String("tsHelp")) return;
    // Every selection of the help tab loads the page anew.
    const QUrl url = QUrl::fromLocalFile(db::helpFile(m_programDir));
    if (m_wb->source() == url)
        m_wb->reload();
    else
        m_wb->setSource(url);
}

void TMainForm::pcTrustChange() {
    const QString name = m_pcTrust->currentWidget()->objectName();
    if (name == QLatin1String("tsSiteLink")) {
        emit m_rules->accountDataChanged();
        m_pCat2->setText(kCatLinks);
        m_pcCat->setCurrentIndex(0);
    } else if (name == QLatin1String("tsSiteBase")) {
        m_pCat2->setText(kCatSites);
        m_pcCat->setCurrentIndex(1);
    }
}

void TMainForm::LinkHere() {
    if (m_db.refuseDuringRun()) return;
    switch (db::canLinkHere(m_db)) {
    case db::LinkHereResult::NoSite:
        return;
    case db::LinkHereResult::NoProject:
        Msg(m_ui, QStringLiteral("Выберите проект, для которого размещается ссылка."));
        return;
    case db::LinkHereResult::Done:
        break;
    }
    const QString address = db::trustSiteAddress(m_db);
    m_pcTrust->setCurrentIndex(0);
    m_pcLink->setCurrentIndex(1);
    m_pcCat->setCurrentIndex(0);
    db::insertLinkHere(m_db);
    RunURL(address);
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void TMainForm::runCommand(const QString& operation) {
    if (const std::optional<Command> command = commandNamed(operation)) return runCommand(*command);
    if (m_db.refuseDuringRun()) return;
    const auto closeLater = qScopeGuard([this] { closeAfterRun(); });
    commandNotAvailable();
}

void TMainForm::runCommand(Command command) {
    // One run at a time: a second one, or a check of the record a run holds, waits for it.
    if (m_db.refuseDuringRun()) return;
    const auto closeLater = qScopeGuard([this] { closeAfterRun(); });
    // Batch runs keep the window working between records and leave the cursor alone.
    // Their counts stand in the status bar beside the closing message.
    web::RunTally tally;
    switch (command) {
    case Command::checkAllPageLink: {
        // What this run lost, and what it could not read, as the bar and the command line count them.
        const cli::LossSnapshot before = cli::snapshotLosses(m_db);
        const QDateTime started = QDateTime::currentDateTime();
        const auto note = [this, &before, started] {
            return cli::noticeText(cli::lossesSince(m_db, started, &before));
        };
        auto* panel = static_cast<WorkPanel*>(m_runPanel.get());
        panel->summaryTail = [note] { return QString(note()).replace(u'\n', QStringLiteral(". ")); };
        const auto untie = qScopeGuard([panel] { panel->summaryTail = nullptr; });
        LossNoteUi ui(m_ui, note);
        return web::CheckAllPageLink(m_db, *m_fetcher, ui, *m_runPanel, &tally);
    }
    case Command::checkExtLinksAll:
        return web::CheckExtLinks(m_db, *m_fetcher, m_ui, *m_runPanel, false, &tally);
    case Command::checkExtLinksNew:
        return web::CheckExtLinks(m_db, *m_fetcher, m_ui, *m_runPanel, true, &tally);
    case Command::updateSitePrcyAll:
        return web::UpdateSitePRCY(m_db, *m_fetcher, m_ui, *m_runPanel, 0, &tally);
    case Command::updateSitePrcyNew:
        return web::UpdateSitePRCY(m_db, *m_fetcher, m_ui, *m_runPanel, 1, &tally);
    case Command::exportLinks:
        return exchange::N18Click(m_db, m_ui, m_programDir);
    case Command::exportSites:
        return exchange::N19Click(m_db, m_ui, m_programDir);
    case Command::importLinks:
        return importList(0);
    case Command::importSites:
        return importList(1);
    case Command::addSiteAnchors:
        return (void)web::addSiteAnchorsToPagesWithoutAnchors(m_db, m_ui);
    case Command::checkPageLink:
    case Command::extLinksOfPage:
    case Command::linkPrcy:
    case Command::sitePrcy:
    case Command::projectPrcy:
    case Command::pageIndex:
    case Command::allPagesIndex:
        break;
    }
    // Web requests block the window; the wait cursor says so (message boxes get the normal one).
    QApplication::setOverrideCursor(Qt::WaitCursor);
    web::IndexContext index{*m_fetcher, m_ui, captchaImagePath(), {}};
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    switch (command) {
    case Command::checkPageLink:
        return web::SpeedButton3Click(m_db, *m_fetcher, m_ui);
    case Command::extLinksOfPage:
        return web::sbExtLinksClick(m_db, *m_fetcher, m_ui);
    case Command::linkPrcy:
        return web::UpDateLinkPRCY(m_db, *m_fetcher, m_ui, 1);
    case Command::sitePrcy:
        return web::UpDatePRCY(m_db, *m_fetcher, m_ui, 0);
    case Command::projectPrcy:
        return web::sbPRCYProjectUpdateClick(m_db, *m_fetcher, m_ui);
    case Command::pageIndex:
        return web::sbPageCheckIndexClick(m_db, index);
    case Command::allPagesIndex:
        return web::mnCheckLinkAllClick(m_db, index);
    default:
        return;
    }
}

void TMainForm::importList(int GlobalCallMode) {
    std::optional<exchange::ImportChoice> choice;
    if (runDlgImport) {
        choice = runDlgImport(GlobalCallMode);
    } else {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        dialogs::TfmImport dialog(GlobalCallMode, GlobalCallMode == 0 ? m_db.tbCat2 : m_db.tbCat, m_ui,
                                  m_programDir, this);
        QApplication::restoreOverrideCursor();
        dialog.exec();
        choice = dialog.choice();
    }
    if (!choice || choice->fileName.isEmpty()) return;
    QString error;
    const std::optional<QStringList> lines = readTextFile(choice->fileName, &error);
    if (!lines) {
        m_ui.showError(error, QStringLiteral("Ошибка"));
        return;
    }
    exchange::ImportReport report;
    const int highest = db::highestLinkId(m_db);
    m_importing = true;
    const auto imported = qScopeGuard([this] { m_importing = false; });
    if (GlobalCallMode == 0)
        exchange::ImportLinks(m_db, *lines, *choice, *m_runPanel, &report);
    else
        exchange::ImportSite(m_db, *lines, &report);
    if (m_closeAfterRun) return; // the window is closing: no box any more
    if (GlobalCallMode == 0 && report.added > 0) {
        m_links->offerUndoImport(db::linksAbove(m_db, highest));
        m_psbText->setText(QStringLiteral("Импорт можно отменить целиком: «Команды» → «Отменить импорт»"));
    }
    Msg(m_ui, exchange::importSummary(report));
}

QString TMainForm::captchaImagePath() const {
    // An installed program cannot write into its folder: the image then goes beside the data.
    const QFileInfo program(m_programDir);
    return (program.isWritable() ? m_programDir : m_session.baseDir()) + QStringLiteral("yandex.gif");
}

void TMainForm::commandNotAvailable() {
    Msg(m_ui, QStringLiteral("Эта команда пока недоступна."));
}

void TMainForm::pcCatChange() {
    m_pCat2->setText(m_pcCat->currentIndex() == 0 ? kCatLinks : kCatSites);
}

void TMainForm::appHintChanged(const QString& text) {
    if (m_running) return;
    m_psbText->setText(text);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_groupBox7 && event->type() == QEvent::MouseButtonDblClick) m_gbImport->show();
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeWithoutQuestions() {
    if (m_closedForGood) return;
    m_quietClose = true;
    m_settings->setClosingUi(m_stderrUi.get());
    // A question or message in hand is dismissed (a question so answered is a No): the operation that asked
    // ends without its change.
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (m_db.runGoing) return stopRunForClosing();
    if (m_db.store.inChange()) {
        QTimer::singleShot(20, this, &TMainForm::closeWithoutQuestions);
        return;
    }
    close();
}

bool TMainForm::storeAndLeave() {
    m_quietClose = true;
    m_settings->setClosingUi(m_stderrUi.get());
    m_db.isStop = true;
    m_abandon = true;
    commitTypedText();
    QString error;
    const bool ok = m_session.close(&error);
    if (!ok) m_stderrUi->showError(error, QStringLiteral("Ошибка"));
    m_closedForGood = true;
    return ok;
}

void TMainForm::commitTypedText() {
    if (auto* edit = qobject_cast<QLineEdit*>(focusWidget()))
        if (auto* binding = edit->findChild<FieldBinding*>(QString(), Qt::FindDirectChildrenOnly))
            binding->commitPending();
    for (DataGrid* grid : findChildren<DataGrid*>())
        grid->commitOpenEditor();
}

void TMainForm::stopRunForClosing() {
    m_db.isStop = true;
    m_abandon = true;
    m_closeAfterRun = true;
}

void TMainForm::closeAfterRun() {
    if (!m_closeAfterRun || m_closedForGood) return;
    QTimer::singleShot(0, this, [this] {
        if (m_quietClose)
            closeWithoutQuestions();
        else
            close();
    });
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (m_closedForGood) {
        event->accept();
        return;
    }
    // What the user sees typed is what is stored.
    commitTypedText();
    if (m_db.runGoing) {
        // The user is asked first (a closing by signal is not); No lets the run go on.
        if (!m_quietClose && !m_closeAfterRun &&
            !m_ui.askYesNo(m_importing ? QStringLiteral("Идёт импорт. Прервать его и выйти?")
                                       : QStringLiteral("Идёт проверка. Прервать её и выйти?"),
                           kMainCaption)) {
            event->ignore();
            return;
        }
        // The run returns after the record in hand; the window closes then, with its results stored.
        stopRunForClosing();
        event->ignore();
        return;
    }
    QString error;
    if (m_session.close(&error) || m_quietClose) {
        m_closedForGood = true;
        event->accept();
        emit closed();
        return;
    }
    m_ui.showError(error, QStringLiteral("Ошибка"));
    // The user may still leave, knowingly losing the unsaved changes; by default the window stays open.
    if (m_ui.askYesNo(QStringLiteral("Данные не сохранены. Выйти без сохранения?"),
                      QStringLiteral("Ошибка"))) {
        event->accept();
        return;
    }
    // The window stays: later runs work again.
    event->ignore();
    m_abandon = false;
    m_closeAfterRun = false;
}

} // namespace zentaro::app

// The projects pane: the project list and the properties of the current project.
#include "app/projects_pane.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "widgets/field_binding.h"
#include "widgets/hints.h"
#include "widgets/icons.h"
#include "widgets/navigator_bar.h"
#include "db/database.h"
#include "util/shell.h"

namespace zentaro::app {

namespace {

QLineEdit* boundEdit(db::Table& t, const QString& field, const QString& name, QWidget* parent,
                     const QColor& color = {}) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    if (color.isValid()) e->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
    new FieldBinding(t, field, e);
    return e;
}

} // namespace

ProjectsPane::ProjectsPane(const PaneContext& ctx, QWidget* listPage, QWidget* infoPage)
    : QObject(listPage), m_ctx(ctx) {
    db::Table& t = ctx.db.tbProject;
    {
        QVBoxLayout* layout = listColumn(ctx, listPage, t,
                                         {QStringLiteral("Panel2"), QStringLiteral("DBNavigator1"),
                                          QStringLiteral("sbProjectFind"), QStringLiteral("Name"),
                                          QStringLiteral("Название проекта:")});
        m_grid = app::grid(ctx, listPage, QStringLiteral("grdProject"), t,
                           {{QStringLiteral("ID"), QStringLiteral("#"), 37},
                            {QStringLiteral("Name"), QStringLiteral("Название"), 236}});
        // A first start shows what to do first instead of an empty grid.
        m_grid->emptyText = [] {
            return QStringLiteral("Добавьте проект: кнопка «Добавить» (+) на панели над списком, затем "
                                  "впишите название сайта, который продвигаете.");
        };
        layout->addWidget(m_grid);
    }
    {
        auto* layout = new QVBoxLayout(infoPage);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(2);
        auto* strip = new QFrame(infoPage);
        strip->setFixedHeight(25);
        auto* sl = new QHBoxLayout(strip);
        sl->setContentsMargins(4, 0, 0, 0);
        m_ppInfo = new QLabel(strip);
        m_ppInfo->setObjectName(QStringLiteral("ppInfo"));
        m_ppInfo->setStyleSheet(QStringLiteral("color: purple;"));
        sl->addWidget(m_ppInfo, 1);
        auto* nav = new NavigatorBar(QStringLiteral("DBNavigator2"), t,
                                     {db::NavButton::Prior, db::NavButton::Next, db::NavButton::Post}, strip);
        nav->setFixedWidth(80);
        nav->beforeAction = [&rules = ctx.rules](const QString& n, db::NavButton b) {
            return rules.DBNavigator1BeforeAction(n, b);
        };
        sl->addWidget(nav);
        layout->addWidget(strip);

        auto* panel = new QFrame(infoPage);
        panel->setObjectName(QStringLiteral("Panel1"));
        panel->setFixedHeight(118);
        auto* g = new QGridLayout(panel);
        g->addWidget(new QLabel(QStringLiteral("Сайт проекта:"), panel), 0, 0);
        m_site = boundEdit(t, QStringLiteral("Site"), QStringLiteral("eProjectSite"), panel);
        m_site->installEventFilter(this);
        g->addWidget(m_site, 0, 1, 1, 5);
        g->addWidget(new QLabel(QStringLiteral("ТИЦ/PR cайта:"), panel), 1, 0);
        QLineEdit* tic = boundEdit(t, QStringLiteral("TIC"), QStringLiteral("eProjectTIC"), panel, Qt::red);
        tic->setMaximumWidth(60);
        g->addWidget(tic, 1, 1);
        g->addWidget(new QLabel(QStringLiteral("/"), panel), 1, 2);
        QLineEdit* pr = boundEdit(t, QStringLiteral("PR"), QStringLiteral("eProjectPR"), panel, Qt::darkCyan);
        pr->setMaximumWidth(40);
        g->addWidget(pr, 1, 3);
        auto* buttons = new QHBoxLayout;
        auto* update = new QToolButton(panel);
        update->setObjectName(QStringLiteral("sbPRCYProjectUpdate"));
        update->setAutoRaise(true);
        update->setIcon(themeIcon("view-refresh", QStyle::SP_BrowserReload));
        setHint(update, QStringLiteral("Обновить тИЦ и PR сайта"));
        connect(update, &QToolButton::clicked, this, &ProjectsPane::sbPRCYProjectUpdateClick);
        auto* open = new QToolButton(panel);
        open->setObjectName(QStringLiteral("sbOpenProjectSite"));
        open->setAutoRaise(true);
        open->setIcon(themeIcon("internet-web-browser", QStyle::SP_DirOpenIcon));
        setHint(open, QStringLiteral("Открыть сайт"));
        connect(open, &QToolButton::clicked, this, &ProjectsPane::sbOpenProjectSiteClick);
        buttons->addWidget(update);
        buttons->addWidget(open);
        buttons->addStretch();
        g->addLayout(buttons, 1, 4, 1, 2);
        g->addWidget(new QLabel(QStringLiteral("Дата добавления:"), panel), 2, 0);
        QLineEdit* date = boundEdit(t, QStringLiteral("DateAdd"), QStringLiteral("eProjectDateAdd"), panel);
        date->setMaximumWidth(100);
        g->addWidget(date, 2, 1, 1, 3);
        g->setColumnStretch(5, 1);
        layout->addWidget(panel);

        auto* box = new QGroupBox(QStringLiteral("Дополнительное описание: "), infoPage);
        box->setObjectName(QStringLiteral("GroupBox1"));
        box->setStyleSheet(QStringLiteral("QGroupBox { color: navy; }"));
        box->setMinimumHeight(131);
        auto* bl = new QVBoxLayout(box);
        auto* memo = new QPlainTextEdit(box);
        memo->setObjectName(QStringLiteral("mProjectInfo"));
        new FieldBinding(t, QStringLiteral("Info"), memo, 254);
        bl->addWidget(memo);
        layout->addWidget(box, 1);
    }
    connect(&ctx.rules, &db::RecordRules::textsChanged, this, &ProjectsPane::showInfo);
    showInfo();
}

void ProjectsPane::showInfo() {
    m_ppInfo->setText(m_ctx.rules.ppInfo());
}

void ProjectsPane::sbOpenProjectSiteClick() {
    RunURL(m_ctx.db.tbProject.asString(QStringLiteral("Site")));
}

void ProjectsPane::sbPRCYProjectUpdateClick() {
    emit prcyProjectUpdateRequested();
}

bool ProjectsPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_site && event->type() == QEvent::MouseButtonDblClick) sbOpenProjectSiteClick();
    return QObject::eventFilter(watched, event);
}

} // namespace zentaro::app

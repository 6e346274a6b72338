// What the user typed, checked or imported stays on its own record through runs, imports and closing.
#include <algorithm>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTabWidget>
#include <QToolButton>

#include "widgets/data_grid.h"
#include "app/main_form.h"
#include "widgets/navigator_bar.h"
#include "app/settings_pane.h"
#include "app/widget_ui.h"
#include "db/database.h"
#include "db/reserve_copy.h"
#include "db/session.h"
#include "support/http_server.h"
#include "support/main_window.h"
#include "support/records.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"
#include "web/page_fetcher.h"

using namespace zentaro;

namespace {

using Window = test::OpenWindow;

// The tables as the files hold them after the window is gone.
struct Reopened {
    explicit Reopened(test::TempFolder& dir) : session(db, dir.base(), ui) {
        EXPECT_TRUE(session.acquireInstanceLock()); // the closed window let go of the folder
        session.start();
    }
    test::ScriptedUi ui;
    db::Database db;
    db::Session session;
};

QVariant field(db::Table& t, int pos, const char* name) {
    return t.valueAt(pos, t.fieldIndex(QString::fromLatin1(name)));
}

// No two records of any table share an ID.
void expectUniqueIds(db::Database& db) {
    for (db::Table* t : db.dataTables()) {
        std::set<int> ids;
        for (int pos = 0; pos < t->recordCount(); ++pos) {
            const QVariant id = field(*t, pos, "ID");
            if (!id.isValid()) continue;
            EXPECT_TRUE(ids.insert(id.toInt()).second) << t->tableName().toStdString() << " " << id.toInt();
        }
    }
}

// One site, one project and ten link pages on the local server, each carrying the user's link.
void fillLinks(Window& w, test::HttpServer& server, int delayMs) {
    test::HttpServer::Reply page;
    page.body = "<a href=\"http://mine.example/x\">x</a> end";
    page.delayMs = delayMs;
    for (int i = 1; i <= 10; ++i)
        server.on(QStringLiteral("/p%1").arg(i).toLatin1(), page);
    w.nav("DBNavigator4", db::NavButton::Insert);
    w.db.tbSite.setValue("Site", QStringLiteral("trust.ru"));
    w.db.tbSite.post();
    w.nav("DBNavigator1", db::NavButton::Insert);
    w.db.tbProject.setValue("Name", QStringLiteral("Проект"));
    w.db.tbProject.post();
    for (int i = 1; i <= 10; ++i) {
        w.nav("DBNavigator5", db::NavButton::Insert);
        w.db.tbLink.setValue("PageURL", server.url(QStringLiteral("/p%1").arg(i)));
        w.db.tbLink.post();
        w.nav("DBNavigator8", db::NavButton::Insert);
        w.db.tbAncor.setValue("URL", QStringLiteral("http://mine.example/x"));
        w.db.tbAncor.post();
    }
}

// PageStatus by page address.
// PageStatus by page address, of every record whatever the view.
std::map<QString, QString> statuses(const db::Table& links) {
    std::map<QString, QString> out;
    const int url = links.fieldIndex(QStringLiteral("PageURL")),
              status = links.fieldIndex(QStringLiteral("PageStatus"));
    for (int row = 0; row < links.rowCapacity(); ++row)
        if (links.rowAlive(row) && row != links.insertRow())
            out[links.rowValue(row, url).toString()] = links.rowValue(row, status).toString();
    return out;
}

} // namespace

// What a user does while a run waits for its page: the record in hand keeps its verdict and no other
// record gets one, whether the run fetches one page at a time or ahead.
TEST(RunInWindow, WhatTheUserDoesDuringAWaitChangesNoOtherRecord) {
    struct Case {
        const char* name;
        std::function<void(Window&)> act;
        int linksAfter;
        bool refused = true; // the work panel says why nothing happened
    };
    const Case cases[] = {
        {"click on row 6",
         [](Window& w) {
             auto* grid = w.find<app::DataGrid>("grdLink");
             EXPECT_EQ(grid->model()->rowCount(), 0); // the run's grid shows nothing
             QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                               QPoint(20, grid->verticalHeader()->defaultSectionSize() * 5 + 5));
         },
         10, false},
        {"record moved by code", [](Window& w) { w.db.tbLink.moveTo(5); }, 10, false},
        {"Ctrl+Del in the grid",
         [](Window& w) {
             auto* grid = w.find<app::DataGrid>("grdLink");
             QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
         },
         10},
        {"navigator delete", [](Window& w) { w.nav("DBNavigator5", db::NavButton::Delete); }, 10},
        {"project deleted", [](Window& w) { w.nav("DBNavigator1", db::NavButton::Delete); }, 10},
        {"second run", [](Window& w) { w.form->findChild<QAction*>("N11")->trigger(); }, 10},
        {"record in hand deleted by code", [](Window& w) { w.db.tbLink.deleteRecord(); }, 9, false},
    };
    for (const int inFlight : {1, 8})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", requests at once: " + std::to_string(inFlight));
            test::TempFolder dir;
            test::ScriptedUi ui;
            test::HttpServer server;
            Window w(dir, ui);
            fillLinks(w, server, 60);
            w.form->fetcher().maxInFlight = inFlight;
            ui.answer(true);
            ui.answer(true);
            bool acted = false;
            QTimer::singleShot(90, w.form.get(), [&] {
                acted = w.db.runGoing;
                w.find<QLabel>("psbText")->clear();
                c.act(w);
                EXPECT_EQ(w.find<QLabel>("psbText")->text().startsWith(QStringLiteral("Идет проверка")),
                          c.refused);
            });
            w.form->findChild<QAction*>("N11")->trigger();
            EXPECT_TRUE(acted);
            EXPECT_EQ(ui.texts().filter(QStringLiteral("Удал")), QStringList());
            EXPECT_EQ(ui.texts().last(), QStringLiteral("Проверка выполнена."));
            const auto status = statuses(w.db.tbLink);
            EXPECT_EQ(int(status.size()), c.linksAfter);
            for (const auto& [url, s] : status)
                EXPECT_EQ(s, QStringLiteral("1")) << url.toStdString(); // every page has the link
            EXPECT_EQ(w.find<app::DataGrid>("grdLink")->model()->rowCount(), w.db.tbLink.recordCount());
            w.form->close();
        }
}

// Closing during a run, by the window's X or by a signal: the run stops, nothing is shown after, what was
// applied is on disk and pages not reached keep their status and get no outcome.
TEST(RunInWindow, ClosingDuringARunStopsItAndKeepsTheRecordsNotReached) {
    for (const int inFlight : {1, 4})
        for (const bool bySignal : {false, true}) {
            SCOPED_TRACE(std::to_string(inFlight) + (bySignal ? " signal" : " X"));
            test::TempFolder dir;
            test::ScriptedUi ui;
            test::HttpServer server;
            {
                Window w(dir, ui);
                fillLinks(w, server, 150);
                w.form->fetcher().maxInFlight = inFlight;
                w.form->fetcher().perHost = 1;
                // Closed once the first verdict is in, with the others still to come.
                QTimer watch;
                QObject::connect(&watch, &QTimer::timeout, [&] {
                    const auto status = statuses(w.db.tbLink);
                    if (std::none_of(status.begin(), status.end(),
                                     [](const auto& s) { return s.second == QStringLiteral("1"); }))
                        return;
                    watch.stop();
                    if (bySignal) {
                        w.form->closeWithoutQuestions();
                    } else {
                        ui.answer(true);               // "Прервать её и выйти?"
                        EXPECT_FALSE(w.form->close()); // put off until the run returned
                    }
                });
                watch.start(10);
                w.form->findChild<QAction*>("N11")->trigger();
                ASSERT_TRUE(w.closed());
                const qsizetype asked = server.requests().size();
                // No request after the window closed.
                EXPECT_FALSE(QTest::qWaitFor([&] { return server.requests().size() != asked; }, 400));
                // Only the closing by the user asks, once.
                EXPECT_EQ(ui.texts(),
                          bySignal ? QStringList()
                                   : QStringList{QStringLiteral("Идёт проверка. Прервать её и выйти?")});
            }
            Reopened after(dir);
            int placed = 0, waiting = 0;
            db::Table& links = after.db.tbLink;
            links.setFiltered(false);
            for (int pos = 0; pos < links.recordCount(); ++pos) {
                const QString s = field(links, pos, "PageStatus").toString();
                const int id = field(links, pos, "ID").toInt();
                if (s == QStringLiteral("1")) {
                    ++placed;
                } else {
                    EXPECT_EQ(s, QStringLiteral("0")) << id;
                    EXPECT_FALSE(after.db.checks.last(db::CheckSubject::LinkPage, id)) << id;
                    ++waiting;
                }
            }
            EXPECT_GT(placed, 0);
            EXPECT_GT(waiting, 0);
        }
}

// A long link import closed half-way: it stops after its line, every record it added is on disk, and no two
// records share an ID even with a link added by other means in its event turns.
TEST(ImportInWindow, ClosingDuringALongImportKeepsEveryAddedLinkWithItsOwnId) {
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "signal" : "X");
        test::TempFolder dir;
        test::ScriptedUi ui;
        QString text;
        for (int i = 0; i < 40000; ++i)
            text += QStringLiteral("http://site%1.ru/page\n").arg(i);
        QFile file(dir.path() + QStringLiteral("list.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        file.close();
        int inMemory = 0;
        {
            Window w(dir, ui);
            w.nav("DBNavigator4", db::NavButton::Insert);
            w.db.tbSite.setValue("Site", QStringLiteral("trust.ru"));
            w.db.tbSite.post();
            w.nav("DBNavigator1", db::NavButton::Insert);
            w.db.tbProject.setValue("Name", QStringLiteral("Проект"));
            w.db.tbProject.post();
            w.form->runDlgImport = [&](int) {
                exchange::ImportChoice choice;
                choice.fileName = file.fileName();
                return std::optional(choice);
            };
            // Steps by what the import has added, not by the clock.
            int step = 0;
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                const int rows = w.db.tbLink.rowCapacity();
                if (step == 0 && rows > 1000) {
                    ++step;
                    // A second import and an added link are refused; one added by code gets an ID of its
                    // own.
                    w.find<QLabel>("psbText")->clear();
                    w.form->runCommand(QStringLiteral("ImportLinks"));
                    EXPECT_TRUE(w.find<QLabel>("psbText")->text().startsWith(QStringLiteral("Идет")));
                    w.nav("DBNavigator5", db::NavButton::Insert);
                    const bool wasAuto = w.db.isAuto;
                    w.db.isAuto = false;
                    test::addRecord(w.db.tbLink, {{"PageURL", QStringLiteral("http://by-hand.ru/")}});
                    w.db.isAuto = wasAuto;
                } else if (step == 1 && rows > 5000) {
                    ++step;
                    if (bySignal) {
                        w.form->closeWithoutQuestions();
                    } else {
                        ui.answer(true);
                        w.form->close();
                    }
                }
            });
            watch.start(5);
            w.form->runCommand(QStringLiteral("ImportLinks"));
            ASSERT_TRUE(w.closed());
            w.db.tbLink.setFiltered(false);
            inMemory = w.db.tbLink.recordCount();
            EXPECT_GT(inMemory, 1);
            EXPECT_LT(inMemory, 40001); // stopped before the end
            EXPECT_TRUE(ui.texts().filter(QStringLiteral("Добавлено")).isEmpty());
        }
        Reopened after(dir);
        after.db.tbLink.setFiltered(false);
        EXPECT_EQ(after.db.tbLink.recordCount(), inMemory);
        expectUniqueIds(after.db);
    }
}

// Text typed and not yet left, in a bound edit or an open grid cell editor, is stored when the window
// closes by its X or by a signal.
TEST(ClosingWindow, TypedTextInAnEditOrAGridEditorIsStored) {
    for (const bool inGrid : {false, true})
        for (const bool bySignal : {false, true}) {
            SCOPED_TRACE(std::string(inGrid ? "grid" : "edit") + (bySignal ? " signal" : " X"));
            test::TempFolder dir;
            test::ScriptedUi ui;
            {
                Window w(dir, ui);
                w.form->activateWindow();
                (void)QTest::qWaitForWindowActive(w.form.get());
                w.nav("DBNavigator1", db::NavButton::Insert);
                w.db.tbProject.setValue("Name", QStringLiteral("Проект"));
                w.db.tbProject.post();
                if (inGrid) {
                    w.nav("DBNavigator10", db::NavButton::Insert);
                    w.db.tbCat2.setValue("Name", QStringLiteral("Старое"));
                    w.db.tbCat2.post();
                    auto* grid = w.find<app::DataGrid>("grdCat2");
                    const int column = grid->firstEditableColumn();
                    grid->setFocus();
                    grid->edit(grid->model()->index(0, column));
                    auto* editor = grid->viewport()->findChild<QLineEdit*>();
                    ASSERT_NE(editor, nullptr);
                    editor->selectAll();
                    editor->insert(QStringLiteral("Новое"));
                } else {
                    w.find<QTabWidget>("pcProject")->setCurrentIndex(1);
                    auto* edit = w.find<QLineEdit>("eProjectSite");
                    edit->setFocus();
                    QTest::keyClicks(edit, QStringLiteral("site.ru"));
                }
                if (bySignal)
                    w.form->closeWithoutQuestions();
                else
                    w.form->close();
                ASSERT_TRUE(w.closed());
            }
            Reopened after(dir);
            if (inGrid)
                EXPECT_EQ(field(after.db.tbCat2, 0, "Name").toString(), QStringLiteral("Новое"));
            else
                EXPECT_EQ(field(after.db.tbProject, 0, "Site").toString(), QStringLiteral("site.ru"));
        }
}

// "#" takes no typing in any grid, and after "Добавить" the keyboard is in the first column that does.
TEST(ClosingWindow, IdColumnsAreReadOnlyAndAddLandsOnTheFirstEditableColumn) {
    test::TempFolder dir;
    test::ScriptedUi ui;
    Window w(dir, ui);
    w.nav("DBNavigator4", db::NavButton::Insert);
    w.db.tbSite.post();
    const std::pair<const char*, const char*> grids[] = {
        {"grdProject", "DBNavigator1"}, {"grdCat2", "DBNavigator10"}, {"grdCat", "DBNavigator3"},
        {"grdLink", "DBNavigator5"},    {"grdSite", "DBNavigator4"},  {"grdAccount", "DBNavigator9"}};
    for (const auto& [gridName, navName] : grids) {
        SCOPED_TRACE(gridName);
        auto* grid = w.find<app::DataGrid>(gridName);
        // The grid's pages are shown, as the user would open them.
        for (QWidget* page = grid; page && page->parentWidget(); page = page->parentWidget())
            if (auto* tabs = qobject_cast<QTabWidget*>(page->parentWidget()->parentWidget()))
                tabs->setCurrentWidget(page);
        w.nav(navName, db::NavButton::Insert);
        db::Table& t = grid->table();
        t.post();
        const int row = t.currentPos();
        ASSERT_GE(row, 0);
        const QModelIndex id = grid->model()->index(row, 0);
        ASSERT_EQ(grid->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                  QStringLiteral("#"));
        EXPECT_FALSE(id.flags() & Qt::ItemIsEditable);
        const int before = t.asInteger("ID");
        EXPECT_FALSE(grid->model()->setData(id, QStringLiteral("9"), Qt::EditRole));
        EXPECT_EQ(t.asInteger("ID"), before);
        w.nav(navName, db::NavButton::Insert);
        EXPECT_EQ(grid->currentIndex().column(), grid->firstEditableColumn());
        EXPECT_TRUE(grid->currentIndex().flags() & Qt::ItemIsEditable);
        t.cancel();
    }
}

// A closing by signal asks nothing and opens no box: the export question is a No that keeps the older file,
// a reserve copy that fails is said on stderr, and the window closes.
TEST(ClosingWindow, ASignalCloseWithTheExportOptionOrAFailingCopyOpensNoBox) {
    for (const bool failingCopy : {false, true}) {
        SCOPED_TRACE(failingCopy ? "failing copy" : "export of an empty table");
        test::TempFolder dir;
        app::WidgetUi ui;
        bool boxShown = false;
        QString oldExport;
        {
            Window w(dir, ui);
            ui.setOwner(w.form.get());
            const QString exported = w.form->settings().exportFolder() + QStringLiteral("/project.txt");
            if (failingCopy) {
                w.db.StartRCopyNow = true;
                test::TempFolder::write(db::copyRoot(dir.base()), "not a folder");
            } else {
                w.find<QCheckBox>("cbAllExport")->setChecked(true);
                QDir().mkpath(w.form->settings().exportFolder());
                test::TempFolder::write(exported, "older");
                oldExport = exported;
            }
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                if (QWidget* box = QApplication::activeModalWidget()) {
                    boxShown = true;
                    box->close();
                }
            });
            watch.start(20);
            w.form->closeWithoutQuestions();
            EXPECT_TRUE(w.closed());
        }
        EXPECT_FALSE(boxShown);
        if (!oldExport.isEmpty()) {
            QFile f(oldExport);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), QByteArray("older"));
        }
    }
}

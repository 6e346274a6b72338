#pragma once

#include <memory>

#include <gtest/gtest.h>

#include <QDir>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "app/main_form.h"
#include "widgets/navigator_bar.h"
#include "db/database.h"
#include "db/session.h"
#include "support/scripted_ui.h"
#include "support/temp_folder.h"

namespace zentaro::test {

// The real window on a data folder, made and dropped within a test so that the folder can be reopened.
struct OpenWindow {
    OpenWindow(TempFolder& dir, UserInterface& ui) : session(db, dir.base(), ui) {
        EXPECT_TRUE(session.acquireInstanceLock());
        form = std::make_unique<app::TMainForm>(db, session, ui, dir.path());
        form->FormCreate();
        form->show();
    }
    template <class T> T* find(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void nav(const char* name, db::NavButton b) { find<app::NavigatorBar>(name)->button(b)->click(); }
    // Waits for a closing that a signal, a run's end or the user started.
    bool closed() {
        return QTest::qWaitFor([this] { return form->closedForGood(); }, 8000);
    }

    db::Database db;
    db::Session session;
    std::unique_ptr<app::TMainForm> form;
};

// The real main window on a temporary program folder holding the help page.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(dir.path() + "help");
        TempFolder::write(dir.path() + "help/about.htm", "<html><body>Справка один</body></html>");
        ASSERT_TRUE(session.acquireInstanceLock());
        form = std::make_unique<app::TMainForm>(db, session, ui, dir.path());
        form->FormCreate();
        form->show();
    }
    void TearDown() override {
        ui.answer(true);
        form->close();
        form.reset();
    }
    template <class T> T* find(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void clickTab(const char* tabs, int index) {
        QTabBar* bar = find<QTabWidget>(tabs)->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    void clickNav(const char* nav, db::NavButton b) { find<app::NavigatorBar>(nav)->button(b)->click(); }
    void addProject(const QString& name) {
        clickNav("DBNavigator1", db::NavButton::Insert);
        db.tbProject.setValue("Name", name);
        db.tbProject.post();
    }

    TempFolder dir;
    ScriptedUi ui;
    db::Database db;
    db::Session session{db, dir.base(), ui};
    std::unique_ptr<app::TMainForm> form;
};

} // namespace zentaro::test

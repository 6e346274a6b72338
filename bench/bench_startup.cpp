// Time from an empty process state to a usable main window on the large base: tables loaded, rules run,
// grids filled and the window painted once. Runs offscreen; prints the median of several starts.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include "app/main_form.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/session.h"
#include "db/table_file.h"
#include "bench_ui.h"
#include "large_base.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString base = dir.path() + QStringLiteral("/base/");
    {
        QDir().mkpath(base);
        zentaro::db::Database db;
        zentaro::bench::fillLargeBase(db);
        zentaro::db::SaveBase(db, base);
        zentaro::db::TableFile::save(db.tbSets, base + QStringLiteral("sets.adb"), nullptr);
    }
    std::vector<double> ms;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        zentaro::bench::BenchUi ui{false};
        zentaro::db::Database db;
        zentaro::db::Session session(db, base, ui);
        if (!session.acquireInstanceLock()) return 1;
        zentaro::app::TMainForm form(db, session, ui, dir.path() + QStringLiteral("/"));
        form.FormCreate();
        form.show();
        QApplication::processEvents();
        form.grab();
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        form.hide();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("start-up to a usable window on the large base: median %.0f ms (min %.0f, max %.0f)\n", ms[2],
                ms[0], ms[4]);
    return 0;
}

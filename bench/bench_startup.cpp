// Time from an empty process state to a usable main window on the large base: tables loaded, rules run,
// grids filled and the window painted once. Runs offscreen; prints the median of several starts and the
// peak resident memory of the first one.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <malloc.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "app/main_form.h"
#include "db/base_files.h"
#include "db/database.h"
#include "db/session.h"
#include "db/table_file.h"
#include "bench_ui.h"
#include "large_base.h"

namespace {

// Peak resident size since the last reset, from the kernel's high-water mark; -1 when unknown.
double peakResidentMB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Starts the high-water mark afresh, so the memory the generator of the base held does not count.
void resetPeakResident() {
    malloc_trim(0);
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly)) refs.write("5");
}

// Processor time of the whole process: a busy machine stretches the wall time of a start, not this.
double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

} // namespace

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
    resetPeakResident();
    std::vector<double> ms;
    std::vector<double> cpu;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = processCpuMs();
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
        cpu.push_back(processCpuMs() - cpuStart);
        if (run == 0) {
            std::printf("peak resident memory of the first start: %.1f MB\n", peakResidentMB());
            // Moving the current project with the window shown: grids, lookups and rules follow each move.
            std::vector<double> moves;
            for (int i = 0; i < 200; ++i) {
                QElapsedTimer move;
                move.start();
                db.tbProject.next();
                QApplication::processEvents(); // repaints what changed
                moves.push_back(double(move.nsecsElapsed()) / 1e6);
            }
            std::vector<double> logic;
            for (int i = 0; i < 200; ++i) {
                QElapsedTimer move;
                move.start();
                db.tbProject.next();
                logic.push_back(double(move.nsecsElapsed()) / 1e6);
                QApplication::processEvents();
            }
            std::sort(logic.begin(), logic.end());
            std::printf("moving the current project, window logic without painting: median %.2f ms\n",
                        logic[logic.size() / 2]);
            std::vector<double> paints;
            for (int i = 0; i < 50; ++i) {
                QElapsedTimer paint;
                paint.start();
                form.grab();
                paints.push_back(double(paint.nsecsElapsed()) / 1e6);
            }
            std::sort(moves.begin(), moves.end());
            std::sort(paints.begin(), paints.end());
            std::printf(
                "moving the current project with the window shown, changed parts repainted: median %.2f ms "
                "(painting the whole window once: %.2f ms)\n",
                moves[moves.size() / 2], paints[paints.size() / 2]);
        }
        form.hide();
    }
    std::printf("first start: %.0f ms, processor time %.0f ms\n", ms[0], cpu[0]);
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf(
        "start-up to a usable window on the large base: median %.0f ms (min %.0f, max %.0f), processor "
        "time median %.0f ms\n",
        ms[2], ms[0], ms[4], cpu[2]);
    return 0;
}

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

// Every test runs with Russian regional formats unless it pins another locale itself. Window tests run
// offscreen on one screen of a common laptop size, 1366 × 800.
int main(int argc, char** argv) {
    QTemporaryDir screenDir;
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty()) platform = "offscreen";
    if (platform == "offscreen" && screenDir.isValid()) {
        const QString config = screenDir.filePath(QStringLiteral("screen.json"));
        QFile f(config);
        if (f.open(QIODevice::WriteOnly) &&
            f.write(R"({"screens": [{"name": "Screen", "x": 0, "y": 0, "width": 1366, "height": 800,
                       "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") > 0) {
            f.close();
            platform += ":configfile=" + QFile::encodeName(config);
        }
    }
    qputenv("QT_QPA_PLATFORM", platform);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

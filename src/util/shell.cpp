// Opening documents and addresses with the desktop's default program.
#include "util/shell.h"

#include <QFileInfo>
#include <QLocale>
#include <QProcess>

namespace zentaro {

namespace {

OpenHandler& handlerSlot() {
    static OpenHandler handler;
    return handler;
}

int desktopOpen(const QString& target, const QString& params, const QString& startDir) {
    if (target.isEmpty()) return -1;
    // Only an executable file is run (with its parameters); documents, folders and addresses go to the
    // desktop's default action, whatever parameters come with them.
    const QFileInfo fi(target);
    const bool program = fi.isFile() && fi.isExecutable() && !fi.isDir();
    const bool started =
        program ? QProcess::startDetached(fi.absoluteFilePath(), QProcess::splitCommand(params), startDir)
                : QProcess::startDetached(QStringLiteral("xdg-open"), {target}, startDir);
    return started ? 0 : -1;
}

} // namespace

void setOpenHandler(OpenHandler handler) {
    handlerSlot() = std::move(handler);
}

int FileExecute(const QString& FileName, const QString& Params, const QString& StartDir) {
    if (handlerSlot()) return handlerSlot()(FileName, Params, StartDir);
    return desktopOpen(FileName, Params, StartDir);
}

void ShellExec(const QString& Param) {
    FileExecute(Param, QString(), QString());
}

void RunURL(const QString& SURL) {
    QString url = QLocale().toLower(SURL);
    if (url.isEmpty()) return;
    if (!url.contains(QStringLiteral("http"))) url.prepend(QStringLiteral("http://"));
    ShellExec(url);
}

} // namespace zentaro

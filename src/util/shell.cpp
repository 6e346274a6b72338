#include "util/shell.h"

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
    bool started = false;
    if (params.isEmpty())
        started = QProcess::startDetached(QStringLiteral("xdg-open"), {target}, startDir);
    else
        started = QProcess::startDetached(target, QProcess::splitCommand(params), startDir);
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

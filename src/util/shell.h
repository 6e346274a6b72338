// Opening documents and addresses with the desktop's default program.
#pragma once

#include <functional>

#include <QString>

namespace zentaro {

// Receives what would be opened with the desktop's default action: the target and its parameters.
using OpenHandler = std::function<int(const QString& target, const QString& params, const QString& startDir)>;

// Replaces the way documents and addresses are opened (tests observe instead of opening).
// An empty handler restores the desktop's default action.
void setOpenHandler(OpenHandler handler);

// Opens a document, folder or address with the desktop's default action without waiting.
// Returns 0 when the opener was started, -1 otherwise; callers need not look at it.
int FileExecute(const QString& FileName, const QString& Params, const QString& StartDir);
void ShellExec(const QString& Param);

// Opens a web address in the default browser: lower-cased, "http://" put in front when it holds no "http".
void RunURL(const QString& SURL);

} // namespace zentaro

#pragma once

#include <cstdio>
#include <optional>

#include <QString>
#include <QStringList>

#include "cli/check_report.h"

namespace zentaro::cli {

// An unattended check: "zentaro --check KIND [--project NAME] [--list] [--format text|json|csv] [--notify]";
// options with a value also take the form "--check=KIND".
struct CheckRequest {
    QString kind; // links, extlinks, extlinks-new, metrics, metrics-new
    QString project;
    bool listPages = false; // "--list": the pages of each outcome after the summary
    OutputFormat format = OutputFormat::Text;
    bool notify = false; // a desktop notification when the run lost links or found pages unreachable
};

// What the program is asked to do: help wins over everything, then the version, then a check.
enum class CommandMode { Window, Help, Version, Check };
CommandMode commandMode(const QStringList& args);

// The exit statuses of a check from the command line.
enum CheckExit { kCheckDone = 0, kCheckFailed = 1, kCheckUsage = 2, kCheckDataBusy = 3 };

// The request in the arguments (after the program name); no value when there is none ("--check" absent);
// a usage error sets error.
std::optional<CheckRequest> parseCheckArguments(const QStringList& args, QString* error);

// The help lines of the checks.
QString checkUsage();

// Runs the check on the data folder without a window: progress as one updating line and the closing
// messages on err, the summary on out. The status is kCheckDone only when the run finished without error;
// the instance lock held by an open window gives kCheckDataBusy, and nothing else does; a data folder that
// cannot be written or locked, or a base that does not load, gives kCheckFailed with the reason on err (and,
// with notify, a desktop notification that the check did not run).
int runCheckCommand(const CheckRequest& request, const QString& baseDir, FILE* out, FILE* err);

} // namespace zentaro::cli

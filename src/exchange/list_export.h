// Export of the link and site lists as text files.
#pragma once

#include <QString>
#include <QStringList>

#include "db/forward.h"

namespace zentaro::exchange {

// The lines of the links file and of the sites file for the lists as shown (filter and order apply).
QStringList linkExportLines(const db::Database& db);
QStringList siteExportLines(const db::Database& db);

// The menu commands: a save dialog in the program folder ("export-links.txt", "export-site.txt"), nothing for
// an empty list, the file written, "Экспорт произведен в файл:" with its name, or the file's error.
void N18Click(db::Database& db, UserInterface& ui, const QString& programDir);
void N19Click(db::Database& db, UserInterface& ui, const QString& programDir);

} // namespace zentaro::exchange

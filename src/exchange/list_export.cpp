// Export of the link and site lists as text files.
#include "exchange/list_export.h"

#include <QFileInfo>
#include <QLocale>

#include "db/database.h"
#include "util/regional.h"
#include "util/text_file.h"
#include "util/user_interface.h"

namespace zentaro::exchange {

namespace {

// A stored value as the files take it: stored codes, regional dates and numbers, empty when not set.
QString valueText(const db::Table& t, int row, const char* field) {
    const int f = t.fieldIndex(QString::fromLatin1(field));
    const QVariant v = t.rowValue(row, f);
    if (!v.isValid()) return {};
    switch (t.field(f).type) {
    case db::FieldType::Date:
        return formatDate(v.toDate());
    case db::FieldType::Float: {
        QLocale plain;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        return plain.toString(v.toDouble(), 'g', 15);
    }
    default:
        return v.toString();
    }
}

QStringList lines(const db::Table& t, const QString& header, std::initializer_list<const char*> fields) {
    QStringList out{header};
    for (int pos = 0; pos < t.recordCount(); ++pos) {
        QStringList columns;
        for (const char* f : fields)
            columns << valueText(t, t.rowAt(pos), f);
        out << columns.join(u'\t');
    }
    return out;
}

void exportList(const db::Table& t, UserInterface& ui, const QString& programDir, const QString& name,
                const QStringList& content) {
    QString file = programDir + name;
    if (!ui.chooseSaveFile(file, file) || file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".txt");
    if (t.currentPos() < 0) return;
    QString error;
    if (!writeTextFile(file, content, &error)) {
        ui.showError(error, QStringLiteral("Ошибка"));
        return;
    }
    Msg(ui, QStringLiteral("Экспорт произведен в файл:\r\n") + file);
}

} // namespace

QStringList linkExportLines(const db::Database& db) {
    // The header carries its own line end, so the file's second line is empty.
    return lines(db.tbLink,
                 QStringLiteral("Веб-страница\tКатегория\tтИЦ\tPR\tЦена\tYndex index\tGoogle index\tMail "
                                "index\tВнешние ссылки\tДата добавления\r\n"),
                 {"PageURL", "_cat", "TIC", "PR", "Price", "PageIndexY", "PageIndexG", "PageIndexM",
                  "UrlCount", "PublicDate"});
}

QStringList siteExportLines(const db::Database& db) {
    return lines(db.tbSite, QStringLiteral("Сайт\tтИЦ\tPR\tКатегория"), {"Site", "TIC", "PR", "_Cat"});
}

void N18Click(db::Database& db, UserInterface& ui, const QString& programDir) {
    exportList(db.tbLink, ui, programDir, QStringLiteral("export-links.txt"), linkExportLines(db));
}

void N19Click(db::Database& db, UserInterface& ui, const QString& programDir) {
    exportList(db.tbSite, ui, programDir, QStringLiteral("export-site.txt"), siteExportLines(db));
}

} // namespace zentaro::exchange

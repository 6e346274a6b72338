// The field definitions of the eight tables and the words shown for their codes.
#include "db/tables.h"

#include <initializer_list>

#include "db/table.h"

namespace zentaro::db {

namespace {

struct FieldSpec {
    const char* name;
    FieldType type;
    int size;
    int storedPos; // 1-based position in the table file; 0 for lookup and calculated fields
};

constexpr FieldType I = FieldType::Integer;
constexpr FieldType S = FieldType::String;
constexpr FieldType D = FieldType::Date;
constexpr FieldType F = FieldType::Float;

const QString kYes = QStringLiteral("Да");
const QString kNo = QStringLiteral("Нет");
const QStringList kStatusWords = {QStringLiteral("Ожидание"), QStringLiteral("Размещено"),
                                  QStringLiteral("Пропажа"), QStringLiteral("Изменено")};

QString storedCode(const Table& t, int row, int field) {
    return t.rowValue(row, field).toString();
}

void define(Table& t, std::initializer_list<FieldSpec> specs) {
    for (const FieldSpec& s : specs) {
        FieldDef f;
        f.name = QString::fromLatin1(s.name);
        f.type = s.type;
        f.size = s.type == FieldType::String ? s.size : 0;
        f.storedPos = s.storedPos;
        t.addField(f);
    }
}

int addLookup(Table& t, const char* name, Table& other, const char* key, const char* result) {
    FieldDef f;
    f.name = QString::fromLatin1(name);
    f.type = FieldType::String;
    f.size = 128;
    f.kind = FieldKind::Lookup;
    f.lookupTable = &other;
    f.keyField = QString::fromLatin1(key);
    f.lookupKey = QStringLiteral("ID");
    f.resultField = QString::fromLatin1(result);
    return t.addField(f);
}

// Shown as "Да"/"Нет"; only those exact words (and, where allowed, the empty text) change the stored code.
void setYesNo(Table& t, const char* name, bool emptyClears) {
    const int idx = t.fieldIndex(QString::fromLatin1(name));
    FieldDef& f = t.fieldDef(idx);
    f.displayText = [idx](const Table& tb, int row, int) { return yesNoText(storedCode(tb, row, idx)); };
    f.setText = [emptyClears](Table& tb, int field, const QString& text) {
        if (text == kYes) return tb.setValue(field, QStringLiteral("1"));
        if (text == kNo) return tb.setValue(field, QStringLiteral("0"));
        if (text.isEmpty() && emptyClears) return tb.setValue(field, QVariant());
        return false;
    };
}

void finish(Table& t) {
    t.createDataSet();
    t.setIndexFieldNames(QStringLiteral("ID"));
}

} // namespace

QString yesNoText(const QString& code) {
    if (code == QLatin1String("1")) return kYes;
    if (code == QLatin1String("0")) return kNo;
    return {};
}

QString statusText(const QString& code) {
    if (code.size() == 1 && code[0] >= u'0' && code[0] <= u'3') return kStatusWords[code[0].unicode() - u'0'];
    return {};
}

void defineProjectTable(Table& t) {
    define(t, {{"ID", I, 0, 1},
               {"Name", S, 128, 2},
               {"Info", S, 255, 3},
               {"DateAdd", D, 0, 4},
               {"DateUpDate", D, 0, 5},
               {"TIC", I, 0, 6},
               {"PR", I, 0, 7},
               {"MailPR", I, 0, 8},
               {"Site", S, 128, 9}});
    finish(t);
}

void defineCatTable(Table& t) {
    define(t, {{"ID", I, 0, 1}, {"Name", S, 128, 2}});
    finish(t);
}

void defineCat2Table(Table& t) {
    define(t, {{"ID", I, 0, 1}, {"Name", S, 128, 2}, {"PID", I, 0, 3}});
    finish(t);
}

void defineSiteTable(Table& t, Table& cat) {
    define(t, {{"ID", I, 0, 1},
               {"Site", S, 128, 2},
               {"CatID", I, 0, 3},
               {"TIC", I, 0, 4},
               {"PR", I, 0, 5},
               {"TicUpdate", D, 0, 7},
               {"PRUpdate", D, 0, 8},
               {"RegURL", S, 255, 9},
               {"BackURL", S, 1, 10},
               {"FURL", S, 1, 11},
               {"Info", S, 250, 12}});
    addLookup(t, "_Cat", cat, "CatID", "Name");
    define(
        t,
        {{"FS1", S, 60, 13}, {"FS2", S, 60, 14}, {"FI1", I, 0, 15}, {"FI2", I, 0, 16}, {"Social", I, 0, 6}});
    FieldDef num;
    num.name = QStringLiteral("_num");
    num.type = FieldType::Integer;
    num.kind = FieldKind::Calculated;
    num.displayText = [](const Table&, int, int pos) {
        return pos >= 0 ? QString::number(pos + 1) : QString();
    };
    t.addField(num);
    setYesNo(t, "BackURL", true);
    setYesNo(t, "FURL", true);
    finish(t);
}

void defineLinkTable(Table& t, Table& site, Table& cat2) {
    define(t, {{"ID", I, 0, 1},
               {"ProjectID", I, 0, 2},
               {"SiteID", I, 0, 3},
               {"AccountID", I, 0, 4},
               {"AncorID", I, 0, 5},
               {"Name", S, 128, 6},
               {"PageURL", S, 255, 7},
               {"PublicDate", D, 0, 8},
               {"PageIndexY", S, 1, 9},
               {"PageIndexG", S, 1, 10},
               {"PageIndexM", S, 1, 11},
               {"UpdateIndexDate", D, 0, 12},
               {"UrlCount", I, 0, 13},
               {"PageStatus", S, 1, 14}});
    addLookup(t, "_Site", site, "SiteID", "Site");
    addLookup(t, "_s2", site, "SiteID", "ID");
    define(t, {{"Price", F, 0, 15}, {"LinkCat", I, 0, 16}});
    addLookup(t, "_cat", cat2, "LinkCat", "Name");
    define(t, {{"TIC", I, 0, 17}, {"PR", I, 0, 18}, {"PRUpdate", D, 0, 19}, {"AFN", S, 255, 20}});
    setYesNo(t, "PageIndexY", false);
    setYesNo(t, "PageIndexG", false);
    setYesNo(t, "PageIndexM", false);
    const int status = t.fieldIndex(QStringLiteral("PageStatus"));
    FieldDef& f = t.fieldDef(status);
    f.displayText = [status](const Table& tb, int row, int) {
        return statusText(storedCode(tb, row, status));
    };
    f.setText = [](Table& tb, int field, const QString& text) {
        const qsizetype i = kStatusWords.indexOf(text);
        return i >= 0 && tb.setValue(field, QString::number(i));
    };
    finish(t);
}

void defineAncorTable(Table& t) {
    define(t, {{"ID", I, 0, 1},
               {"LinkID", I, 0, 2},
               {"Ancor", S, 255, 3},
               {"Info", S, 128, 4},
               {"URL", S, 255, 5}});
    finish(t);
}

void defineAccountTable(Table& t) {
    define(t, {{"ID", I, 0, 1},
               {"User", S, 100, 2},
               {"Password", S, 100, 3},
               {"email", S, 100, 4},
               {"info", S, 128, 5}});
    finish(t);
}

void defineSetsTable(Table& t) {
    define(t, {{"Name", S, 50, 1}, {"ParamS", S, 200, 2}, {"ParamI", I, 0, 3}});
    t.createDataSet();
}

} // namespace zentaro::db

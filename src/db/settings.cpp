// The settings table: one record per key, read and written by name.
#include "db/settings.h"

#include <optional>

#include <QHash>

#include "db/table.h"

namespace zentaro::db {

namespace {

int findKey(const Table& sets, const QString& name) {
    const int nameField = sets.fieldIndex(QStringLiteral("Name"));
    for (int pos = 0; pos < sets.recordCount(); ++pos)
        if (sets.valueAt(pos, nameField).toString().compare(name, Qt::CaseInsensitive) == 0) return pos;
    return -1;
}

QStringList numbered(const QString& grid, int count) {
    QStringList out;
    for (int i = 0; i < count; ++i)
        out << grid + u'-' + QString::number(i);
    return out;
}

bool isTextKey(const QString& key) {
    return key == QLatin1String("cbRep.Text") || key == QLatin1String("LastRCopyDate") ||
           key == QLatin1String("cbRepPeriod.Text") || key == QLatin1String("cbRepProject.Text");
}

// What a stored -1 (or another special value) stands for when a key is applied; nullopt leaves the control.
std::optional<int> resolved(const QString& key, int v) {
    static const QHash<QString, int> minusOne = {
        {QStringLiteral("grdCat-0"), 30},         {QStringLiteral("grdCat-1"), 100},
        {QStringLiteral("grdCat2-0"), 30},        {QStringLiteral("grdCat2-1"), 100},
        {QStringLiteral("pProject.Width"), 10},   {QStringLiteral("pCat.Height"), 200},
        {QStringLiteral("pSiteHelp.Height"), 200}};
    if (key == QLatin1String("Height") || key == QLatin1String("Width") ||
        key.startsWith(QLatin1String("grdProject-")))
        return v == -1 ? std::nullopt : std::optional<int>(v);
    if (minusOne.contains(key)) return v == -1 ? minusOne.value(key) : v;
    if (key.startsWith(QLatin1String("grdSite-")) || key.startsWith(QLatin1String("grdLink-")) ||
        key.startsWith(QLatin1String("grdAccount-")) || key.startsWith(QLatin1String("grdAncor-")))
        return v == -1 ? 10 : v;
    if (key == QLatin1String("cbAllExport.Checked")) return v == 1 ? 1 : 0;
    if (key == QLatin1String("gbLinkFilter.Visible") || key == QLatin1String("cbRCopy.Checked"))
        return v == 0 ? 0 : 1;
    if (key == QLatin1String("seRCopy.Value")) return v == 0 ? 3 : v;
    return v;
}

} // namespace

void SetOption(Table& sets, const QString& ParamName, const QString& ParamValueS, int ParamValueI) {
    const int pos = findKey(sets, ParamName);
    if (pos >= 0) {
        sets.moveTo(pos);
        sets.edit();
    } else {
        sets.insert();
        sets.setValue(QStringLiteral("Name"), ParamName);
    }
    sets.setValue(QStringLiteral("ParamS"), ParamValueS);
    sets.setValue(QStringLiteral("ParamI"), ParamValueI);
    sets.post();
}

bool GetOption(const Table& sets, const QString& ParamName, QString& ParamValueS, int& ParamValueI) {
    ParamValueS.clear();
    ParamValueI = -1;
    const int pos = findKey(sets, ParamName);
    if (pos < 0) return false;
    ParamValueS = sets.valueAt(pos, sets.fieldIndex(QStringLiteral("ParamS"))).toString();
    ParamValueI = sets.valueAt(pos, sets.fieldIndex(QStringLiteral("ParamI"))).toInt();
    return true;
}

QStringList optionKeysInSaveOrder() {
    return QStringList{"Height",         "Width",       "grdProject-0",     "grdProject-1",
                       "grdCat-0",       "grdCat-1",    "grdCat2-0",        "grdCat2-1",
                       "pProject.Width", "pCat.Height", "pSiteHelp.Height", "cbAllExport.Checked"} +
           numbered(QStringLiteral("grdSite"), 8) + numbered(QStringLiteral("grdLink"), 13) +
           numbered(QStringLiteral("grdAccount"), 5) + numbered(QStringLiteral("grdAncor"), 3) +
           QStringList{"gbLinkFilter.Visible", "cbRep.Text",       "seRCopy.Value",    "LastRCopyDate",
                       "cbRCopy.Checked",      "cbRepPeriod.Text", "cbRepProject.Text"};
}

QStringList optionKeysInApplyOrder() {
    return QStringList{
               "Width",       "Height",          "grdProject-0", "grdProject-1",   "grdCat-0",
               "grdCat-1",    "grdCat2-0",       "grdCat2-1",    "pProject.Width", "cbAllExport.Checked",
               "pCat.Height", "pSiteHelp.Height"} +
           numbered(QStringLiteral("grdSite"), 8) + QStringList{"gbLinkFilter.Visible"} +
           numbered(QStringLiteral("grdLink"), 13) + numbered(QStringLiteral("grdAccount"), 5) +
           numbered(QStringLiteral("grdAncor"), 3) +
           QStringList{"cbRep.Text",    "LastRCopyDate",    "cbRCopy.Checked",
                       "seRCopy.Value", "cbRepPeriod.Text", "cbRepProject.Text"};
}

void SaveAllOptions(Table& sets, const OptionAccess& access) {
    for (const QString& key : optionKeysInSaveOrder()) {
        if (isTextKey(key))
            SetOption(sets, key, access.textValue(key), -1);
        else
            SetOption(sets, key, QString(), access.intValue(key));
    }
}

void SetPrgOptions(const Table& sets, const OptionAccess& access) {
    for (const QString& key : optionKeysInApplyOrder()) {
        QString s;
        int i = -1;
        if (!GetOption(sets, key, s, i)) continue;
        if (key == QLatin1String("cbRep.Text")) {
            access.applyText(key, s.isEmpty() ? QStringLiteral("Бюджеты проектов") : s);
        } else if (key == QLatin1String("LastRCopyDate")) {
            access.applyText(key, s);
        } else if (isTextKey(key)) {
            // The report period and project choice: an empty text keeps the design choice.
            if (!s.isEmpty()) access.applyText(key, s);
        } else if (const std::optional<int> v = resolved(key, i)) {
            access.applyInt(key, *v);
        }
    }
}

} // namespace zentaro::db

// The settings table: one record per key, read and written by name.
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

namespace zentaro::db {

class Table;

// One record per key in the settings table: Name, ParamS, ParamI; keys compared without regard to case.
// Writes the values into the key's record, or adds one.
void SetOption(Table& sets, const QString& ParamName, const QString& ParamValueS, int ParamValueI);
// Reads a key: true with its values (an empty ParamI reads as 0); false with "" and -1 when absent.
bool GetOption(const Table& sets, const QString& ParamName, QString& ParamValueS, int& ParamValueI);

// The window's side of the remembered options: what a key holds at closing and how a value is applied at
// start. Text keys ("cbRep.Text", "LastRCopyDate", "cbRepPeriod.Text", "cbRepProject.Text") go through the
// text functions, all others through the integer ones.
struct OptionAccess {
    std::function<int(const QString& key)> intValue;
    std::function<QString(const QString& key)> textValue;
    std::function<void(const QString& key, int value)> applyInt;
    std::function<void(const QString& key, const QString& value)> applyText;
};

// Every key in the order it is first written.
QStringList optionKeysInSaveOrder();
// Every key in the order it is applied at start.
QStringList optionKeysInApplyOrder();

// Writes every key at closing, in the save order.
void SaveAllOptions(Table& sets, const OptionAccess& access);
// Applies every stored key at start, in the apply order, with the defaults of each key. Each key stands on
// its own: one that cannot be applied leaves only itself at its design value. Keys with "set unless -1"
// are not applied at all when -1 is stored.
void SetPrgOptions(const Table& sets, const OptionAccess& access);

} // namespace zentaro::db

// Binds an edit or memo to one field of a table's current record.
#pragma once

#include <QObject>
#include <QPalette>
#include <QString>

class QLineEdit;
class QPlainTextEdit;

namespace zentaro::db {
class Table;
}

namespace zentaro::app {

// Keeps an edit or memo showing one field of the table's current record and writes what the user types
// back through the field's text rules: an edit when it is left (and posts it), a memo as it is typed.
class FieldBinding : public QObject {
    Q_OBJECT
public:
    FieldBinding(db::Table& table, const QString& field, QLineEdit* edit);
    // A memo that accepts at most maxChars characters.
    FieldBinding(db::Table& table, const QString& field, QPlainTextEdit* memo, int maxChars);

    void refresh();
    // Writes what was typed into the edit and not yet left (the window closes meanwhile).
    void commitPending();

signals:
    // Why a typed value was not stored; empty when the user gave the value up.
    void refused(const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectTable();
    bool commit(const QString& text, bool postNow);
    void showRefused(bool on);

    db::Table& m_table;
    int m_field;
    QLineEdit* m_edit = nullptr;
    QPlainTextEdit* m_memo = nullptr;
    int m_maxChars = 0;
    bool m_updating = false;
    bool m_refused = false; // the edit shows a value the record refused
    QPalette m_normalPalette;
};

} // namespace zentaro::app

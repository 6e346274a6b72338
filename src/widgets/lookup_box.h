// A combo box that shows and sets a key field through a list table.
#pragma once

#include <QComboBox>

namespace zentaro::db {
class Table;
}

namespace zentaro::app {

// Shows, for the current record of the data table, the shown field of the list table's record whose key
// equals the data field. The drop-down offers the list table's records as currently filtered; choosing
// one writes its key into the data field. Whenever the shown key changes, the list table's current record
// follows it; a key that matches no listed record leaves the box empty and the list table where it was.
class LookupBox : public QComboBox {
    Q_OBJECT
public:
    LookupBox(db::Table& data, const QString& dataField, db::Table& list, const QString& keyField,
              const QString& shownField, QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;
    // Shows the current record's key anew and moves the list table to it.
    void refresh();
    // Shows the text of the key already shown, after the list table changed.
    void redisplay();

signals:
    // The drop-down was closed (with or without a choice). Qt closes it before it reports the choice.
    void closedUp();
    // A choice was written into the data field.
    void chosen();

private:
    void choose(int index);

    db::Table& m_data;
    int m_dataField;
    db::Table& m_list;
    QString m_keyField;
    QString m_shownField;
    QVariant m_shownKey;
    bool m_filling = false;
};

} // namespace zentaro::app

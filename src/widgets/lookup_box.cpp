// A combo box that shows and sets a key field through a list table.
#include "widgets/lookup_box.h"

#include "db/table.h"

namespace zentaro::app {

LookupBox::LookupBox(db::Table& data, const QString& dataField, db::Table& list, const QString& keyField,
                     const QString& shownField, QWidget* parent)
    : QComboBox(parent), m_data(data), m_dataField(data.fieldIndex(dataField)), m_list(list),
      m_keyField(keyField), m_shownField(shownField) {
    setEditable(false);
    setMaxVisibleItems(20);
    connect(&m_data, &db::Table::currentChanged, this, &LookupBox::refresh);
    connect(&m_data, &db::Table::viewReset, this, &LookupBox::refresh);
    connect(&m_data, &db::Table::rowChanged, this, [this](int pos) {
        if (pos == m_data.currentPos()) refresh();
    });
    connect(this, &QComboBox::activated, this, &LookupBox::choose);
    // The list's content or filter changed (loaded, renamed, narrowed): show the key's text anew, without
    // moving the list, since the key itself did not change.
    connect(&m_list, &db::Table::viewReset, this, &LookupBox::redisplay);
    connect(&m_list, &db::Table::rowChanged, this, &LookupBox::redisplay);
    refresh();
}

void LookupBox::refresh() {
    if (m_filling) return;
    const QVariant key =
        m_data.currentPos() >= 0 && !m_data.controlsBlank() ? m_data.value(m_dataField) : QVariant();
    if (key == m_shownKey && count() > 0) return;
    m_shownKey = key;
    m_filling = true;
    clear();
    // The list table follows the key only when a listed record has it.
    if (key.isValid() && m_list.asString(m_keyField) != key.toString()) m_list.locate(m_keyField, key);
    if (key.isValid() && m_list.currentPos() >= 0 && m_list.asString(m_keyField) == key.toString()) {
        addItem(m_list.asString(m_shownField), key);
        setCurrentIndex(0);
    } else {
        setCurrentIndex(-1);
    }
    m_filling = false;
}

void LookupBox::redisplay() {
    if (m_filling) return;
    m_filling = true;
    clear();
    const int row = m_shownKey.isValid() ? m_list.findRow(m_keyField, m_shownKey) : -1;
    if (row >= 0 && m_list.positionOfRow(row) >= 0) {
        addItem(m_list.rowValue(row, m_list.fieldIndex(m_shownField)).toString(), m_shownKey);
        setCurrentIndex(0);
    } else {
        setCurrentIndex(-1);
    }
    m_filling = false;
}

void LookupBox::showPopup() {
    m_filling = true;
    clear();
    const int keyField = m_list.fieldIndex(m_keyField);
    const int shownField = m_list.fieldIndex(m_shownField);
    int current = -1;
    for (int pos = 0; pos < m_list.recordCount(); ++pos) {
        const QVariant key = m_list.valueAt(pos, keyField);
        addItem(m_list.displayTextAt(pos, shownField), key);
        if (m_shownKey.isValid() && key == m_shownKey) current = pos;
    }
    setCurrentIndex(current);
    m_filling = false;
    QComboBox::showPopup();
}

void LookupBox::hidePopup() {
    QComboBox::hidePopup();
    emit closedUp();
}

void LookupBox::choose(int index) {
    // A switched-off view belongs to a run walking the table: its record in hand is not the user's.
    if (m_filling || index < 0 || m_data.currentPos() < 0 || m_data.controlsDisabled()) {
        m_shownKey = QVariant();
        refresh();
        return;
    }
    const QVariant key = itemData(index);
    if (key == m_data.value(m_dataField)) return;
    if (m_data.setValue(m_dataField, key)) m_data.post();
    m_shownKey = QVariant();
    refresh();
    emit chosen();
}

} // namespace zentaro::app

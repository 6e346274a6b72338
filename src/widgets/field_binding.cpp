// Binds an edit or memo to one field of a table's current record.
#include "widgets/field_binding.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "db/table.h"
#include "db/value.h"

namespace zentaro::app {

FieldBinding::FieldBinding(db::Table& table, const QString& field, QLineEdit* edit)
    : QObject(edit), m_table(table), m_field(table.fieldIndex(field)), m_edit(edit) {
    if (m_table.field(m_field).size > 0) edit->setMaxLength(m_table.field(m_field).size);
    // A record keeps its ID for life.
    if (m_table.field(m_field).name == QLatin1String("ID")) edit->setReadOnly(true);
    connect(edit, &QLineEdit::editingFinished, this, &FieldBinding::commitPending);
    edit->installEventFilter(this);
    connectTable();
}

FieldBinding::FieldBinding(db::Table& table, const QString& field, QPlainTextEdit* memo, int maxChars)
    : QObject(memo), m_table(table), m_field(table.fieldIndex(field)), m_memo(memo), m_maxChars(maxChars) {
    connect(memo, &QPlainTextEdit::textChanged, this, [this] {
        if (m_updating) return;
        const QString text = m_memo->toPlainText();
        if (m_maxChars > 0 && text.size() > m_maxChars) {
            // Refuse what goes beyond the limit, keeping the cursor where the user typed.
            m_updating = true;
            QTextCursor c = m_memo->textCursor();
            const int pos = std::min(c.position(), m_maxChars);
            m_memo->setPlainText(text.left(m_maxChars));
            c = m_memo->textCursor();
            c.setPosition(pos);
            m_memo->setTextCursor(c);
            m_updating = false;
        }
        // The memo writes into the record as the user types; the record is posted when it is left.
        commit(m_memo->toPlainText(), false);
    });
    memo->installEventFilter(this);
    connectTable();
}

bool FieldBinding::eventFilter(QObject* watched, QEvent* event) {
    // Esc gives up what was typed, a refused value included: the edit shows the stored value again.
    if (watched == m_edit && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && (m_edit->isModified() || m_refused)) {
        m_edit->setText(m_table.currentPos() >= 0 && !m_table.controlsBlank() ? m_table.displayText(m_field)
                                                                              : QString());
        m_edit->setModified(false);
        showRefused(false);
        emit refused(QString()); // nothing refused stands any more
        return true;
    }
    if (watched == m_memo && event->type() == QEvent::FocusOut && m_table.modified()) m_table.post();
    return QObject::eventFilter(watched, event);
}

void FieldBinding::connectTable() {
    connect(&m_table, &db::Table::viewReset, this, &FieldBinding::refresh);
    connect(&m_table, &db::Table::currentChanged, this, &FieldBinding::refresh);
    connect(&m_table, &db::Table::rowChanged, this, [this](int pos) {
        if (pos == m_table.currentPos()) refresh();
    });
    refresh();
}

void FieldBinding::commitPending() {
    // A refused text stays in the edit, still marked as changed, and the reason is told.
    if (m_edit && m_edit->isModified() && commit(m_edit->text(), true)) m_edit->setModified(false);
    if (m_memo && m_table.modified()) m_table.post();
}

void FieldBinding::refresh() {
    if (m_updating) return;
    m_updating = true;
    const QString text =
        m_table.currentPos() >= 0 && !m_table.controlsBlank() ? m_table.displayText(m_field) : QString();
    if (m_edit && m_edit->text() != text) {
        m_edit->setText(text);
        m_edit->setModified(false);
    }
    if (m_edit && m_edit->text() == text) showRefused(false);
    if (m_memo && m_memo->toPlainText() != text) {
        m_memo->setPlainText(text);
        m_memo->document()->setModified(false);
    }
    m_updating = false;
}

bool FieldBinding::commit(const QString& text, bool postNow) {
    // With the view switched off the current record is the one a run or import works on, not the user's.
    if (m_table.controlsDisabled()) {
        refresh();
        return true;
    }
    if (m_table.currentPos() < 0 || text == m_table.displayText(m_field)) return true;
    m_updating = true;
    const bool ok = m_table.setText(m_field, text);
    if (ok && postNow) m_table.post();
    m_updating = false;
    if (!ok) {
        if (m_edit) showRefused(true);
        emit refused(db::refusedValueText(m_table.field(m_field).type, text));
        return false;
    }
    if (postNow) refresh();
    return true;
}

void FieldBinding::showRefused(bool on) {
    if (!m_edit || on == m_refused) return;
    m_refused = on;
    // A value the record did not take stands out until it is corrected or given up with Esc.
    m_edit->setProperty("refused", on);
    if (on) {
        m_normalPalette = m_edit->palette();
        QPalette pal = m_normalPalette;
        pal.setColor(QPalette::Base, QColor(255, 210, 210));
        m_edit->setPalette(pal);
    } else {
        m_edit->setPalette(m_normalPalette);
    }
}

} // namespace zentaro::app

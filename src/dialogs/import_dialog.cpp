// The list import dialog: file, category, column order and divider.
#include "dialogs/import_dialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "widgets/data_grid.h"
#include "widgets/hints.h"
#include "db/table_model.h"
#include "util/user_interface.h"

namespace zentaro::dialogs {

TfmImport::TfmImport(int GlobalCallMode, db::Table& categories, UserInterface& ui, QString programDir,
                     QWidget* parent)
    : QDialog(parent), m_ui(ui), m_programDir(std::move(programDir)), m_links(GlobalCallMode == 0) {
    setObjectName(QStringLiteral("fmImport"));
    setWindowTitle(m_links ? QStringLiteral("Импорт ссылок") : QStringLiteral("Импорт сайтов"));
    setFixedSize(580, 409);
    auto* layout = new QVBoxLayout(this);
    auto* file = new QGroupBox(QStringLiteral("Файл: "), this);
    auto* fl = new QHBoxLayout(file);
    m_eFN = new QLineEdit(file);
    m_eFN->setObjectName(QStringLiteral("eFN"));
    m_eFN->installEventFilter(this);
    auto* open = new QToolButton(file);
    open->setObjectName(QStringLiteral("sbFO"));
    open->setText(QStringLiteral("…"));
    connect(open, &QToolButton::clicked, this, &TfmImport::sbFOClick);
    fl->addWidget(m_eFN, 1);
    fl->addWidget(open);
    layout->addWidget(file);

    auto* gbCat = new QGroupBox(QStringLiteral("Категория для новых элементов: "), this);
    gbCat->setObjectName(QStringLiteral("gbCat"));
    auto* cl = new QVBoxLayout(gbCat);
    auto* model =
        new db::TableModel(categories, {{QStringLiteral("Name"), QStringLiteral("Название"), 400}}, gbCat);
    auto* grd = new app::DataGrid(model, gbCat);
    grd->setObjectName(QStringLiteral("grd"));
    cl->addWidget(grd);
    layout->addWidget(gbCat, 1);

    auto* pFile = new QWidget(this);
    pFile->setObjectName(QStringLiteral("pFile"));
    auto* pl = new QHBoxLayout(pFile);
    pl->setContentsMargins(0, 0, 0, 0);
    auto* order = new QGroupBox(QStringLiteral("Порядок полей: "), pFile);
    auto* ol = new QHBoxLayout(order);
    m_lb = new QListWidget(order);
    m_lb->setObjectName(QStringLiteral("lb"));
    m_lb->addItems({QStringLiteral("URL ссылки"), QStringLiteral("Цена"), QStringLiteral("Дата")});
    auto* moves = new QVBoxLayout;
    auto* up = new QToolButton(order);
    up->setObjectName(QStringLiteral("SpeedButton5"));
    up->setArrowType(Qt::UpArrow);
    app::setHint(up, QStringLiteral("Переместить строку вверх"));
    auto* down = new QToolButton(order);
    down->setObjectName(QStringLiteral("SpeedButton6"));
    down->setArrowType(Qt::DownArrow);
    app::setHint(down, QStringLiteral("Переместить строку вниз"));
    connect(up, &QToolButton::clicked, this, &TfmImport::SpeedButton5Click);
    connect(down, &QToolButton::clicked, this, &TfmImport::SpeedButton6Click);
    moves->addWidget(up);
    moves->addWidget(down);
    moves->addStretch();
    ol->addWidget(m_lb, 1);
    ol->addLayout(moves);
    auto* divider = new QGroupBox(QStringLiteral("Разделить столбцов: "), pFile);
    auto* dl = new QVBoxLayout(divider);
    m_cbTab = new QCheckBox(QStringLiteral("Табуляция"), divider);
    m_cbTab->setObjectName(QStringLiteral("cbTab"));
    m_cbTab->setChecked(true);
    auto* sym = new QHBoxLayout;
    sym->addWidget(new QLabel(QStringLiteral("Символ:"), divider));
    m_eDiv = new QLineEdit(QStringLiteral(";"), divider);
    m_eDiv->setObjectName(QStringLiteral("eDiv"));
    m_eDiv->setMaxLength(1);
    m_eDiv->setAlignment(Qt::AlignCenter);
    QFont bold = m_eDiv->font();
    bold.setBold(true);
    m_eDiv->setFont(bold);
    m_eDiv->setMaximumWidth(40);
    connect(m_eDiv, &QLineEdit::textChanged, this, [this] { m_cbTab->setChecked(false); });
    sym->addWidget(m_eDiv);
    sym->addStretch();
    dl->addWidget(m_cbTab);
    dl->addLayout(sym);
    pl->addWidget(order, 1);
    pl->addWidget(divider);
    pFile->setVisible(m_links);
    layout->addWidget(pFile);

    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("bOK"));
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName(QStringLiteral("bCancel"));
    connect(ok, &QPushButton::clicked, this, &TfmImport::bOKClick);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
}

bool TfmImport::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_eFN && event->type() == QEvent::MouseButtonDblClick) sbFOClick();
    return QDialog::eventFilter(watched, event);
}

void TfmImport::sbFOClick() {
    QString file = m_programDir + QStringLiteral("*.txt");
    if (!m_ui.chooseOpenFile(file, file) || file.isEmpty()) return;
    if (QFileInfo(file).suffix().isEmpty()) file += QStringLiteral(".txt");
    m_eFN->setText(file);
}

void TfmImport::SpeedButton5Click() {
    const int row = m_lb->currentRow();
    if (row <= 0) return;
    m_lb->insertItem(row - 1, m_lb->takeItem(row));
    m_lb->setCurrentRow(row - 1);
}

void TfmImport::SpeedButton6Click() {
    const int row = m_lb->currentRow();
    if (row < 0) return;
    m_lb->addItem(m_lb->takeItem(row));
    m_lb->setCurrentRow(m_lb->count() - 1);
}

void TfmImport::bOKClick() {
    if (m_eDiv->text().isEmpty() && !m_cbTab->isChecked()) {
        Msg(m_ui, QStringLiteral("Укажите разделить столбцов!"));
        return;
    }
    exchange::ImportChoice c;
    c.fileName = m_eFN->text();
    c.symbol = m_cbTab->isChecked() ? QStringLiteral("tab") : m_eDiv->text();
    c.otherSymbol = m_cbTab->isChecked() ? m_eDiv->text() : QStringLiteral("tab");
    c.fields = QStringLiteral("|");
    for (int i = 0; i < m_lb->count(); ++i)
        c.fields += m_lb->item(i)->text() + u'|';
    m_choice = c;
    accept();
}

} // namespace zentaro::dialogs

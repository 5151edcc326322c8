#include "gui/history_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "gui/dialog_units.h"
#include "history/history_table.h"
#include "history/update_history.h"
#include "platform/string_table.h"
#include "platform/text_format.h"

namespace {

constexpr int kTitle = 44032;
constexpr int kReadFailed = 44002;
constexpr int kNothingRecorded = 44003;
constexpr int kCloseButton = 41006;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CHistoryDialog::CHistoryDialog(QWidget* parent, const std::string& path)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("history"));
  setWindowTitle(Text(LoadResString(kTitle)));
  const CDialogUnits units(font());
  auto* layout = new QVBoxLayout(this);

  m_note = new QLabel(this);
  m_note->setWordWrap(true);
  m_note->hide();
  layout->addWidget(m_note);

  const std::vector<std::string> headings = HistoryTableHeadings();
  m_table = new QTableWidget(0, static_cast<int>(headings.size()), this);
  for (std::size_t column = 0; column < headings.size(); ++column) {
    m_table->setHorizontalHeaderItem(static_cast<int>(column), new QTableWidgetItem(Text(headings[column])));
  }
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->verticalHeader()->hide();
  m_table->horizontalHeader()->setStretchLastSection(true);
  m_table->setMinimumSize(units.Size(560, 160));
  layout->addWidget(m_table, 1);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* close = buttons->addButton(Text(LoadResString(kCloseButton)), QDialogButtonBox::RejectRole);
  close->setDefault(true);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  Fill(path.empty() ? CUpdateHistory::DefaultPath() : path);
}

void CHistoryDialog::Fill(const std::string& path) {
  std::vector<UpdateRecord> records;
  try {
    records = CUpdateHistory::ReadExisting(path, {});
  } catch (const CHistoryError& error) {
    m_note->setText(Text(FormatMessage(LoadResString(kReadFailed), {path, error.Reason()})));
    m_note->show();
    return;
  }
  if (records.empty()) {
    m_note->setText(Text(LoadResString(kNothingRecorded)));
    m_note->show();
  }
  m_table->setRowCount(static_cast<int>(records.size()));
  for (std::size_t row = 0; row < records.size(); ++row) {
    const std::vector<std::string> cells = HistoryTableRow(records[row]);
    for (std::size_t column = 0; column < cells.size(); ++column) {
      m_table->setItem(static_cast<int>(row), static_cast<int>(column), new QTableWidgetItem(Text(cells[column])));
    }
  }
  m_table->resizeColumnsToContents();
}

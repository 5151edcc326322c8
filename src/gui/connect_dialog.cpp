#include "gui/connect_dialog.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QThread>
#include <QVBoxLayout>

#include "gui/dialog_units.h"
#include "net/udp_connect_dlg.h"

CConnectDialog::CConnectDialog(CUdpConnectDlg& logic, QWidget* parent) : QDialog(parent), m_logic(logic) {
  setWindowTitle(QString::fromStdString(logic.Text(0)));
  const CDialogUnits units(font());
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
  layout->addWidget(new QLabel(QString::fromStdString(logic.Text(CUdpConnectDlg::kAvailableLabel)), this));

  auto* middle = new QHBoxLayout;
  m_list = new QListWidget(this);
  m_list->setObjectName(QStringLiteral("control401"));
  m_list->setMinimumSize(units.X(150), units.Y(60));
  middle->addWidget(m_list);
  auto* side = new QVBoxLayout;
  for (int id : {CUdpConnectDlg::kFindButton, CUdpConnectDlg::kIdentifyButton, CUdpConnectDlg::kConfigurationButton}) {
    auto* button = new QPushButton(QString::fromStdString(logic.Text(id)), this);
    button->setObjectName(QStringLiteral("control%1").arg(id));
    button->setAutoDefault(false);
    side->addWidget(button);
    m_buttons[id] = button;
  }
  side->addStretch();
  middle->addLayout(side);
  layout->addLayout(middle);

  layout->addWidget(new QLabel(QString::fromStdString(logic.Text(CUdpConnectDlg::kAddressLabel)), this));
  m_address = new QLineEdit(QString::fromStdString(logic.address), this);
  m_address->setObjectName(QStringLiteral("control151"));
  layout->addWidget(m_address);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch();
  for (int id : {CUdpConnectDlg::kOkButton, CUdpConnectDlg::kCancelButton}) {
    auto* button = new QPushButton(QString::fromStdString(logic.Text(id)), this);
    button->setObjectName(QStringLiteral("control%1").arg(id));
    bottom->addWidget(button);
    m_buttons[id] = button;
  }
  m_buttons[CUdpConnectDlg::kOkButton]->setDefault(true);
  layout->addLayout(bottom);

  m_buttons[CUdpConnectDlg::kConfigurationButton]->setVisible(logic.IsConfigurationVisible());
  connect(m_buttons[CUdpConnectDlg::kFindButton], &QPushButton::clicked, this, &CConnectDialog::FindDevices);
  connect(m_buttons[CUdpConnectDlg::kIdentifyButton], &QPushButton::clicked, this, [this] { m_logic.Identify(); });
  connect(m_buttons[CUdpConnectDlg::kOkButton], &QPushButton::clicked, this, &CConnectDialog::accept);
  connect(m_buttons[CUdpConnectDlg::kCancelButton], &QPushButton::clicked, this, &CConnectDialog::reject);
  connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
    m_logic.Select(row);
    if (row >= 0) m_address->setText(QString::fromStdString(m_logic.address));
    Refresh();
  });
  Refresh();
}

CConnectDialog::~CConnectDialog() {
  // The search holds the dialog's discovery; it ends within a second per interface.
  if (m_search != nullptr) m_search->wait();
}

void CConnectDialog::Refresh() {
  bool idle = m_search == nullptr;
  m_buttons[CUdpConnectDlg::kIdentifyButton]->setEnabled(idle && m_logic.IsIdentifyEnabled());
  m_buttons[CUdpConnectDlg::kFindButton]->setEnabled(idle);
  m_buttons[CUdpConnectDlg::kOkButton]->setEnabled(idle);
}

void CConnectDialog::FindDevices() {
  if (m_search != nullptr) return;
  m_list->clear();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  m_search = QThread::create([this] { m_logic.Search(); });
  connect(m_search, &QThread::finished, this, &CConnectDialog::SearchDone);
  Refresh();
  m_search->start();
}

void CConnectDialog::SearchDone() {
  m_search->deleteLater();
  m_search = nullptr;
  QGuiApplication::restoreOverrideCursor();
  m_logic.ShowFound();
  QSignalBlocker quiet(m_list);
  m_list->clear();
  for (const std::string& item : m_logic.ListItems()) m_list->addItem(QString::fromStdString(item));
  Refresh();
}

void CConnectDialog::accept() {
  if (m_search != nullptr) return;
  if (auto result = m_logic.PressOk(m_address->text().toStdString())) done(*result);
}

void CConnectDialog::reject() {
  if (m_search != nullptr) return;
  done(m_logic.Cancel());
}

#include "gui/wizard_page_widget.h"

#include <QBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include "gui/animation_window.h"
#include "gui/artwork.h"
#include "gui/dialog_units.h"
#include "gui/page_controls.h"
#include "platform/string_table.h"

namespace {

constexpr int kTitleControl = 101;
constexpr int kFoundDeviceControl = 102;  // the flash page's found-device line
constexpr int kTitlePointSize = 12;
constexpr int kListTabStopUnits = 32;
constexpr int kSidePictureUnits = 96;
constexpr int kLogHeadingString = 41007;  // "The update did not complete. The log below ..."
constexpr int kLogBoxLines = 4;  // the box's least height, in lines of text
constexpr int kAttachedString = 41010;  // "Device attached": what a list line's mark means

QString ResourceText(int stringId) {
  return stringId == 0 ? QString() : QString::fromStdString(LoadResString(stringId));
}

QLabel* NewLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

QFont CWizardPageWidget::TitleFont(const QFont& dialogFont) {
  QFont font = dialogFont;
  font.setPointSize(kTitlePointSize);
  font.setWeight(QFont::Bold);
  return font;
}

CWizardPageWidget::CWizardPageWidget(const DialogTemplate& dialog, QWidget* parent)
    : QWidget(parent), m_dialog(dialog) {
  setObjectName(QStringLiteral("page%1").arg(dialog.id));
  const CDialogUnits units(font());
  for (const DialogControl& control : dialog.controls) {
    QWidget* widget = CreateControl(control, units);
    if (widget == nullptr) continue;
    if (control.id != 0) {
      widget->setObjectName(QStringLiteral("control%1").arg(control.id));
      m_controls[control.id] = widget;
    } else {
      m_pictures[control.resourceId] = widget;
    }
    if (control.style & CS_HIDDEN) widget->hide();
    m_order.push_back(widget);
  }
  switch (dialog.id) {
    case kStartPageId: LayOutStartPage(units); break;
    case kFlashPageId: LayOutFlashPage(units); break;
    case kProgressPageId: LayOutProgressPage(units); break;
    case kDonePageId: LayOutDonePage(units); break;
    default: LayOutInOrder(units); break;
  }
  setMinimumSize(TemplateSize());
}

QSize CWizardPageWidget::TemplateSize() const { return CDialogUnits(font()).Size(m_dialog.width, m_dialog.height); }

QWidget* CWizardPageWidget::CreateControl(const DialogControl& control, const CDialogUnits& units) {
  const QString text = ResourceText(control.stringId);
  switch (control.kind) {
    case ControlKind::Title: {
      QLabel* label = NewLabel(text, this);
      label->setFont(TitleFont(font()));
      return label;
    }
    case ControlKind::Label: {
      if (control.style & CS_PATH_ELLIPSIS) {
        // A path is detail, drawn a shade lighter than the page's texts.
        auto* line = new CPathLabel(this);
        QPalette detail = line->palette();
        detail.setColor(QPalette::WindowText, detail.color(QPalette::PlaceholderText));
        line->setPalette(detail);
        line->SetFullText(text);
        return line;
      }
      return NewLabel(text, this);
    }
    case ControlKind::Bitmap:
      return new CPicture([](QSize size, qreal ratio) { return CArtwork::StartPicture(size, ratio); }, this);
    case ControlKind::Icon: {
      auto* icon = new QLabel(this);
      const int size = units.Y(24) >= 48 ? 64 : 48;
      if (control.resourceId == kFlashIconId) {
        icon->setPixmap(CArtwork::WarningIcon(size, devicePixelRatioF()));
      } else {
        icon->setPixmap(CArtwork::ApplicationIcon().pixmap(QSize(size, size), devicePixelRatioF()));
      }
      icon->setFixedSize(size, size);
      return icon;
    }
    case ControlKind::ListBox: {
      auto* list = new CTabStopListBox(units.X(kListTabStopUnits), this);
      list->setMinimumHeight(units.Y(36));
      list->SetMarkText(ResourceText(kAttachedString));
      connect(list, &CTabStopListBox::LineSelected, this,
              [this, id = control.id](int index) { emit LineSelected(id, index); });
      return list;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setTextVisible(false);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setFixedHeight(units.Y(10));
      return bar;
    }
    case ControlKind::Animation: {
      auto* animation = new CTransferAnimation(this);
      animation->setFixedSize(units.Size(120, 24));
      return animation;
    }
    case ControlKind::Button: {
      auto* button = new QPushButton(text, this);
      button->setAutoDefault(false);
      button->setMinimumSize(units.Size(50, 14));
      connect(button, &QPushButton::clicked, this, [this, id = control.id] { emit ButtonClicked(id); });
      return button;
    }
    case ControlKind::DropDownList:
    case ControlKind::CheckBox:
      return nullptr;  // only in dialogs of their own, not on wizard pages
  }
  return nullptr;
}

QWidget* CWizardPageWidget::SidePicture(const CDialogUnits& units) {
  QWidget* picture = Picture(kStartBitmapId);
  if (picture == nullptr) {
    // The completion page shows the welcome page's picture too, as wizards' last pages do.
    picture = new CPicture([](QSize size, qreal ratio) { return CArtwork::StartPicture(size, ratio); }, this);
    m_pictures[kStartBitmapId] = picture;
  }
  picture->setFixedWidth(units.X(kSidePictureUnits));
  picture->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  return picture;
}

void CWizardPageWidget::LayOutStartPage(const CDialogUnits& units) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(SidePicture(units));
  auto* column = new QVBoxLayout;
  column->setContentsMargins(units.X(12), units.Y(10), units.X(12), units.Y(8));
  column->setSpacing(units.Y(4));
  column->addWidget(Control(kTitleControl));
  column->addSpacing(units.Y(6));
  column->addWidget(Control(900));
  column->addSpacing(units.Y(6));
  column->addWidget(Control(901));
  column->addWidget(Control(401), 1);
  column->addSpacing(units.Y(2));
  column->addWidget(Control(902));
  row->addLayout(column, 1);
}

void CWizardPageWidget::LayOutFlashPage(const CDialogUnits& units) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(units.X(14), units.Y(10), units.X(14), units.Y(8));
  column->setSpacing(units.Y(4));
  column->addWidget(Control(kTitleControl));
  column->addSpacing(units.Y(4));
  // The device found and both versions, under the title: what the person is about to confirm.
  column->addWidget(Control(kFoundDeviceControl));
  column->addSpacing(units.Y(6));
  auto* row = new QHBoxLayout;
  row->setSpacing(units.X(10));
  if (QWidget* icon = Picture(kFlashIconId)) row->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(units.Y(8));
  for (int id : {900, 901, 902}) texts->addWidget(Control(id));
  texts->addStretch(1);
  row->addLayout(texts, 1);
  column->addLayout(row, 1);
}

void CWizardPageWidget::LayOutProgressPage(const CDialogUnits& units) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(units.X(14), units.Y(10), units.X(14), units.Y(8));
  column->setSpacing(units.Y(4));
  column->addWidget(Control(kTitleControl));
  column->addSpacing(units.Y(14));
  column->addWidget(Control(102));
  column->addWidget(Control(551));
  column->addWidget(Control(103));
  // The project of an application download: "Project folder:" with the folder beside it, and
  // what the project holds below.
  auto* project = new QHBoxLayout;
  project->setSpacing(units.X(4));
  if (auto* label = qobject_cast<QLabel*>(Control(104))) label->setWordWrap(false);
  project->addWidget(Control(104), 0, Qt::AlignTop);
  project->addWidget(Control(105), 1, Qt::AlignTop);
  column->addSpacing(units.Y(10));
  column->addLayout(project);
  column->addWidget(Control(106));
  column->addWidget(Control(556), 0, Qt::AlignHCenter);
  column->addStretch(1);
}

void CWizardPageWidget::LayOutDonePage(const CDialogUnits& units) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  row->addWidget(SidePicture(units));
  auto* column = new QVBoxLayout;
  column->setContentsMargins(units.X(12), units.Y(10), units.X(12), units.Y(8));
  column->setSpacing(units.Y(4));
  column->addWidget(Control(kTitleControl));
  column->addSpacing(units.Y(10));
  column->addWidget(Control(102));
  column->addWidget(Control(103));
  // The log after a failure takes the room between the result and the closing line; without
  // it the closing line sits at the bottom of the page.
  m_logHeading = NewLabel(ResourceText(kLogHeadingString), this);
  m_logHeading->setObjectName(QStringLiteral("logHeading"));
  m_logHeading->hide();
  m_logBox = new QPlainTextEdit(this);
  m_logBox->setObjectName(QStringLiteral("logBox"));
  m_logBox->setReadOnly(true);
  m_logBox->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  m_logBox->setMinimumHeight(m_logBox->fontMetrics().lineSpacing() * kLogBoxLines);
  m_logBox->hide();
  column->addSpacing(units.Y(4));
  column->addWidget(m_logHeading);
  column->addWidget(m_logBox, 1);
  if (QWidget* button = Control(105)) column->addWidget(button, 0, Qt::AlignLeft);
  column->addStretch(0);
  column->addWidget(Control(900));
  row->addLayout(column, 1);
}

void CWizardPageWidget::ShowLogBox(const QString& log) {
  if (m_logBox == nullptr) return;
  m_logBox->setPlainText(log);
  m_logHeading->setVisible(!log.isEmpty());
  m_logBox->setVisible(!log.isEmpty());
}

void CWizardPageWidget::LayOutInOrder(const CDialogUnits& units) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(units.X(14), units.Y(10), units.X(14), units.Y(8));
  column->setSpacing(units.Y(4));
  for (QWidget* widget : m_order) column->addWidget(widget);
  column->addStretch(1);
}

QWidget* CWizardPageWidget::Control(int controlId) const {
  auto it = m_controls.find(controlId);
  return it == m_controls.end() ? nullptr : it->second;
}

QWidget* CWizardPageWidget::Picture(int resourceId) const {
  auto it = m_pictures.find(resourceId);
  return it == m_pictures.end() ? nullptr : it->second;
}

CTabStopListBox* CWizardPageWidget::ListBox(int controlId) const {
  return qobject_cast<CTabStopListBox*>(Control(controlId));
}

QProgressBar* CWizardPageWidget::ProgressBar(int controlId) const {
  return qobject_cast<QProgressBar*>(Control(controlId));
}

void CWizardPageWidget::SetControlText(int controlId, const QString& text) {
  QWidget* widget = Control(controlId);
  if (auto* path = qobject_cast<CPathLabel*>(widget)) {
    path->SetFullText(text);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    button->setText(text);
  }
}

QString CWizardPageWidget::ControlText(int controlId) const {
  QWidget* widget = Control(controlId);
  if (auto* path = qobject_cast<CPathLabel*>(widget)) return path->FullText();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QPushButton*>(widget)) return button->text();
  return {};
}

void CWizardPageWidget::ShowControl(int controlId, bool show) {
  if (QWidget* widget = Control(controlId)) widget->setVisible(show);
}

void CWizardPageWidget::AddListLine(int controlId, const QString& line) {
  if (CTabStopListBox* list = ListBox(controlId)) list->AddLine(line);
}

void CWizardPageWidget::SelectListLine(int controlId, int index) {
  if (CTabStopListBox* list = ListBox(controlId)) list->SelectLine(index);
}

void CWizardPageWidget::MarkListLine(int controlId, int index, bool marked) {
  if (CTabStopListBox* list = ListBox(controlId)) list->SetLineMarked(index, marked);
}

// Once a bar runs its marquee it stays a marquee: later ranges and positions are not drawn.
constexpr char kMarqueeProperty[] = "tavrixMarquee";

void CWizardPageWidget::SetProgressRange(int controlId, int lower, int upper) {
  QProgressBar* bar = ProgressBar(controlId);
  if (bar != nullptr && !bar->property(kMarqueeProperty).toBool()) bar->setRange(lower, upper);
}

void CWizardPageWidget::SetProgressPos(int controlId, int position) {
  QProgressBar* bar = ProgressBar(controlId);
  if (bar != nullptr && !bar->property(kMarqueeProperty).toBool()) bar->setValue(position);
}

void CWizardPageWidget::StartProgressMarquee(int controlId) {
  // A busy bar: Qt runs the marquee when the range is empty.
  if (QProgressBar* bar = ProgressBar(controlId)) {
    bar->setProperty(kMarqueeProperty, true);
    bar->setRange(0, 0);
  }
}

#include "gui/qt_user_interface.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

#include "gui/animation_window.h"
#include "gui/gui_thread.h"
#include "gui/connect_dialog.h"
#include "gui/interface_dialog.h"
#include "gui/language_dialog_widget.h"
#include "gui/socket_login_dialog.h"
#include "platform/front_end.h"
#include "platform/string_table.h"
#include "transport/usb_init_failed_dlg.h"
#include "wizard/dialog_templates.h"
#include "wizard/language_dialog.h"

namespace {

constexpr unsigned kButtonMask = 0x0F;
constexpr unsigned kIconMask = 0xF0;
constexpr int kOkString = 41001;
constexpr int kCancelString = 41002;
constexpr int kYesString = 41003;
constexpr int kNoString = 41004;
constexpr char kResultProperty[] = "tavrixResult";

QString ResourceText(int stringId) { return QString::fromStdString(LoadResString(stringId)); }

QMessageBox::Icon IconFor(unsigned style) {
  switch (style & kIconMask) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QPushButton* AddButton(QMessageBox& box, int stringId, QMessageBox::ButtonRole role, int result) {
  QPushButton* button = box.addButton(ResourceText(stringId), role);
  button->setProperty(kResultProperty, result);
  return button;
}

// The buttons of a style, the default one first. Escape and the close box answer with the
// cancelling button; a Yes/No box has none, so they do nothing there.
void AddButtons(QMessageBox& box, unsigned style) {
  switch (style & kButtonMask) {
    case MB_OKCANCEL: {
      box.setDefaultButton(AddButton(box, kOkString, QMessageBox::AcceptRole, IDOK));
      box.setEscapeButton(AddButton(box, kCancelString, QMessageBox::RejectRole, IDCANCEL));
      break;
    }
    case MB_YESNO: {
      // Action roles keep Qt from picking an escape button of its own.
      box.setDefaultButton(AddButton(box, kYesString, QMessageBox::ActionRole, IDYES));
      AddButton(box, kNoString, QMessageBox::ActionRole, IDNO);
      break;
    }
    default: {
      QPushButton* ok = AddButton(box, kOkString, QMessageBox::AcceptRole, IDOK);
      box.setDefaultButton(ok);
      box.setEscapeButton(ok);
      break;
    }
  }
}

// While the core shows the wait cursor, a question still gets the arrow.
class CArrowCursorScope {
 public:
  CArrowCursorScope() : m_active(QGuiApplication::overrideCursor() != nullptr) {
    if (m_active) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  void Restore() {
    if (m_active) QGuiApplication::restoreOverrideCursor();
    m_active = false;
  }

 private:
  bool m_active;
};

// Opens `dialog` over its owner and, when it finishes, hands `answer` of its result to `done`.
void OpenDialog(QDialog* dialog, CGuiThread::Done done,
                std::function<int(QDialog&, int)> answer = [](QDialog&, int result) { return result; }) {
  auto cursor = std::make_shared<CArrowCursorScope>();
  QObject::connect(dialog, &QDialog::finished, dialog,
                   [dialog, done = std::move(done), answer = std::move(answer), cursor](int result) {
                     cursor->Restore();
                     dialog->deleteLater();
                     done(answer(*dialog, result));
                   });
  dialog->open();
}

void SayOnStandardError(const std::string& text) { std::fprintf(stderr, "%s: %s\n", FrontEndName().c_str(), text.c_str()); }

// A box while the program is ending on request (a signal, the session ending): nobody is
// there to answer it, and the wizard must not wait for an answer. Its text goes to standard
// error, so that a failure's cause is still told, and the answer is the one Escape would give
// (No where a box has no cancelling button).
int AnswerWithoutAsking(const std::string& text, unsigned style) {
  SayOnStandardError(text);
  switch (style & kButtonMask) {
    case MB_OKCANCEL: return IDCANCEL;
    case MB_YESNO: return IDNO;
    default: return IDOK;
  }
}

}  // namespace

CQtUserInterface::CQtUserInterface() = default;

CQtUserInterface::~CQtUserInterface() = default;

void CQtUserInterface::SetMainWindow(QWidget* window) { m_mainWindow = window; }

CAnimationWindow* CQtUserInterface::AnimationWindow() const { return m_animation; }

QWidget* CQtUserInterface::DialogOwner() const {
  if (m_animation && m_animation->isVisible()) return m_animation;
  if (m_mainWindow && m_mainWindow->isVisible() && m_mainWindow->isEnabled()) return m_mainWindow;
  return nullptr;
}

int CQtUserInterface::MessageBox(const std::string& text, unsigned style) {
  if (m_quitRequested) return AnswerWithoutAsking(text, style);
  const QString title = QString::fromStdString(ApplicationName());
  const QString body = QString::fromStdString(text);
  return CGuiThread::Await([this, title, body, style](CGuiThread::Done done) {
    auto* box = new QMessageBox(DialogOwner());
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(body);
    box->setIcon(IconFor(style));
    AddButtons(*box, style);
    OpenDialog(box, std::move(done), [](QDialog& dialog, int) {
      QAbstractButton* clicked = static_cast<QMessageBox&>(dialog).clickedButton();
      return clicked != nullptr ? clicked->property(kResultProperty).toInt() : IDCANCEL;
    });
  });
}

void CQtUserInterface::AnswerOpenMessageBoxes() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(window);
    if (box == nullptr || !box->isVisible()) continue;
    SayOnStandardError(box->text().toStdString());
    // Rejected, the box answers IDCANCEL, which no question takes for a yes.
    box->reject();
  }
}

void CQtUserInterface::Beep() {
  CGuiThread::Post([] { QApplication::beep(); });
}

void CQtUserInterface::BeginWaitCursor() {
  CGuiThread::Post([] { QGuiApplication::setOverrideCursor(Qt::WaitCursor); });
}

void CQtUserInterface::EndWaitCursor() {
  CGuiThread::Post([] { QGuiApplication::restoreOverrideCursor(); });
}

bool CQtUserInterface::IsShiftKeyDown() {
  bool down = false;
  CGuiThread::Run([&down] {
    down = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
  });
  return down;
}

int CQtUserInterface::RunInterfaceDialog(CUsbInitFailedDlg& dialog) {
  return CGuiThread::Await([this, &dialog](CGuiThread::Done done) {
    OpenDialog(new CInterfaceDialog(dialog, DialogOwner()), std::move(done));
  });
}

int CQtUserInterface::RunLanguageDialog(CLanguageDialog& dialog) {
  return CGuiThread::Await([this, &dialog](CGuiThread::Done done) {
    OpenDialog(new CLanguageDialogWidget(dialog, DialogOwner()), std::move(done));
  });
}

int CQtUserInterface::RunSocketLoginDialog(CSocketLoginDlg& dialog) {
  return CGuiThread::Await([this, &dialog](CGuiThread::Done done) {
    OpenDialog(new CSocketLoginDialog(dialog, DialogOwner()), std::move(done));
  });
}

int CQtUserInterface::RunConnectDialog(CUdpConnectDlg& dialog) {
  return CGuiThread::Await([this, &dialog](CGuiThread::Done done) {
    OpenDialog(new CConnectDialog(dialog, DialogOwner()), std::move(done));
  });
}

bool CQtUserInterface::ShowAnimationWindow(int dialogId, int animationId) {
  if (FindDialogTemplate(dialogId) == nullptr) return false;
  CGuiThread::Run([this, dialogId, animationId] {
    if (m_animation) m_animation->CloseWindow();
    delete m_animation;
    m_animation = new CAnimationWindow(dialogId, animationId, m_mainWindow);
    m_animation->Open();
  });
  return true;
}

void CQtUserInterface::SetAnimationText(const std::string& text) {
  CGuiThread::Post([this, line = QString::fromStdString(text)] {
    if (m_animation) m_animation->SetStatusText(line);
  });
}

void CQtUserInterface::CloseAnimationWindow() {
  CGuiThread::Run([this] {
    if (!m_animation) return;
    m_animation->CloseWindow();
    delete m_animation;
    // As the window goes, its owner comes back to the top, enabled.
    if (m_mainWindow) {
      m_mainWindow->setEnabled(true);
      m_mainWindow->raise();
      m_mainWindow->activateWindow();
    }
  });
}

void CQtUserInterface::EnableOwnerWindow(bool enable) {
  CGuiThread::Run([this, enable] {
    if (m_mainWindow) m_mainWindow->setEnabled(enable);
  });
}

bool CQtUserInterface::PumpPendingMessages() {
  if (CGuiThread::IsCurrent()) QCoreApplication::processEvents();
  return !m_quitRequested;
}

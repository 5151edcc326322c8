#include "wizard/anim_thread_dialog.h"

#include <algorithm>

#include "platform/string_table.h"
#include "platform/user_interface.h"
#include "wizard/dialog_templates.h"

CAnimThreadDialog::CAnimThreadDialog(int dialogId, int animationId)
    : m_dialogId(dialogId), m_animationId(animationId) {}

std::string CAnimThreadDialog::Title() const {
  std::string title = LoadResString(DialogStringId(m_dialogId, 0));
  return title.empty() ? ApplicationName() : title;
}

std::string CAnimThreadDialog::Text() const { return LoadResString(DialogStringId(m_dialogId, kTextLabel)); }

std::string CAnimThreadDialog::InitialStatus() const {
  return LoadResString(DialogStringId(m_dialogId, kStatusLine));
}

bool CAnimThreadDialog::HasCancelButton() const {
  const DialogTemplate* dialog = FindDialogTemplate(m_dialogId);
  if (dialog == nullptr) return false;
  return std::any_of(dialog->controls.begin(), dialog->controls.end(),
                     [](const DialogControl& control) { return control.id == kCancelButton; });
}

void CAnimThreadDialog::OnCancel() { m_cancelled = true; }

#include "wizard/dialog_templates.h"

#include <algorithm>

#include "platform/string_table.h"

namespace {

DialogControl Text(int dialogId, int id, ControlKind kind, unsigned style = CS_NONE) {
  return {id, kind, DialogStringId(dialogId, id), 0, style};
}

DialogControl Picture(ControlKind kind, int resourceId) { return {0, kind, 0, resourceId, CS_NONE}; }

DialogControl Blank(int id, ControlKind kind, unsigned style = CS_NONE) { return {id, kind, 0, 0, style}; }

const std::vector<DialogTemplate>& Templates() {
  static const std::vector<DialogTemplate> templates{
      {kStartPageId, 290, 188, 0,
       {Text(kStartPageId, 101, ControlKind::Title), Picture(ControlKind::Bitmap, kStartBitmapId),
        Text(kStartPageId, 900, ControlKind::Label), Text(kStartPageId, 901, ControlKind::Label),
        Blank(401, ControlKind::ListBox), Text(kStartPageId, 902, ControlKind::Label)}},
      {kFlashPageId, 240, 140, 0,
       {Text(kFlashPageId, 101, ControlKind::Title), Blank(102, ControlKind::Label),
        Picture(ControlKind::Icon, kFlashIconId),
        Text(kFlashPageId, 900, ControlKind::Label), Text(kFlashPageId, 901, ControlKind::Label),
        Text(kFlashPageId, 902, ControlKind::Label)}},
      {kProgressPageId, 290, 188, 0,
       {Text(kProgressPageId, 101, ControlKind::Title), Blank(102, ControlKind::Label),
        Blank(551, ControlKind::ProgressBar, CS_HIDDEN),
        Blank(103, ControlKind::Label, CS_PATH_ELLIPSIS),
        Text(kProgressPageId, 104, ControlKind::Label, CS_HIDDEN),
        // The project an application download sends: its folder beside the label 104, and
        // what it holds. Both appear only when the updater names a project.
        Blank(105, ControlKind::Label, CS_HIDDEN | CS_PATH_ELLIPSIS), Blank(106, ControlKind::Label, CS_HIDDEN),
        {556, ControlKind::Animation, 0, kAnimationClipId, CS_HIDDEN}}},
      {kDonePageId, 290, 188, 0,
       {Text(kDonePageId, 101, ControlKind::Title), Blank(102, ControlKind::Label),
        Blank(103, ControlKind::Label), Text(kDonePageId, 900, ControlKind::Label),
        Text(kDonePageId, 105, ControlKind::Button, CS_HIDDEN)}},
      {kAnimationDialogId, 186, 82, DialogStringId(kAnimationDialogId, 0),
       {Text(kAnimationDialogId, 900, ControlKind::Label), Text(kAnimationDialogId, 101, ControlKind::Label),
        {556, ControlKind::Animation, 0, kAnimationClipId, CS_NONE}}},
      {kLanguageDialogId, 186, 86, DialogStringId(kLanguageDialogId, 0),
       {Text(kLanguageDialogId, 900, ControlKind::Label), Blank(201, ControlKind::DropDownList),
        Text(kLanguageDialogId, 202, ControlKind::CheckBox), Text(kLanguageDialogId, 1, ControlKind::Button)}},
      {kAboutDialogId, 220, 80, DialogStringId(kAboutDialogId, 0),
       {Picture(ControlKind::Icon, kSheetIconId), Text(kAboutDialogId, 900, ControlKind::Label),
        Text(kAboutDialogId, 901, ControlKind::Label), Text(kAboutDialogId, 1, ControlKind::Button)}},
  };
  return templates;
}

}  // namespace

const DialogTemplate* FindDialogTemplate(int dialogId) {
  const auto& templates = Templates();
  auto it = std::find_if(templates.begin(), templates.end(),
                         [dialogId](const DialogTemplate& t) { return t.id == dialogId; });
  return it == templates.end() ? nullptr : &*it;
}

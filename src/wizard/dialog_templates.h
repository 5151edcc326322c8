#pragma once
// The wizard's dialog resources as data: each dialog's size in dialog units, its caption and
// its controls with their ids, kinds and texts. A front end lays the controls out from this;
// the texts are resource strings (DialogStringId(dialogId, controlId)) in the chosen language.

#include <vector>

#include "platform/anim_wait.h"  // the animation window's ids

enum class ControlKind {
  Title,          // the page title: bold, 12 points (the shared title font)
  Label,          // static text
  Bitmap,         // a picture from a bitmap resource (resourceId)
  Icon,           // a picture from an icon resource (resourceId)
  ListBox,        // single selection, not sorted, tab stops, vertical scroll bar, border
  ProgressBar,    // border, smooth; marquee when asked
  Animation,      // an animation clip (resourceId), centred, transparent, plays at once
  Button,         // a push button (IDOK = 1 is the default button)
  DropDownList,   // a drop-down list
  CheckBox,       // a check box
};

// Control style bits beyond the kind.
enum ControlStyle : unsigned {
  CS_NONE = 0,
  CS_HIDDEN = 0x1,         // created hidden
  CS_PATH_ELLIPSIS = 0x2,  // a long path is shortened in the middle ("/home/…/image.hex")
};

struct DialogControl {
  int id;            // control id; labels without an id of their own take ids from 900 up
  ControlKind kind;
  int stringId;      // its text (0: none; an empty string means no text either)
  int resourceId;    // Bitmap, Icon, Animation: the resource shown
  unsigned style;    // ControlStyle bits
};

struct DialogTemplate {
  int id;
  int width;          // dialog units
  int height;
  int captionStringId;  // 0: no caption of its own
  std::vector<DialogControl> controls;
};

// Dialog ids.
constexpr int kStartPageId = 1000;
constexpr int kFlashPageId = 30504;
constexpr int kProgressPageId = 1002;
constexpr int kDonePageId = 1003;
constexpr int kLanguageDialogId = 3010;
constexpr int kAboutDialogId = 100;

// The sheet's button texts (string ids).
constexpr int kBackButtonString = 12323;
constexpr int kNextButtonString = 12324;
constexpr int kFinishButtonString = 12325;
constexpr int kCancelButtonString = 12326;
// The "Info" entry that opens the About box.
constexpr int kAboutEntryString = 101;

// Artwork resources.
constexpr int kSheetIconId = 2;
constexpr int kStartBitmapId = 102;
constexpr int kFlashIconId = 100;

// The template of a dialog, or nullptr when the wizard has none with this id.
const DialogTemplate* FindDialogTemplate(int dialogId);

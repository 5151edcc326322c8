#pragma once
// The update wizard's page sequences (dialog ids, ended by 0).

#include "wizard/dialog_templates.h"

// Start-up, and again when the flash page is left.
inline constexpr int kFullSequence[] = {kStartPageId, kFlashPageId, kProgressPageId, kDonePageId, 0};
// The device is up to date: from the start page straight to the done page.
inline constexpr int kUpToDateSequence[] = {kStartPageId, kDonePageId, 0};

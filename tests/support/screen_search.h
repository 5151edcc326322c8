#pragma once
// Controls found on a screen picture by their looks, for tests that drive a program the way a
// person does: by where things are on the screen.

#include <vector>

#include "support/xwd_image.h"

// The push buttons inside `area`, top to bottom and left to right. A button is found by its
// outline: a left and a right edge of one colour and one height, joined at the top and at the
// bottom by straight lines of that colour, around an inside of other colours. The gradient
// inside a button, text, blank space and artwork do not make such a frame.
std::vector<ScreenRect> FindButtons(const CXwdImage& screen, const ScreenRect& area);

#pragma once

#include "platform/ui/ui_view_controller.h"

// The shared navigation bar back to the toolkit's colours, its title in the screen's root view
// tint: what a screen that shows no lecture colours puts back, since the bar is shared by the
// whole stack.
void resetBarToPlainLook(UIViewController& screen);

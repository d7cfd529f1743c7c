#pragma once

// Every window of the program fits the work area of its screen, at any scale factor: a dialog
// built from a template that is larger scrolls, with its command buttons kept in view (see
// WindowGeometry::FitDialog); a dialog laid out by Qt (message boxes, file dialogs, the chart, the
// manual) shrinks to the work area as far as its layout allows; and each opens wholly on the
// screen, where Qt centred it as far as the screen allows.
namespace ui {

// Watches every window the application shows from now on; once per application.
void FitWindowsToScreen();

} // namespace ui

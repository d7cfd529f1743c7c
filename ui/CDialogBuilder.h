#pragma once

#include "DialogTemplate.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <vector>

class QDialog;
class QWidget;

// Turns a dialog template into widgets on a dialog: one child per control, placed in pixels
// converted from dialog units with the dialog font's metrics, created in template (tab) order.
// Every control with a number carries it as its object name and as the property "controlId".
class CDialogBuilder {
public:
    static constexpr const char* kControlIdProperty = "controlId";

    // The font a template asks for; "MS Sans Serif" stands for the desktop's default UI font.
    static QFont DialogFont(const res::DialogTemplate& t);

    // The dialog base units of a font: average character width and character height in pixels.
    static QSize BaseUnits(const QFont& font);

    // A rectangle in dialog units converted to pixels with the given base units.
    static QRect MapDialogRect(const QRect& dialogUnits, const QSize& baseUnits);

    // Builds the template's controls on the dialog, sets caption, font, window flags and the
    // fixed client size. Returns the created widgets in template order.
    static std::vector<QWidget*> Build(QDialog& dialog, const res::DialogTemplate& t);

    // The control number of a widget built from a template, -1 for none.
    static int ControlId(const QWidget* widget);
};

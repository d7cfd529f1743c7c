#include "CDialogBuilder.h"

#include "CSpinButtonCtrl.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <algorithm>
#include <cstring>

namespace {

constexpr int kIconSize = 32;
constexpr const char* kSystemFontName = "MS Sans Serif";
// Used to find the average character width, as the dialog manager of the original platform does.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int MulDivRound(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

bool Has(std::uint32_t flags, std::uint32_t flag) {
    return (flags & flag) != 0;
}

QWidget* CreateControl(QDialog& dialog, const res::ControlTemplate& c) {
    using K = res::ControlKind;
    namespace S = res::style;
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case K::label: {
        auto* label = new QLabel(text, &dialog);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case K::groupBox:
        return new QGroupBox(text, &dialog);
    case K::pushButton: {
        auto* button = new QPushButton(text, &dialog);
        // Only the template names a default button; Qt would otherwise pick one by itself.
        // The dialog gives Enter to the focused button (CDialog::keyPressEvent).
        button->setAutoDefault(false);
        if (Has(c.styleFlags, S::defaultButton))
            button->setDefault(true);
        return button;
    }
    case K::checkBox:
        return new QCheckBox(text, &dialog);
    case K::radioButton: {
        auto* radio = new QRadioButton(text, &dialog);
        radio->setAutoExclusive(false); // exclusivity comes from the group's QButtonGroup
        return radio;
    }
    case K::edit: {
        auto* edit = new QLineEdit(&dialog);
        edit->setReadOnly(Has(c.styleFlags, S::readOnly));
        edit->setFrame(Has(c.styleFlags, S::border));
        if (Has(c.styleFlags, S::numbersOnly))
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        return edit;
    }
    case K::comboList: {
        auto* combo = new QComboBox(&dialog);
        combo->setEditable(false);
        for (const char* item : c.items)
            combo->addItem(QString::fromUtf8(item));
        if (Has(c.styleFlags, S::sorted))
            combo->model()->sort(0);
        combo->setCurrentIndex(-1);
        return combo;
    }
    case K::listView: {
        auto* tree = new QTreeWidget(&dialog);
        tree->setRootIsDecorated(false);
        tree->setItemsExpandable(false);
        tree->setUniformRowHeights(true);
        tree->setAllColumnsShowFocus(true);
        tree->setSelectionMode(Has(c.styleFlags, S::singleSelection) ? QAbstractItemView::SingleSelection
                                                                     : QAbstractItemView::ExtendedSelection);
        tree->setSelectionBehavior(QAbstractItemView::SelectRows);
        tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
        tree->header()->setStretchLastSection(false);
        tree->header()->setSectionsMovable(false);
        return tree;
    }
    case K::spin:
        return new CSpinButtonCtrl(&dialog);
    case K::progressBar: {
        auto* bar = new QProgressBar(&dialog);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case K::icon: {
        auto* label = new QLabel(&dialog);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case K::serialPort:
        return new QWidget(&dialog);
    }
    return new QWidget(&dialog);
}

bool ShowsItsOwnCaption(res::ControlKind kind) {
    using K = res::ControlKind;
    return kind == K::label || kind == K::checkBox || kind == K::radioButton;
}

// The templates were laid out for a narrower font than the desktop's: a caption that would be
// cut off takes the width it needs, never past the dialog's right edge.
void FitCaption(QWidget& w, int dialogWidth) {
    const int needed = std::min(w.sizeHint().width(), dialogWidth - w.x());
    if (needed > w.width())
        w.resize(needed, w.height());
}

void ApplyFocusPolicy(QWidget* w, const res::ControlTemplate& c) {
    using K = res::ControlKind;
    switch (c.kind) {
    case K::label:
    case K::groupBox:
    case K::icon:
    case K::spin:
    case K::serialPort:
    case K::progressBar:
        w->setFocusPolicy(Qt::NoFocus);
        return;
    case K::radioButton:
        return; // Tab reaches the checked button of a group, the arrows move within it
    default:
        if (!Has(c.styleFlags, res::style::tabStop))
            w->setFocusPolicy(Qt::ClickFocus);
        return;
    }
}

Qt::WindowFlags WindowFlagsFor(const res::DialogTemplate& t) {
    namespace D = res::dialogStyle;
    Qt::WindowFlags flags = Has(t.styleFlags, D::minimizeBox) ? Qt::Window : Qt::Dialog;
    flags |= Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint;
    if (Has(t.styleFlags, D::caption))
        flags |= Qt::WindowTitleHint;
    if (Has(t.styleFlags, D::systemMenu)) {
        flags |= Qt::WindowSystemMenuHint;
        if (!Has(t.styleFlags, D::noCloseBox))
            flags |= Qt::WindowCloseButtonHint;
    }
    if (Has(t.styleFlags, D::minimizeBox))
        flags |= Qt::WindowMinimizeButtonHint;
    return flags;
}

} // namespace

QFont CDialogBuilder::DialogFont(const res::DialogTemplate& t) {
    QFont font =
        std::strcmp(t.fontName, kSystemFontName) == 0 ? QApplication::font() : QFont(QString::fromUtf8(t.fontName));
    font.setPointSize(t.pointSize);
    return font;
}

QSize CDialogBuilder::BaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int alphabetWidth = metrics.horizontalAdvance(QString::fromLatin1(kAlphabet));
    const int average = (alphabetWidth / 26 + 1) / 2;
    return {std::max(average, 1), std::max(metrics.height(), 1)};
}

QRect CDialogBuilder::MapDialogRect(const QRect& du, const QSize& base) {
    return {MulDivRound(du.x(), base.width(), 4), MulDivRound(du.y(), base.height(), 8),
            MulDivRound(du.width(), base.width(), 4), MulDivRound(du.height(), base.height(), 8)};
}

int CDialogBuilder::ControlId(const QWidget* widget) {
    if (!widget)
        return -1;
    const QVariant id = widget->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : -1;
}

std::vector<QWidget*> CDialogBuilder::Build(QDialog& dialog, const res::DialogTemplate& t) {
    namespace S = res::style;
    const QFont font = DialogFont(t);
    const QSize base = BaseUnits(font);
    dialog.setFont(font);
    dialog.setWindowTitle(QString::fromUtf8(t.caption));
    dialog.setWindowFlags(WindowFlagsFor(t));
    dialog.setSizeGripEnabled(false);
    dialog.setFixedSize(MapDialogRect(QRect(0, 0, t.cx, t.cy), base).size());

    std::vector<QWidget*> widgets;
    widgets.reserve(t.controls.size());
    QButtonGroup* radioGroup = nullptr;
    QWidget* previous = nullptr;
    for (const res::ControlTemplate& c : t.controls) {
        QWidget* w = CreateControl(dialog, c);
        if (c.id >= 0) {
            w->setObjectName(QString::number(c.id));
            w->setProperty(kControlIdProperty, c.id);
        }
        w->setGeometry(MapDialogRect(QRect(c.x, c.y, c.cx, c.cy), base));
        if (ShowsItsOwnCaption(c.kind))
            FitCaption(*w, dialog.width());
        // A drop-down list's template height includes its opened list; closed, it is one line.
        if (c.kind == res::ControlKind::comboList)
            w->resize(w->width(), std::min(w->height(), w->sizeHint().height()));
        ApplyFocusPolicy(w, c);
        if (Has(c.styleFlags, S::disabled))
            w->setEnabled(false);
        if (Has(c.styleFlags, S::invisible))
            w->hide();

        // Radio buttons belong together from one that starts a group up to the next group start.
        if (c.kind == res::ControlKind::radioButton) {
            if (!radioGroup || Has(c.styleFlags, S::group)) {
                radioGroup = new QButtonGroup(&dialog);
                radioGroup->setExclusive(true);
            }
            radioGroup->addButton(static_cast<QRadioButton*>(w), c.id);
        } else if (Has(c.styleFlags, S::group) || c.kind != res::ControlKind::label) {
            radioGroup = nullptr;
        }

        if (c.kind == res::ControlKind::spin && Has(c.styleFlags, S::autoBuddy)) {
            auto* spin = static_cast<CSpinButtonCtrl*>(w);
            if (auto* buddy = qobject_cast<QLineEdit*>(previous)) {
                spin->SetBuddy(buddy, Has(c.styleFlags, S::arrowKeys));
                if (Has(c.styleFlags, S::alignRight)) {
                    // The arrows take the right end of the field, which gives up that width.
                    QRect field = buddy->geometry();
                    const int spinWidth = w->width();
                    field.setWidth(std::max(field.width() - spinWidth, 1));
                    buddy->setGeometry(field);
                    w->setGeometry(field.right() + 1, field.top(), spinWidth, field.height());
                }
            }
        }
        if (c.kind == res::ControlKind::icon) {
            // A picture control takes the size of the icon it shows.
            auto* label = static_cast<QLabel*>(w);
            label->setPixmap(QApplication::windowIcon().pixmap(kIconSize, kIconSize));
            label->resize(kIconSize, kIconSize);
        }
        // Group boxes are siblings drawn behind the controls they frame.
        if (c.kind == res::ControlKind::groupBox)
            w->lower();
        widgets.push_back(w);
        previous = w;
    }
    return widgets;
}

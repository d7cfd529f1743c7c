// The main window's probe settings: the button that opens them beside the period, kept in the
// user's settings file and handed to every check run.
#include "CMainDlg.h"

#include "CDialogBuilder.h"
#include "CProbeSettingsDlg.h"
#include "ResourceIds.h"

#include <QPushButton>

using namespace res;

namespace {
// At the end of the period's row, under the command buttons, in dialog units.
constexpr int kButtonLeft = 256;
constexpr int kButtonTop = 190;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
} // namespace

void CMainDlg::CreateProbeSettingsButton() {
    m_probeSettings = CProbeSettingsDlg::Load();
    auto* button = new QPushButton(QStringLiteral("Probin&g..."), this);
    button->setObjectName(QStringLiteral("probeSettings"));
    button->setAutoDefault(false); // Enter in a field stays with the window, as for the template's buttons
    button->setGeometry(CDialogBuilder::MapDialogRect(QRect(kButtonLeft, kButtonTop, kButtonWidth, kButtonHeight),
                                                      CDialogBuilder::BaseUnits(font())));
    if (QWidget* startAuto = GetDlgItem(IDC_START_AUTO))
        QWidget::setTabOrder(startAuto, button);
    connect(button, &QPushButton::clicked, this, [this] {
        auto* dialog = new CProbeSettingsDlg(m_probeSettings, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::accepted, this, [this, dialog] {
            m_probeSettings = dialog->Value();
            CProbeSettingsDlg::Save(m_probeSettings);
        });
        dialog->open(); // not exec(): monitoring goes on while it is open
    });
}

#include "CDialog.h"
#include "CDialogBuilder.h"
#include "CSpinButtonCtrl.h"
#include "ResourceIds.h"
#include "Templates.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <set>

using namespace res;

TEST(DialogTemplates, RegistryHoldsEveryTemplateWithUniqueControlNumbers) {
    for (int id : {IDD_ABOUTBOX, IDD_PULSEWICK_DIALOG, IDD_ITEM, IDD_PROGRESS, IDD_PAGER, IDD_MAIL}) {
        const DialogTemplate* t = FindDialogTemplate(id);
        ASSERT_NE(t, nullptr) << id;
        EXPECT_EQ(t->id, id);
        std::set<int> seen;
        for (const ControlTemplate& c : t->controls) {
            if (c.id != IDC_STATIC) {
                EXPECT_TRUE(seen.insert(c.id).second) << "template " << id << " repeats control " << c.id;
            }
        }
    }
    EXPECT_EQ(FindDialogTemplate(101), nullptr);
    EXPECT_EQ(FindDialogTemplate(IDD_PULSEWICK_DIALOG)->controls.size(), 37u);
}

TEST(DialogUnits, ConvertWithTheFontsAverageWidthAndHeight) {
    const QSize base(7, 15);
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(4, 8, 8, 16), base), QRect(7, 15, 14, 30));
    // 50 x 14 units: 50*7/4 = 87.5 and 14*15/8 = 26.25, rounded to the nearest pixel.
    EXPECT_EQ(CDialogBuilder::MapDialogRect(QRect(0, 0, 50, 14), base).size(), QSize(88, 26));
    const QSize fontBase = CDialogBuilder::BaseUnits(CDialogBuilder::DialogFont(MainDialogTemplate()));
    EXPECT_GT(fontBase.width(), 0);
    EXPECT_GT(fontBase.height(), fontBase.width());
}

TEST(DialogBuilder, MainTemplateBuildsFindableFixedSizeControls) {
    CDialog dlg(IDD_PULSEWICK_DIALOG);
    const QSize base = CDialogBuilder::BaseUnits(dlg.font());
    EXPECT_EQ(dlg.windowTitle(), "Pulsewick");
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(dlg.size(), CDialogBuilder::MapDialogRect(QRect(0, 0, 313, 278), base).size());

    auto* list = dlg.GetDlgItem<QTreeWidget>(IDC_LIST);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list->geometry(), CDialogBuilder::MapDialogRect(QRect(15, 7, 221, 74), base));
    auto* add = dlg.GetDlgItem<QPushButton>(IDC_ADD);
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add->text(), "&Add");
    EXPECT_EQ(CDialogBuilder::ControlId(add), IDC_ADD);
    EXPECT_EQ(dlg.GetDlgItem<QLineEdit>(IDC_ADD), nullptr) << "typed lookup must check the kind";
    EXPECT_TRUE(dlg.GetDlgItem<QLineEdit>(IDC_SOUND_FILE)->isReadOnly());
    EXPECT_FALSE(dlg.GetDlgItem<QLineEdit>(IDC_EXECUTE)->isReadOnly());
    EXPECT_TRUE(dlg.GetDlgItem(IDC_COMM)->isHidden());
    for (QPushButton* b : dlg.findChildren<QPushButton*>())
        EXPECT_FALSE(b->isDefault()) << "the main window has no default button";

    // The spin control sits at the right end of its field, which gives up that width.
    auto* spin = dlg.GetDlgItem<CSpinButtonCtrl>(IDC_PERIOD_SPIN);
    auto* period = dlg.GetDlgItem<QLineEdit>(IDC_PERIOD);
    ASSERT_NE(spin, nullptr);
    period->setText(QStringLiteral("15"));
    spin->Step(1);
    EXPECT_EQ(period->text(), "16") << "the spin steps the period field";
    EXPECT_EQ(spin->geometry().left(), period->geometry().right() + 1);
    EXPECT_EQ(spin->geometry().right(), CDialogBuilder::MapDialogRect(QRect(51, 190, 40, 14), base).right());

    // One exclusive radio group, in template order.
    auto* never = dlg.GetDlgItem<QRadioButton>(IDC_LOG_NEVER);
    ASSERT_NE(never->group(), nullptr);
    EXPECT_TRUE(never->group()->exclusive());
    const auto buttons = never->group()->buttons();
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(buttons[2], dlg.GetDlgItem(IDC_LOG_ALWAYS));
}

// The desktop's font is wider than the one the templates were laid out for: a caption must not
// be cut off ("Modem initialization string:" lost its colon), and one that grows must not run
// into a control it was clear of.
TEST(DialogBuilder, CaptionsAreShownWholeWithoutRunningIntoOtherControls) {
    for (int id : {IDD_ABOUTBOX, IDD_PULSEWICK_DIALOG, IDD_ITEM, IDD_PROGRESS, IDD_PAGER, IDD_MAIL}) {
        const DialogTemplate& t = *FindDialogTemplate(id);
        QDialog dlg;
        const std::vector<QWidget*> widgets = CDialogBuilder::Build(dlg, t);
        const QSize base = CDialogBuilder::BaseUnits(dlg.font());
        auto planned = [&](std::size_t i) {
            const ControlTemplate& c = t.controls[i];
            return CDialogBuilder::MapDialogRect(QRect(c.x, c.y, c.cx, c.cy), base);
        };
        for (std::size_t i = 0; i < widgets.size(); ++i) {
            const ControlKind kind = t.controls[i].kind;
            if (kind != ControlKind::label && kind != ControlKind::checkBox && kind != ControlKind::radioButton)
                continue;
            SCOPED_TRACE(testing::Message() << "template " << id << ", \"" << t.controls[i].text << "\"");
            EXPECT_GE(widgets[i]->width(), widgets[i]->sizeHint().width());
            EXPECT_LE(widgets[i]->geometry().right(), dlg.width() - 1);
            for (std::size_t j = 0; j < widgets.size(); ++j) {
                if (j != i && t.controls[j].kind != ControlKind::groupBox && !planned(i).intersects(planned(j))) {
                    EXPECT_FALSE(widgets[i]->geometry().intersects(widgets[j]->geometry())) << t.controls[j].id;
                }
            }
        }
    }
}

TEST(DialogBuilder, OtherTemplatesKeepTheirDefaultsItemsAndTabOrder) {
    CDialog item(IDD_ITEM);
    EXPECT_EQ(item.windowTitle(), "Protocol used");
    EXPECT_TRUE(item.GetDlgItem<QPushButton>(IDOK)->isDefault());
    auto* service = item.GetDlgItem<QComboBox>(IDC_SERVICE);
    ASSERT_EQ(service->count(), 7);
    EXPECT_EQ(service->itemText(3), "Whois");
    EXPECT_EQ(service->currentIndex(), -1);
    item.GetDlgItem<QLineEdit>(IDC_PORT)->setText(QStringLiteral("80"));
    item.GetDlgItem<CSpinButtonCtrl>(IDC_PORT_SPIN)->Step(1);
    EXPECT_EQ(item.GetDlgItem<QLineEdit>(IDC_PORT)->text(), "81") << "the spin steps the port field";
    EXPECT_NE(item.GetDlgItem<QRadioButton>(IDC_ICMP)->group(), nullptr);
    EXPECT_EQ(item.GetDlgItem<QRadioButton>(IDC_ICMP)->group(), item.GetDlgItem<QRadioButton>(IDC_CONNECT)->group());

    CDialog progress(IDD_PROGRESS);
    EXPECT_EQ(progress.windowTitle(), "Checking connections.  Please wait...");
    EXPECT_FALSE(progress.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(progress.GetDlgItem<QProgressBar>(IDC_PROGRESS)->maximum(), 100);

    CDialog pager(IDD_PAGER);
    EXPECT_EQ(pager.GetDlgItem<QComboBox>(IDC_COM_PORT)->itemText(8), "COM9:");

    // The mail dialog lists OK first, so it is the first stop of the tab chain and gets the focus.
    CDialog mail(IDD_MAIL);
    mail.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&mail));
    EXPECT_EQ(mail.focusWidget(), mail.GetDlgItem(IDOK));
    std::vector<int> chain;
    QWidget* w = mail.GetDlgItem(IDOK);
    for (int i = 0; i < 6; ++i, w = w->nextInFocusChain())
        chain.push_back(CDialogBuilder::ControlId(w));
    EXPECT_EQ(chain, (std::vector<int>{IDOK, IDCANCEL, -1, IDC_MAIL_FROM, -1, IDC_MAIL_SERVER}));
}

TEST(SpinButtonCtrl, StepsFromTheTypedNumberWithinItsRange) {
    CDialog dlg(IDD_PULSEWICK_DIALOG);
    auto* spin = dlg.GetDlgItem<CSpinButtonCtrl>(IDC_PERIOD_SPIN);
    auto* period = dlg.GetDlgItem<QLineEdit>(IDC_PERIOD);
    spin->SetRange(1, 100000);
    int reported = 0;
    QObject::connect(spin, &CSpinButtonCtrl::stepped, [&](int pos) { reported = pos; });

    period->setText("  999 ");
    spin->Step(+1);
    EXPECT_EQ(period->text(), "1000") << "no thousands separator";
    EXPECT_EQ(reported, 1000);
    period->setText("abc"); // not a number: continue from the last position
    spin->Step(-1);
    EXPECT_EQ(period->text(), "999");
    period->setText("100000");
    spin->Step(+1);
    EXPECT_EQ(period->text(), "100000");
    period->setText("1");
    QTest::keyClick(period, Qt::Key_Down);
    EXPECT_EQ(period->text(), "1");
    QTest::keyClick(period, Qt::Key_Up);
    EXPECT_EQ(period->text(), "2");
}

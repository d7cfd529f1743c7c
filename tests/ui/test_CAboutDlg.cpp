#include "CAboutDlg.h"
#include "ProgramIcon.h"
#include "ResourceIds.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(ProgramIcon, EverySizeIsBuiltIntoTheProgram) {
    const QIcon icon = ui::ProgramIcon();
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QPixmap pixmap = icon.pixmap(size, size);
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.size(), QSize(size, size));
    }
}

TEST(ProgramIcon, InstalledItIsTheIconOfEveryWindow) {
    ui::InstallProgramIcon();
    QWidget window;
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(window.windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

TEST(AboutDlg, ShowsIconNameAndVersionAndOkEndsIt) {
    ui::InstallProgramIcon();
    QWidget owner;
    CAboutDlg dlg(&owner);
    EXPECT_EQ(dlg.windowTitle(), "About Pulsewick");
    QStringList texts;
    bool hasIcon = false;
    for (const QLabel* label : dlg.findChildren<QLabel*>()) {
        texts << label->text();
        hasIcon = hasIcon || !label->pixmap().isNull();
    }
    EXPECT_TRUE(texts.contains("Pulsewick Version 2.1"));
    EXPECT_TRUE(hasIcon);

    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    auto* ok = dlg.GetDlgItem<QPushButton>(res::IDOK);
    ASSERT_NE(ok, nullptr);
    ok->click();
    EXPECT_FALSE(dlg.isVisible());
}

} // namespace

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Widget tests need one application object for the whole run.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The window keeps its size and choices in the user's settings: never the real user's here.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

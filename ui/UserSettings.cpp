#include "UserSettings.h"

namespace ui {

namespace {
constexpr const char* kSettingsOrganisation = "pulsewick";
constexpr const char* kSettingsApplication = "pulsewick";
} // namespace

QSettings UserSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(kSettingsOrganisation),
                     QString::fromLatin1(kSettingsApplication));
}

} // namespace ui

#include "app/windowing_platform.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace {

constexpr const char* platformVariable = "QT_QPA_PLATFORM";

std::string variable(const char* name) {
    return qEnvironmentVariable(name).toStdString();
}

// Runs once the application object has loaded its platform: the variable has done its work.
void forgetChosenPlatform() {
    qunsetenv(platformVariable);
}

} // namespace

std::string preferredWindowingPlatform(const WindowingEnvironment& environment) {
    const bool wayland =
        !environment.waylandDisplay.empty() || environment.sessionType == "wayland";
    if (!environment.qpaPlatform.empty() || !wayland || environment.x11Display.empty())
        return {};
    return "xcb;wayland";
}

void chooseWindowingPlatform() {
    const std::string platform =
        preferredWindowingPlatform({variable(platformVariable), variable("WAYLAND_DISPLAY"),
                                    variable("XDG_SESSION_TYPE"), variable("DISPLAY")});
    if (platform.empty())
        return;
    qputenv(platformVariable, QByteArray::fromStdString(platform));
    qAddPreRoutine(forgetChosenPlatform);
}

void reserveActivationTokenSlot() {
    if (!qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"))
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray());
}

bool isWaylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

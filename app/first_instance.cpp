#include "launcher/first_instance.h"

#include "app/zorvant_app.h"

extern "C" const char zorvantBuildIdentity[] = ZORVANT_BUILD_IDENTITY;

extern "C" int zorvantRunFirstInstance(int argc, char** argv, const FirstInstanceStart* start) {
    return ZorvantApp::main(argc, argv, *start);
}

#include "app/first_instance.h"

#include "app/zorvant_app.h"

extern "C" int zorvantRunFirstInstance(int argc, char** argv, int reopenSocket) {
    return ZorvantApp::main(argc, argv, reopenSocket);
}

#include "app/zorvant_app.h"

int main(int argc, char** argv) {
    return ZorvantApp::main(argc, argv);
}

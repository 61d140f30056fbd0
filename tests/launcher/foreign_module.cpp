// A program module as another build of Zorvant makes it: the same entry, another identity. A
// launcher must refuse it before calling its entry, whose arguments may have changed shape.
#include "launcher/first_instance.h"

extern "C" const char zorvantBuildIdentity[] = "another-build";

extern "C" int zorvantRunFirstInstance(int, char**, const FirstInstanceStart*) {
    return 42;
}

#pragma once

#include <memory>

#include "launcher/first_instance.h"

class AppDelegate;

// The application: one instance per user, no window at launch, no quit command of its own.
// It runs until the session ends it (SIGTERM, or SIGINT in a terminal).
class ZorvantApp {
public:
    // Runs the program as the user's one instance; start.reopenSocket listens for the requests
    // of later launches. The result is the process's exit status.
    static int main(int argc, char** argv, const FirstInstanceStart& start);

private:
    std::unique_ptr<AppDelegate> appDelegate;
};

#pragma once

#include <memory>

class AppDelegate;

// The application: one instance per user, no window at launch, no quit command of its own.
// It runs until the session ends it (SIGTERM, or SIGINT in a terminal).
class ZorvantApp {
public:
    // Runs the program as the user's one instance; reopenSocket listens for the requests of
    // later launches. The result is the process's exit status.
    static int main(int argc, char** argv, int reopenSocket);

private:
    std::unique_ptr<AppDelegate> appDelegate;
};

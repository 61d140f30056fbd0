#include "support/test_processes.h"

#include <csignal>

#include <sys/prctl.h>

#include <QProcess>

namespace {

constexpr int timeoutMs = 10000;

} // namespace

void endWithTheTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void endAll(std::initializer_list<QProcess*> processes) {
    for (QProcess* process : processes) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(timeoutMs))
            process->kill();
        process->waitForFinished(timeoutMs);
    }
}

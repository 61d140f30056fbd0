#include "platform/command_runner.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds patience) {
    CommandResult result;
    const QString found = QStandardPaths::findExecutable(QString::fromStdString(program));
    if (found.isEmpty()) {
        result.installed = false;
        return result;
    }
    QStringList qArguments;
    for (const std::string& argument : arguments)
        qArguments << QString::fromStdString(argument);
    QProcess process;
    // The tools answer in English whatever the user's language, so that their answers parse.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(found, qArguments);
    if (!process.waitForStarted(static_cast<int>(patience.count())))
        return result;
    if (!process.waitForFinished(static_cast<int>(patience.count()))) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return result;
    result.ran = true;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
}

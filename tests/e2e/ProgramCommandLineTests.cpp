#include "tests/support/qt/QtTestSupport.hpp"

#include <QProcess>

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

constexpr int deadlineMs = 30000;

struct Finished {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

// As over SSH or from a script: no display and no platform chosen, so a window could not open.
Finished runWithoutDisplay(const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
        environment.remove(QString::fromLatin1(name));
    }
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TAVRIK_LINK_EXECUTABLE), arguments);
    Finished run;
    if (!program.waitForFinished(deadlineMs)) {
        program.kill();
        program.waitForFinished(deadlineMs);
        return run;
    }
    run.exitCode = program.exitCode();
    run.exitStatus = program.exitStatus();
    run.out = QString::fromUtf8(program.readAllStandardOutput());
    run.err = QString::fromUtf8(program.readAllStandardError());
    return run;
}

TEST(ProgramCommandLineTest, AnswersWithoutADisplay)
{
    struct Case {
        QStringList arguments;
        int exitCode;
        QString onStdout;
        QString onStderr;
    };
    const std::vector<Case> cases {
        { { QStringLiteral("--help") }, 0, QStringLiteral("--demo"), QString() },
        { { QStringLiteral("--version") }, 0, QStringLiteral("Tavrik Link "), QString() },
        { { QStringLiteral("--dem") }, 2, QString(), QStringLiteral("--dem") },
        { { QStringLiteral("demo") }, 2, QString(), QStringLiteral("Unexpected argument 'demo'") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Finished run = runWithoutDisplay(c.arguments);
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit) << run.err.toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        if (c.onStdout.isEmpty()) {
            EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        } else {
            EXPECT_TRUE(run.out.contains(c.onStdout)) << run.out.toStdString();
        }
        if (!c.onStderr.isEmpty()) {
            EXPECT_TRUE(run.err.contains(c.onStderr)) << run.err.toStdString();
        }
    }
}

} // namespace
} // namespace tavrik::test

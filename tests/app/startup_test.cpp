// Start-up and end of the program, seen from outside: the last-resort box and
// exit code 1 when the chat window cannot be built, exit code 0 after it is
// closed or after the program is told to end.
#include <gtest/gtest.h>
#include <signal.h>

#include <QProcess>
#include <regex>
#include <string>

namespace {

struct HelperRun {
  int exit_code = -1;
  std::string out;
};

HelperRun RunHelper(const QString& mode) {
  QProcess process;
  process.start(KV_STARTUP_HELPER, {mode});
  HelperRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished();
    return run;
  }
  run.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
  QByteArray out = process.readAllStandardOutput();
  run.out.assign(out.constData(), static_cast<std::size_t>(out.size()));
  return run;
}

TEST(StartUp, FailureWhileTheWindowIsBuiltShowsTheApplicationErrorBoxAndEndsWithOne) {
  HelperRun run = RunHelper("fail");
  EXPECT_EQ(run.exit_code, 1);
  std::regex box(
      "box: Application Error\\|Exception Exception in module startup_helper at [0-9A-F]{8}\\.\r\n"
      "Could not bind socket\\. Address and port are already in use\\.\r\n\\|0\n");
  EXPECT_TRUE(std::regex_match(run.out, box)) << run.out;
}

TEST(StartUp, TerminationSignalWithTheDialogOpenCancelsItAndEndsWithZero) {
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    QProcess process;
    process.start(KV_STARTUP_HELPER, {"dialog"});
    ASSERT_TRUE(process.waitForStarted(60000));
    // Polls the helper's output until the dialog's loop runs.
    QByteArray out;
    while (!out.contains("dialog open\n") && process.waitForReadyRead(60000)) {
      out += process.readAllStandardOutput();
    }
    ASSERT_TRUE(out.contains("dialog open\n")) << out.constData();
    ::kill(static_cast<pid_t>(process.processId()), signal);
    ASSERT_TRUE(process.waitForFinished(60000)) << "signal " << signal;
    out += process.readAllStandardOutput();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "signal " << signal;
    EXPECT_EQ(process.exitCode(), 0) << "signal " << signal;
    EXPECT_EQ(out.toStdString(), "dialog open\nmodal result: 2\n") << "signal " << signal;
  }
}

TEST(StartUp, ClosingTheChatWindowEndsWithZeroAndNoBox) {
  HelperRun run = RunHelper("close");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "");
}

}  // namespace

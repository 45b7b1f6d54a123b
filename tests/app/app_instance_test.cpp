// The program as a process: one instance at a time.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

TEST(Instance, SecondStartExitsSilently) {
  QTemporaryDir dir;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", dir.path());
  env.insert("Q7V_REGISTRY_FILE", dir.filePath("r.dat"));
  env.insert("Q7V_CAMSDK_CONFIG_DIR", dir.path());
  QProcess first, second;
  for (QProcess* p : {&first, &second}) {
    p->setProcessEnvironment(env);
    p->setWorkingDirectory(dir.path());
  }
  first.start(Q7V_APP_EXE, {});
  ASSERT_TRUE(first.waitForStarted(10000));
  // The first holds the lock once it is up.
  for (int i = 0; i < 200 && !QFileInfo::exists(dir.filePath("Q7V-Measuring Software.lock")); ++i) QThread::msleep(50);
  ASSERT_TRUE(QFileInfo::exists(dir.filePath("Q7V-Measuring Software.lock")));
  second.start(Q7V_APP_EXE, {});
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
  EXPECT_EQ(first.state(), QProcess::Running);
  first.terminate();
  if (!first.waitForFinished(10000)) first.kill();
  first.waitForFinished(5000);
}

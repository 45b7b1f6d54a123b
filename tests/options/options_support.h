#pragma once
// Shared pieces of the option tests: the camera tests' fixture with its camera object behind a
// host of our own, and prompts that answer from a script instead of opening dialogs.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <deque>
#include <optional>
#include <vector>

#include "ui/AppHost.h"
#include "camera/CameraProcess.h"
#include "options/OptionsCommon.h"
#include "platform/camsdk/camsdk.h"
#include "platform/camsdk/camsdk_testing.h"
#include "platform/registry.h"
#include "platform/strings.h"
#include "tests/camera/camera_support.h"

// Answers the pickers from queues (an empty queue cancels) and records the messages shown.
class ScriptedPrompts : public options::IPrompts {
 public:
  std::optional<QString> PickFolder(QWidget*, const QString& title, const QString&) override {
    folderTitles.push_back(title);
    return Next(folders);
  }
  std::optional<QString> PickOpenFile(QWidget*, const QString& filter) override {
    filters.push_back(filter);
    return Next(files);
  }
  std::optional<QString> PickSaveFile(QWidget*, const QString& filter, const QString& suffix) override {
    filters.push_back(filter);
    suffixes.push_back(suffix);
    return Next(files);
  }
  std::optional<COLORREF> PickColor(QWidget*, COLORREF) override {
    if (colors.empty()) return std::nullopt;
    const COLORREF c = colors.front();
    colors.pop_front();
    return c;
  }
  void Message(QWidget*, const QString& text) override { messages.push_back(text); }

  std::deque<QString> folders, files;
  std::deque<COLORREF> colors;
  std::vector<QString> messages, filters, suffixes, folderTitles;

 private:
  static std::optional<QString> Next(std::deque<QString>& q) {
    if (q.empty()) return std::nullopt;
    QString s = q.front();
    q.pop_front();
    return s;
  }
};

class TestHost : public IAppHost {
 public:
  CCameraProcess* Camera() override { return camera; }
  void RedrawView() override { ++redraws; }
  CCameraProcess* camera = nullptr;
  int redraws = 0;
};

// The camera tests' fixture (temporary working folder and settings store, synchronous
// simulated cameras, a camera object) with that camera object behind the host, English texts
// and scripted prompts.
class OptionsTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    SetUiLanguage(UiLanguage::English);
    host.camera = camera.get();
    SetAppHost(&host);
    options::SetPrompts(&prompts);
  }
  void TearDown() override {
    options::SetPrompts(nullptr);
    SetAppHost(nullptr);
    CameraTest::TearDown();
  }
  QString QPath(const char16_t* name) const { return dir.path() + u'/' + QString::fromUtf16(name); }

  // Lists the simulated cameras of model `key` ("color", "mono"), opens the first and makes it
  // the current camera; returns its library handle.
  int OpenCurrent(const char* key) {
    CamSdkTestSetModels(key);
    EXPECT_GE(List(), 1);
    EXPECT_EQ(Open(0), 1);
    camera->SetCurCamera(0);
    return Handle(0);
  }

  static void Click(QWidget* w) {
    ASSERT_NE(w, nullptr);
    // Check boxes take clicks on their box and caption only, at the left.
    const bool box = qobject_cast<QCheckBox*>(w) != nullptr;
    QTest::mouseClick(w, Qt::LeftButton, {}, box ? QPoint(6, w->height() / 2) : w->rect().center());
  }
  // Chooses a drop-down item as the user does (the handlers act on "activated").
  static void Choose(QComboBox* c, int index) {
    c->setCurrentIndex(index);
    emit c->activated(index);
  }
  static void Type(QLineEdit* e, const QString& text) { e->setText(text); }

  TestHost host;
  ScriptedPrompts prompts;
};

#include "options/OptVideoPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "res/StringIds.h"
#include "ui/DlgTexts.h"
#include "options/OptionsCommon.h"

using namespace options;
using ui::Ctl;

namespace {
constexpr int kMaxFolder = 65535;
constexpr int kMaxPrefix = 259;
}  // namespace

COptVideoDlg::COptVideoDlg(QWidget* parent) : QWidget(parent) {
  ctrls_ = ui::BuildControls(this, {
                                       {kStrCodec, Ctl::Label},
                                       {IDC_CODEC, Ctl::Combo, 0, 1, 2},
                                       {kStrVideoQuality, Ctl::Label},
                                       {IDC_QUALITY, Ctl::Combo, 0, 1, 2},
                                       {kStrVideoPath, Ctl::Label},
                                       {IDC_FOLDER, Ctl::Edit, 0, 1},
                                       {IDC_BROWSE, Ctl::Button, 0, 2},
                                       {kStrVideoPrefix, Ctl::Label},
                                       {IDC_PREFIX, Ctl::Edit, 0, 1, 2},
                                   });
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->setRowStretch(4, 1);
  auto* codec = ctrls_.Find<QComboBox>(IDC_CODEC);
  // The one codec the recorder writes (codec value 1): each frame a JPEG picture in an AVI file.
  codec->addItem(QStringLiteral("Motion JPEG"));
  codec->setCurrentIndex(-1);
  auto* quality = ctrls_.Find<QComboBox>(IDC_QUALITY);
  for (std::uint32_t id : {13u, 14u, 15u}) quality->addItem(Str(id));
  quality->setCurrentIndex(-1);
  ctrls_.Find<QLineEdit>(IDC_FOLDER)->setMaxLength(kMaxFolder);
  ctrls_.Find<QLineEdit>(IDC_PREFIX)->setMaxLength(kMaxPrefix);
  NoAutoDefault(this);

  connect(ctrls_.Find<QPushButton>(IDC_BROWSE), &QPushButton::clicked, this, [this] {
    auto* edit = ctrls_.Find<QLineEdit>(IDC_FOLDER);
    if (const auto folder = Prompts().PickFolder(this, Str(sid::kPleaseSelectPath), edit->text())) edit->setText(*folder);
  });
  LoadDlgItemTexts(this);
}

void COptVideoDlg::LoadSettings(stVideoSetting s) {
  ctrls_.Find<QLineEdit>(IDC_FOLDER)->setText(QStr(s.folder));
  ctrls_.Find<QLineEdit>(IDC_PREFIX)->setText(QStr(s.prefix));
  ctrls_.Find<QComboBox>(IDC_QUALITY)->setCurrentIndex(s.quality >= 0 && s.quality <= 2 ? s.quality : -1);
  ctrls_.Find<QComboBox>(IDC_CODEC)->setCurrentIndex(s.codec == 1 ? 0 : -1);
}

stVideoSetting COptVideoDlg::SaveSettings() const {
  stVideoSetting s;
  s.folder = WStr(ctrls_.Find<QLineEdit>(IDC_FOLDER)->text().left(kMaxFolder));
  s.prefix = WStr(ctrls_.Find<QLineEdit>(IDC_PREFIX)->text().left(kMaxPrefix));
  s.codec = ctrls_.Find<QComboBox>(IDC_CODEC)->currentIndex() == 0 ? 1 : 0;
  s.quality = std::max(ctrls_.Find<QComboBox>(IDC_QUALITY)->currentIndex(), 0);
  s.spare = 0;
  s.recording = false;
  return s;
}

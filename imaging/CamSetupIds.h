#pragma once
// The camera panel's control ids, in the order of its control table (CamSetupDlg.cpp). The
// numbers are fixed: the string tables give each control its caption by id, and the frame
// enables the panel's controls by id.
//
// Suffixes tell the kind: Group (group box), Label, Edit, Readout (read-only edit showing a
// slider's value), Slider, Spin (spin arrows beside an edit), Combo, Check, Radio, Button.

namespace camsetup {

enum PanelCtrl : int {
  kCamSetupPanel = 314,  // the panel itself

  kCameraCombo = 1045,          // the cameras found
  kDetectCamerasButton = 1077,  // "Probe"

  // Resolution
  kResolutionGroup = 1201,
  kPreviewSizeLabel = 1086,
  kPreviewSizeCombo = 1175,  // the resolutions, and "ROI" last
  kCaptureSizeLabel = 1202,
  kCaptureSizeCombo = 1176,
  kRoiParamLabel = 1180,
  kRoiXEdit = 1182,
  kRoiYEdit = 1183,
  kRoiWidthEdit = 1177,
  kRoiHeightEdit = 1178,
  kRoiSettingButton = 1179,  // "Set ROI"

  // Exposure Control
  kExposureGroup = 1031,
  kAutoExposureCheck = 1001,
  kRegionAutoExposureCheck = 1172,
  kAeAdjustGainCheck = 1346,
  kAeAdjustExposureCheck = 1347,
  kFocusAssistCheck = 1348,
  kAeSchemeLabel = 1345,
  kAeSchemeCombo = 1349,
  kAeTargetLabel = 1205,
  kAeTargetReadout = 1047,
  kAeTargetMinLabel = 1203,
  kAeTargetSlider = 1002,
  kAeTargetMaxLabel = 1204,
  kAnalogGainLabel = 1206,
  kAnalogGainReadout = 1048,  // also takes a typed gain
  kAnalogGainMinLabel = 1208,
  kAnalogGainSlider = 1003,
  kAnalogGainMaxLabel = 1209,
  kExposureTimeLabel = 1306,
  kExposureMinutesEdit = 1307,
  kExposureMinutesSpin = 1308,
  kExposureMinutesLabel = 1313,
  kExposureSecondsEdit = 1309,
  kExposureSecondsSpin = 1310,
  kExposureSecondsLabel = 1314,
  kExposureMsEdit = 1311,
  kExposureMsSpin = 1312,
  kExposureMsLabel = 1315,
  kExposureUsEdit = 1316,
  kExposureUsSpin = 1317,
  kExposureUsLabel = 1318,

  // Image Adjustment
  kImageAdjustGroup = 1032,
  kGammaLabel = 1210,
  kGammaSlider = 1009,
  kGammaReadout = 1049,
  kContrastLabel = 1211,
  kContrastSlider = 1010,
  kContrastReadout = 1050,
  kBlackLevelLabel = 1350,
  kBlackLevelSlider = 1011,
  kBlackLevelReadout = 1051,
  kAdaptiveBlackLevelCheck = 1351,

  // Color Adjustment; each gain slider has its two ends named above it ("Cyan." to "Red.").
  kColourAdjustGroup = 1212,
  kOnceWhiteBalanceButton = 1059,
  kRegionWhiteBalanceCheck = 1171,
  kAutoWhiteBalanceCheck = 1352,
  kRedGainMinLabel = 1213,
  kRedGainMaxLabel = 1214,
  kRedGainLabel = 1215,
  kRedGainSlider = 1053,
  kRedGainReadout = 1058,
  kGreenGainMinLabel = 1218,
  kGreenGainMaxLabel = 1219,
  kGreenGainLabel = 1216,
  kGreenGainSlider = 1054,
  kGreenGainReadout = 1057,
  kBlueGainMinLabel = 1220,
  kBlueGainMaxLabel = 1221,
  kBlueGainLabel = 1217,
  kBlueGainSlider = 1055,
  kBlueGainReadout = 1056,
  kSaturationLabel = 1222,
  kSaturationSlider = 1046,
  kSaturationReadout = 1052,
  kSaturationMinLabel = 1223,
  kSaturationMaxLabel = 1224,

  // Image Optimization
  kImageOptimizeGroup = 1225,
  kSharpnessLabel = 1226,
  kSharpnessSlider = 1064,
  kSharpnessReadout = 1060,
  kSharpnessMinLabel = 1227,
  kSharpnessMaxLabel = 1228,
  kInverseCheck = 1066,
  kMonochromeCheck = 1069,
  kFlipVerticalCheck = 1067,
  kFlipHorizontalCheck = 1068,

  // Dead Pixel Correction
  kDeadPixelGroup = 1242,
  kDeadPixelCorrectionCheck = 1065,
  kCalcDeadPixelsButton = 1239,  // "Create Info"

  // Light Frequency
  kLightFrequencyGroup = 1229,
  kAntiFlickDcRadio = 1071,
  kAntiFlick50HzRadio = 1072,
  kAntiFlick60HzRadio = 1073,

  // Media Type
  kMediaTypeGroup = 1241,
  kMediaTypeCombo = 1240,

  // Frame Speed
  kFrameSpeedGroup = 1034,
  kFrameSpeedLowRadio = 1025,
  kFrameSpeedNormalRadio = 1026,
  kFrameSpeedHighRadio = 1036,

  // Save and load parameter
  kParamTeamGroup = 1035,
  kTeamARadio = 1027,
  kTeamBRadio = 1028,
  kTeamCRadio = 1029,
  kTeamDRadio = 1030,
  kSaveParamButton = 1014,
  kReadParamButton = 1062,      // "Load"
  kFactoryDefaultButton = 1063,  // "Default"

  // The single-field exposure input in milliseconds: never shown, still written.
  kExposureFieldLabel = 1207,
  kExposureFieldEdit = 1007,
  kExposureFieldUnitLabel = 1269,
  kSetExposureButton = 1017,
};

// The controls the view enables while a camera plays and disables when it stops.
inline constexpr int kLiveControls[] = {
    kPreviewSizeCombo, kCaptureSizeCombo, kAutoExposureCheck, kRegionAutoExposureCheck, kAeTargetSlider,
    kAnalogGainSlider, kExposureFieldEdit, kExposureMinutesEdit, kExposureMsEdit, kExposureSecondsEdit,
    kExposureUsEdit, kExposureMinutesSpin, kExposureSecondsSpin, kExposureMsSpin, kExposureUsSpin,
    kSetExposureButton, kGammaSlider, kContrastSlider, kOnceWhiteBalanceButton, kRegionWhiteBalanceCheck,
    kRedGainSlider, kGreenGainSlider, kBlueGainSlider, kSaturationSlider, kSharpnessSlider,
    kDeadPixelCorrectionCheck, kInverseCheck, kMonochromeCheck, kFlipVerticalCheck, kFlipHorizontalCheck,
    kAntiFlickDcRadio, kAntiFlick50HzRadio, kAntiFlick60HzRadio, kFrameSpeedLowRadio, kFrameSpeedNormalRadio,
    kFrameSpeedHighRadio, kTeamARadio, kTeamBRadio, kTeamCRadio, kTeamDRadio, kSaveParamButton, kReadParamButton,
    kFactoryDefaultButton, kCalcDeadPixelsButton, kMediaTypeCombo, kFocusAssistCheck};

}  // namespace camsetup

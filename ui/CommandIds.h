#pragma once
// The ids of the frame's menu and toolbar commands, and of its docked windows. The string table
// holds each command's menu text and prompt under the same id, and the router (app/) dispatches
// by it; they live below every window so that panes and dialogs can name the commands they
// raise or answer without reaching up into the frame.
namespace ids {

// File
inline constexpr int kFileOpen = 57601, kFileSaveAs = 57604, kExportWord = 32860, kExportExcel = 32859;
inline constexpr int kExit = 57665;
// View
inline constexpr int kMeasuringBar = 32814, kZoomBar = 32826, kCameraControl = 32774, kLayerEditor = 32776;
inline constexpr int kImageListView = 32906, kFullScreen = 32808, kFullScreenFrame = 32806;
inline constexpr int kFullScreenWindow = 59144;  // the full-screen window's own way back
inline constexpr int kZoomIn = 32821, kZoomOut = 32822, kZoomFit = 32823, kZoomOriginal = 32824, kZoomCombo = 103;
inline constexpr int kBackground = 32819;
// Camera
inline constexpr int kLive = 32775, kStop = 32801, kCapture = 32802, kRecord = 27, kPlayPause = 32803;
// Measure: pointers and tools
inline constexpr int kSelectMouse = 32778, kHandMouse = 32777;
inline constexpr int kPoint = 32884, kLine = 32789, kParallel = 32831, kFoldLine = 32791, kAngle = 32800;
inline constexpr int kRectangle = 32792, kRoundRect = 32795, kEllipse = 32796, kCircle2 = 32797, kCircle3 = 32798;
inline constexpr int kPolygon = 32799, kArc3 = 32886, kLineToLine = 32888, kPointToLine = 32890;
inline constexpr int kCircleToCircle = 32892, kCircleToLine = 32894, kText = 32872, kArrow = 32896, kCross = 32949;
inline constexpr int kPointToLineAlias = 32830;  // no item carries it; it shares the point-to-line update
// Measure: grid, rules, contrasts, layers, scale
inline constexpr int kGrid = 32867, kCrossRule = 32880, kAngleRule = 32882;
inline constexpr int kContrastCircle = 32899, kContrastAngle = 32900;
inline constexpr int kDeleteMeasure = 32963, kDeleteAllMeasures = 32968;
inline constexpr int kSaveLayers = 32952, kLoadLayers = 32953;
inline constexpr int kMeasuringScale = 32961, kMeasuringScale2 = 32845, kScaleSettings = 32842;
// Image
inline constexpr int kThreshold = 32928, kAdaptiveThreshold = 32929, kBrightness = 32930, kDilate = 32931;
inline constexpr int kErode = 32932, kEdgeEnhance = 32934, kDepthOfField = 32937, kStitching = 32939;
inline constexpr int kNoiseFilter = 32944, kGrayStretch = 32945, kGrayBalance = 32947;
// Settings (the options dialog's pages)
inline constexpr int kCaptureSettings = 32854, kVideoSettings = 32853, kMeasuringSettings = 32869;
inline constexpr int kReportSettings = 32902, kAdvancedSettings = 32957, kAdvancedSettings2 = 32960;
// Language, help
inline constexpr int kChinese = 32838, kEnglish = 32837, kHelpManual = 32918, kAbout = 57664;
// The image list pane's menu
inline constexpr int kImageListDelete = 32910, kImageListDeleteAll = 32912;
// Enabled with the measuring commands; no item or handler carries it.
inline constexpr int kMeasuringSpare = 32855;
// Docked windows
inline constexpr int kCameraPane = 40002, kLayerPane = 40003, kImageListPane = 40004;
// The view, and the image window inside it
inline constexpr int kView = 59648, kImageWindow = 40001;

}  // namespace ids

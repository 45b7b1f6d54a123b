#pragma once
// Names of the string-table ids the code loads by number (res/strings/en.tsv and zh.tsv hold
// the texts under the same numbers; a test checks that both tables have every one).
#include <cstdint>

namespace sid {

enum : std::uint32_t {
  kOk = 1,  // "OK"
  kName = 9,  // "Name"
  kScaleColumn = 10,  // "Scale"
  kRemark = 11,  // "Remark"
  kPixel = 12,  // "Pixel"
  kLoadColorMatrixSuccessFail = 16,  // "load color matrix, success %d, fail %d."
  kAdvancedSettings = 17,  // "Advanced Settings"
  kPleaseDrawLinePressESC = 19,  // "Please draw a line,press ESC to exit."
  kPleaseAssignROISizeImage = 20,  // "Please assign ROI size in image"
  kAngle = 21,  // "Angle"
  kDelete = 23,  // "Delete"
  kDeleteAll = 24,  // "Delete All?"
  kLanguageName = 25,  // "English"
  kScaleSetup = 101,  // "Scale Setup"
  kAmplification = 104,  // "Amplification"
  kOption = 105,  // "Option"
  kMeasure = 350,  // "Measure"
  kPreviewSizeControl = 352,  // "Preview Size Control"
  kAutoExp = 1001,  // "Auto Exp."
  kFailMosaicking = 1294,  // "Fail to mosaicking."
  kWillUseResolutionFirstImage = 1295,  // "Will use the Resolution:%d * %d of the first image. continue?"
  kSuccessStitchImages = 1303,  // "Success to stitch %d images."
  kImagePath = 1304,  // "Image Path"
  kPleaseSelectPathSavingImage = 1305,  // "Please select the path of saving image."
  kDisplayEnable = 1367,  // "  Display Enable"
  kScaleDisplaySettings = 1368,  // "Scale Display Settings"
  kHistogram = 5001,  // "Histogram"
  kPositionImage = 5002,  // "Position of Image"
  kCanFind = 5003,  // "Can't Find!"
  kThreshold = 32928,  // "Threshold"
  kBrightness = 32930,  // "Brightness"
  kGrayStretch = 32931,  // "Gray Stretch"
  kImageFusionMosaic = 32932,  // "Image Fusion Mosaic"
  kNoiseFilter = 32944,  // "Noise filter "
  kAppTitle = 57344,  // "Q7V-MS"
  kCaptureFrameRateFPS = 59143,  // "Capture: %uF, Frame Rate: %.2fFPS"
  kWindow = 59144,  // "Window"
  kPixelUnit = 60000,  // "Pixel"
  kPleaseSupplyPerfectInformationScale = 60001,  // "Please supply perfect information of scale."
  kNameScaleExistedIfCoverage = 60002,  // "The name of scale existed,If coverage?"
  kNoExistScaleSpecifiedWill = 60003,  // "No exist scale specified,will use default scale,OK?"
  kWarning = 60004,  // "Warning"
  kSupportFile = 60005,  // "Support File"
  kNoWordProcessor = 60006,  // "Sorry,your OS can't find Microsoft Office Word."
  kMeasuringData = 60007,  // "Measuring Data:"
  kScaleLabel = 60008,  // "Scale:"
  kMeasuringRecord = 60010,  // "Measuring Record"
  kOpenImageFileFail = 60018,  // "Open image file fail"
  kMeasureTitle = 60019,  // "Measure"
  kMeasuringLayerEditor = 60020,  // "Measuring Layer Editor"
  kColorFont = 60021,  // "Color&Font"
  kPoint = 60022,  // "Point"
  kLine = 60023,  // "Line"
  kAngleKind = 60025,  // "Angle"
  kRectangle = 60026,  // "Rectangle"
  kEllipse = 60028,  // "Ellipse"
  kN2PointRound = 60029,  // "2 point round"
  kPleaseSelectPath = 60041,  // "Please select path"
  kCaptureSettings = 60042,  // "Capture Settings"
  kVideoSettings = 60043,  // "Video Settings"
  kMeasuringSettings = 60044,  // "Measuring Settings"
  kReportSettings = 60045,  // "Report Settings"
  kOpenContinuousCaptureIntervalTime = 60054,  // "Open continuous capture, Interval of time:"
  kCaptureFrame = 60055,  // "Capture Frame:"
  kContinuousCaptureStop = 60056,  // "Continuous capture is stop."
  kPleaseOpenCamera = 60057,  // "Please open camera."
  kCaptureSuccessful = 60058,  // "Capture Successful"
  kCaptureFail = 60059,  // "Capture Fail"
  kMeasuringResult = 60060,  // "Measuring Result"
  kUserDefined = 60061,  // "user-defined"
  kPrompt = 60062,  // "Prompt"
  kNoExistScaleSpecifiedAre = 60064,  // "No exist scale specified,are you sure exit?"
  kIntervalTimeContinuousCapture1s = 60065,  // "The interval time of continuous capture is 1s."
  kMaxFrameContinuousCapture256 = 60066,  // "The max frame of continuous capture is 256."
  kThereNoImageReport = 60070,  // "There is no image for the report."
  kReportTemplateCannotUsed = 60071,  // "The report template cannot be used: %s %s"
  kReportSaved = 60073,  // "Report saved: %s"
  kFusionFailed = 61408,
  kTheseImagesNotLoaded = 61409,  // "These images were not loaded: %s"
  kTheseImagesDifferSizeFrom = 61410,  // "These images differ in size from the first image and were not fused: %"
  kThereNoImageCapture = 62010,  // "There is no image to capture."
  kNoCameraSelectedScalesAre = 62011,  // "No camera is selected: scales are stored per camera."
  kScaleNameMayNotContain = 62012,  // "A scale name may not contain "\\" or be longer than 255 characters."
  kScaleCouldNotDeleted = 62014,  // "The scale could not be deleted."
  kChosenScaleCannotUsedWith = 62015,  // "The chosen scale cannot be used with this camera: lengths are shown in"
  kScaleCannotUsedItsFactor = 62016,  // "The scale cannot be used: its factor is not a number greater than 0."
  kOldFormatTemplatesDocDot = 63051,  // "Old-format templates (.doc, .dot, .xls, .xlt) cannot be read by the re"
  kCameraControler = 63774,  // "Camera Controler"
  kThresholdMenu = 63928,  // "Threshold..."
  kDilate = 63931,  // "Dilate..."
  kCorrode = 63932,  // "Corrode..."
  kRecordingStoppedPictureSizeChanged = 64101,  // "Recording stopped: the picture size changed."
  kRecordingStoppedVideoFileCould = 64102,  // "Recording stopped: the video file could not be written."
  kAEFast = 64111,  // "AE Fast"
  kTotal = 64114,  // "Total: %d"
  kScaleDefaultName = 64115,  // "Scale"
  kCapture = 64116,  // "Capture"
  kRecordingStoppedCameraLost = 64131,  // "Recording stopped: the camera was lost."
  kRecordingStoppedCameraRefusedFrame = 64132,  // "Recording stopped: the camera refused a frame (error %d)."
  kVideoSavedFramesFps = 64133,  // "Video saved: %s (%u frames, %.2f fps, %.1f s)."
  kFramesDroppedBecauseEncoderFell = 64134,  // "%u frames were dropped because the encoder fell behind."
  kWhatWritten = 64135,  // "What was written is in %s."
  kRecording = 64136,  // "Recording %02d:%02d:%02d"
  kIncompleteFramesLeftOut = 64137,  // "%u frames that the camera sent incomplete were left out."
  kBlackLevelNotMeasuredCamera = 64190,  // "The black level was not measured: the camera gave no frame."
  kBlackLevelNotMeasuredDrawn = 64191,  // "The black level was not measured: the drawn region lies outside the pi"
  kBlackLevelNotMeasuredRegion = 64192,  // "The black level was not measured: the region gave no level the camera "
  kContinuousCaptureStoppedCouldNot = 64220,  // "Continuous capture stopped: "%s" could not be written (the disk may be"
  kLayerFileHoldsNoMeasurements = 64221,  // "The layer file "%s" holds no measurements this camera can load. The me"
  kMeasurementsCouldNotSaved = 64222,  // "The measurements could not be saved to "%s"."
  kCameraDisconnectedCaptureRecordingEnded = 64224,  // "The camera %s was disconnected. Capture and recording were ended."
  kCameraConnectedAgain = 64225,  // "The camera %s is connected again."
  kImageListFull256Images = 64226,  // "The image list is full (256 images). Captures are still saved to disk."
  kSettingsFileTooLargeSettings = 64227,  // "The settings file "%s" is too large to be a settings file. It is left "
  kSettingsFileDamagedMovedProgram = 64300,  // "The settings file "%s" is damaged. It was moved to "%s" and the progra"
  kSettingsFileDamagedCouldNot = 64301,  // "The settings file "%s" is damaged and could not be moved aside (%s). I"
  kSettingsFileCannotReadLeft = 64302,  // "The settings file "%s" cannot be read (%s). It is left as it is; the p"
  kSettingsCouldNotSaved = 64303,  // "The settings could not be saved to "%s" (%s)."
  kRecordingCouldNotStartVideo = 64304,  // "The recording could not start: the video folder "%s" cannot be written"
  kParametersCouldNotSavedTeam = 64305,  // "The parameters could not be saved in team %s: the camera settings in ""
  kWindowLayoutCouldNotSaved = 64306,  // "The window layout could not be saved to "%s" (%s)."
  kCaptureNumberCouldNotSaved = 64307,  // "The capture number could not be saved to "%s" (%s). Captures are still"
  kRecordingRefusedByCamera = 64308,  // "The recording could not start (the camera answered %d)."
  kTeamSaveRefusedByCamera = 64309,  // "The parameters could not be saved in team %s (the camera answered %d)."
  kDiskFull = 64310,  // "the disk is full"
  kDiskQuotaUsedUp = 64311,  // "the disk quota is used up"
  kFolderReadOnly = 64312,  // "the folder is read-only"
  kAccessDenied = 64313,  // "access is denied"
  kFolderDoesNotExist = 64314,  // "the folder does not exist"
  kNameTooLong = 64315,  // "the name is too long"
  kDiskReportedReadOrWrite = 64316,  // "the disk reported a read or write error"
  kSystemError = 64317,  // "system error %d"
  kFileThatNameExists = 64318,  // "a file of that name exists"
  kReasonNotKnown = 64319,  // "the reason is not known"
  kSettingsFileFoundAtStart = 64320,  // "the settings file found at start is kept as it was"
  kFolderNotFile = 64321,  // "it is a folder, not a file"
  kReportFolderCouldNotCreated = 64460,  // "The report folder "%s" could not be created."
  kReportCouldNotWrittenDisk = 64461,  // "The report could not be written to "%s". The disk may be full, or the "
  kReportTemplateNotDocxDotx = 64465,  // "The report template "%s" is not a .docx, .dotx, .xlsx or .xltx file."
  kReportTemplateDamaged = 64466,  // "The report template "%s" is damaged."
};

// Every id above, for the check against the string tables.
inline constexpr std::uint32_t kAll[] = {
  kOk, kName, kScaleColumn, kRemark, kPixel, kLoadColorMatrixSuccessFail, kAdvancedSettings,
  kPleaseDrawLinePressESC, kPleaseAssignROISizeImage, kAngle, kDelete, kDeleteAll, kLanguageName,
  kScaleSetup, kAmplification, kOption, kMeasure, kPreviewSizeControl, kAutoExp, kFailMosaicking,
  kWillUseResolutionFirstImage, kSuccessStitchImages, kImagePath, kPleaseSelectPathSavingImage,
  kDisplayEnable, kScaleDisplaySettings, kHistogram, kPositionImage, kCanFind, kThreshold,
  kBrightness, kGrayStretch, kImageFusionMosaic, kNoiseFilter, kAppTitle, kCaptureFrameRateFPS,
  kWindow, kPixelUnit, kPleaseSupplyPerfectInformationScale, kNameScaleExistedIfCoverage,
  kNoExistScaleSpecifiedWill, kWarning, kSupportFile, kNoWordProcessor, kMeasuringData,
  kScaleLabel, kMeasuringRecord, kOpenImageFileFail, kMeasureTitle, kMeasuringLayerEditor,
  kColorFont, kPoint, kLine, kAngleKind, kRectangle, kEllipse, kN2PointRound, kPleaseSelectPath,
  kCaptureSettings, kVideoSettings, kMeasuringSettings, kReportSettings,
  kOpenContinuousCaptureIntervalTime, kCaptureFrame, kContinuousCaptureStop, kPleaseOpenCamera,
  kCaptureSuccessful, kCaptureFail, kMeasuringResult, kUserDefined, kPrompt,
  kNoExistScaleSpecifiedAre, kIntervalTimeContinuousCapture1s, kMaxFrameContinuousCapture256,
  kThereNoImageReport, kReportTemplateCannotUsed, kReportSaved, kFusionFailed,
  kTheseImagesNotLoaded, kTheseImagesDifferSizeFrom, kThereNoImageCapture,
  kNoCameraSelectedScalesAre, kScaleNameMayNotContain, kScaleCouldNotDeleted,
  kChosenScaleCannotUsedWith, kScaleCannotUsedItsFactor, kOldFormatTemplatesDocDot,
  kCameraControler, kThresholdMenu, kDilate, kCorrode, kRecordingStoppedPictureSizeChanged,
  kRecordingStoppedVideoFileCould, kAEFast, kTotal, kScaleDefaultName, kCapture,
  kRecordingStoppedCameraLost, kRecordingStoppedCameraRefusedFrame, kVideoSavedFramesFps,
  kFramesDroppedBecauseEncoderFell, kWhatWritten, kRecording, kIncompleteFramesLeftOut, kBlackLevelNotMeasuredCamera,
  kBlackLevelNotMeasuredDrawn, kBlackLevelNotMeasuredRegion, kContinuousCaptureStoppedCouldNot,
  kLayerFileHoldsNoMeasurements, kMeasurementsCouldNotSaved,
  kCameraDisconnectedCaptureRecordingEnded, kCameraConnectedAgain, kImageListFull256Images,
  kSettingsFileTooLargeSettings, kSettingsFileDamagedMovedProgram, kSettingsFileDamagedCouldNot,
  kSettingsFileCannotReadLeft, kSettingsCouldNotSaved, kRecordingCouldNotStartVideo,
  kParametersCouldNotSavedTeam, kWindowLayoutCouldNotSaved, kCaptureNumberCouldNotSaved,
  kRecordingRefusedByCamera, kTeamSaveRefusedByCamera, kDiskFull, kDiskQuotaUsedUp,
  kFolderReadOnly, kAccessDenied, kFolderDoesNotExist, kNameTooLong, kDiskReportedReadOrWrite,
  kSystemError, kFileThatNameExists, kReasonNotKnown, kSettingsFileFoundAtStart, kFolderNotFile,
  kReportFolderCouldNotCreated, kReportCouldNotWrittenDisk, kReportTemplateNotDocxDotx,
  kReportTemplateDamaged,
};

}  // namespace sid

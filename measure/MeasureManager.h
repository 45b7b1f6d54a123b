#pragma once
// CMeasureManager: the measurement engine. It owns the measurement and remark stores and every
// overlay setting, builds shapes from mouse input in image pixels, computes values and result
// texts, draws everything into a device context and keeps layer files.
// The implementation is split by concern: MeasureGeometry.cpp, MeasureValues.cpp,
// MeasureStore.cpp, MeasureLayerFile.cpp, MeasureMouse.cpp, MeasureDraw.cpp, MeasureOverlays.cpp.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "measure/MeasureBase.h"
#include "platform/gdi/capture.h"
#include "platform/gdi/dc.h"
#include "platform/text.h"
#include "platform/types.h"

// The scale bar on the image.
struct ScaleDisplayBlock {
  std::int32_t enable = 0;
  std::int32_t xPercent = 75;
  std::int32_t yPercent = 90;
  std::int32_t length = 100;  // thousandths of the unit
  std::int32_t lineColor = 255;
  std::int32_t textColor = 255;
  std::int32_t reserved = 200;  // carried, used by nothing
  std::int32_t lineWidth = 2;
  friend bool operator==(const ScaleDisplayBlock&, const ScaleDisplayBlock&) = default;
};

// A units-per-pixel factor as text: the shortest "."-decimal text that reads back to the same
// float, never in exponent form ("0.00625", "0.00007"); the setting store keeps it so.
WString FactorText(float factor);
// The factor for people: three decimals as the reports always showed them, more when the value
// needs them ("1.000", "0.00625").
WString FactorDisplayText(float factor);
// Reads a factor back as a float: the leading number of the text (older "%.4f" values
// included); nullopt unless it is a finite number greater than 0.
std::optional<float> ReadFactor(WStringView text);

// A dividing rule: the cross rule (centre, step, colours) or the angle rule (centre, radius,
// colours).
struct RuleBlock {
  std::int32_t enable = 0;
  std::int32_t cx = 75;
  std::int32_t cy = 90;
  std::int32_t step = 100;  // the cross rule's labelled division, in image pixels
  std::int32_t lineColor = 255;
  std::int32_t textColor = 255;
  std::int32_t radius = 200;  // the angle rule's
  std::int32_t reserved = 2;  // carried, read by neither rule
  friend bool operator==(const RuleBlock&, const RuleBlock&) = default;
};

struct ContrastRoundBlock {
  std::int32_t on = 0;
  double radius = 0.0;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct ContrastAngleBlock {
  std::int32_t on = 0;
  double length = 0.0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  double angle = 0.0;
};

// The value set of one measurement.
struct MeasureValues {
  double L = 0, A = 0, B = 0, P = 0, S = 0;
};

// Notification of the layer editor: (index, record by value, action); the result is ignored.
// Actions: 1 created or loaded, 2 finished or changed, 3 creation abandoned, 4 selection cleared,
// 5 result text made again (the scale changed, or layers were loaded): place and selection stay.
constexpr std::int32_t kNotifyTextChanged = 5;
using MeasureNotifyFn = std::int32_t (*)(std::int32_t index, MEASUREBASE record, std::int32_t action);

constexpr std::size_t kReportLineLen = 65536;  // units of the report-line buffers

// Mouse states.
enum : std::int32_t { MS_IDLE = 0, MS_CREATING = 1, MS_POINT = 2, MS_MOVE = 5, MS_RULECENTRE = 6 };

// What a change of the engine concerns. An announcement carries one or more of these bits, so a
// listener that keeps pictures of parts of the drawing redraws only the parts concerned.
enum MeasureChange : std::uint32_t {
  // What DrawMeasurements draws: the records, their count, the grid.
  kChangedMeasurements = 1u << 0,
  // The hover, the selection, the mouse machine's state, the remarks (DrawInteraction).
  kChangedInteraction = 1u << 1,
  // The dividing rules, the scale bar, the calibration line, the contrast figures, the
  // selection style (DrawInteraction).
  kChangedOverlays = 1u << 2,
  // The scale factor, the unit or the scale bar: the result texts follow them.
  kChangedScale = 1u << 3,
};

// A counter per concern, raised by every change of it. A caller that drew a part compares the
// counters it drew with to the current ones, rather than the state itself.
struct MeasureRevisions {
  std::uint64_t measurements = 0;
  // As `measurements`, less the changes to the measurement the mouse is changing
  // (MovingMeasure): a caller keeping a picture of the others redraws it when this moves.
  std::uint64_t resting = 0;
  std::uint64_t interaction = 0;
  std::uint64_t overlays = 0;
  std::uint64_t scale = 0;
  friend bool operator==(const MeasureRevisions&, const MeasureRevisions&) = default;
};

// Called once per operation that changed something, after the change, with its MeasureChange
// bits; on the thread that called the operation. It may read the engine; it should not change it.
using MeasureChangeListener = std::function<void(std::uint32_t changes)>;

class CMeasureManager {
 public:
  CMeasureManager();
  virtual ~CMeasureManager();
  CMeasureManager(const CMeasureManager&) = delete;
  CMeasureManager& operator=(const CMeasureManager&) = delete;

  // ---- geometry (MeasureGeometry.cpp)
  POINT PerpendicularFoot(POINT p, POINT a, POINT b) const;
  POINT LineIntersection(POINT a1, POINT a2, POINT b1, POINT b2) const;
  POINT CircleCentreFrom3Points(POINT p1, POINT p2, POINT p3) const;
  POINT EquilateralThirdPoint(POINT p, POINT q) const;
  double AngleAtVertex(POINT a, POINT v, POINT b) const;
  double ArcSweepAngle(POINT e1, POINT e2, POINT m, POINT o) const;
  // false (outputs untouched) for a bad index, no points or a count beyond the points
  bool GetMeasureBounds(int i, POINT* topLeft, POINT* bottomRight) const;

  // ---- values and texts (MeasureValues.cpp)
  // false for a bad index or a record with too few points for its kind
  bool CalcMeasureValues(int i, MeasureValues* out) const;
  void FormatResultText(int i, double L, double A, double B, double P, double S);
  void SetScale(float factor, WStringView unit, const ScaleDisplayBlock& display);
  // Every measurement's values and text again at the current scale, each announced (action 5).
  void RefreshResultTexts();
  void GetScale(float* factor, WString* unit, ScaleDisplayBlock* display) const;
  // Write the report line of measurement i into a buffer of `capacity` units (65536 by the
  // callers); nothing for an index outside 0 .. count - 1.
  void GetWordReportLine(int i, WStringView label, char16_t* out, std::size_t capacity = kReportLineLen) const;
  void GetExcelReportLine(int i, WStringView label, char16_t* out, std::size_t capacity = kReportLineLen) const;

  // ---- store and editing (MeasureStore.cpp)
  void SetNotifyTarget(HWND owner, MeasureNotifyFn notify);
  // Listeners to every change (see MeasureChangeListener); the id (0 for an empty listener)
  // removes one again.
  int AddChangeListener(MeasureChangeListener listener);
  void RemoveChangeListener(int id);
  const MeasureRevisions& Revisions() const { return m_revisions; }
  int GetMeasureCount() const { return m_nMeasureCount; }
  int GetRemarkCount() const { return m_nRemarkCount; }
  int GetMeasureKind(int i) const;  // -1 outside the array
  const MEASUREBASE* GetMeasure(int i) const;  // nullptr outside the array
  const stRemark* GetRemark(int i) const;
  // Slots of the two stores (kMeasureSlots each; they keep their size).
  int MeasureSlots() const { return int(m_arrMeasure.size()); }
  int RemarkSlots() const { return int(m_arrRemark.size()); }
  // Appends a finished record as it is given (bounds and result text included) and tells the
  // layer editor, as a loaded one; its index, or -1 when the store is full.
  int AddMeasure(const MEASUREBASE& record);
  // Replaces record i (0 .. count - 1) whole; false outside. Like the style operations, it does
  // not tell the layer editor.
  bool SetMeasure(int i, const MEASUREBASE& record);
  // Appends a remark of any kind as it is given, leaving the current remark; its index, or -1
  // when the store is full.
  int AddRemark(const stRemark& remark);
  void SetCalibrationLine(int show, int x1, int y1, int x2, int y2);
  void ShowGrid(int on);
  void SetGridStyle(int width, int spacing, COLORREF color);
  void SetSelectionStyle(int penStyle, int width, COLORREF color);
  void SetContrastRound(int on, int x, int y, double radius);
  void GetContrastRound(ContrastRoundBlock* out) const;
  void SetContrastAngle(int on, int x, int y, double length, double angle);
  void GetContrastAngle(ContrastAngleBlock* out) const;
  // Rule 0 (cross) or 1 (angle); a non-empty rc centres it on rc's size (not its middle) and
  // gives the angle rule its radius.
  void SetDividingRule(int enable, int which, int step, const RECT& rc, int lineColor, int textColor);
  void SetMeasureLocked(int i, int on);
  void SetMeasureVisible(int i, int on);
  void SelectMeasure(int i, MEASUREBASE* out);
  void SetSelectedMeasureStyle(COLORREF pen, int penWidth, COLORREF text, int fontSize, int fill,
                               COLORREF fillColor, int dx, int dy);
  void MoveMeasure(int from, int to);
  void NudgeSelection(int i, int direction);
  void CopyMeasure(int i, WString* outText);
  int DeleteMeasure(int i);
  void ResetMeasurements();
  void FillRemark(int i, int x, int y, WStringView text, int size, COLORREF color);
  void AddRemark(int x, int y, WStringView text, int size, COLORREF color);
  void DeleteSelectedRemark();
  void RemoveAllRemarks();

  // ---- layer file (MeasureLayerFile.cpp)
  bool SaveLayers(const std::filesystem::path& file, WStringView prefix, int number) const;
  bool LoadLayers(const std::filesystem::path& file, WStringView prefix, int number);

  // ---- mouse state machine (MeasureMouse.cpp)
  int OnMeasureLButtonDown(int x, int y, int kind, int arm);
  void OnMeasureMouseMove(int x, int y);
  int OnMeasureLButtonUp(int x, int y);
  int OnMeasureRButtonDown(int x, int y);
  int HitTestRemark(int x, int y) const;
  int HitTestRuleCentre(int x, int y) const;
  int GetSelectedRemark(stRemark* out);

  // ---- drawing (MeasureDraw.cpp)
  void DrawAll(CDC& dc, int showSelection);
  // DrawAll in two parts, for callers that keep the first while only the second changes: the
  // grid and the measurements; then the handles, the selection, the remarks and the overlays.
  void DrawMeasurements(CDC& dc);
  void DrawInteraction(CDC& dc, int showSelection);
  // The measurements [begin, end) of DrawMeasurements (the grid goes with the first): drawn over
  // the picture of those before, they give the picture one drawing of all of them gives.
  void DrawMeasurements(CDC& dc, int begin, int end);
  // The measurement the mouse is changing (moved, one of its points dragged, or being built),
  // or -1: a caller can keep the picture of the others while it changes.
  int MovingMeasure() const;
  void DrawRemarks(CDC& dc, int showSelection);
  void DrawParallelLines(CDC& dc, POINT p0, POINT p1);
  void Draw2PointCircle(CDC& dc, POINT p0, POINT p1);
  void DrawCircleCentrePoint(CDC& dc, POINT a, POINT b, POINT c, POINT centre);
  void DrawArc3Point(CDC& dc, POINT p0, POINT p1, POINT p2, POINT centre);
  void DrawPointToLine(CDC& dc, POINT p, POINT a, POINT b);
  void DrawLineToLine(CDC& dc, POINT a0, POINT a1, POINT b0, POINT b1);
  void DrawHandle(CDC& dc, int x, int y);
  void DrawSelectionRect(CDC& dc, int l, int t, int r, int b);
  void DrawTextRemark(CDC& dc, int x, int y, WStringView text, COLORREF color, int height);
  void DrawArrowRemark(CDC& dc, POINT p1, POINT p2, int width, COLORREF color);
  void DrawCrossRemark(CDC& dc, POINT p, int width, COLORREF color);

  // ---- overlays (MeasureOverlays.cpp)
  void DrawGrid(CDC& dc);
  void DrawCrossDividingRule(CDC& dc, const RuleBlock& rule);
  void DrawAngleDividingRule(CDC& dc, const RuleBlock& rule);
  void DrawScaleBar(CDC& dc, const ScaleDisplayBlock& bar);
  void DrawCalibrationLine(CDC& dc);
  void DrawCalibrationSegment(CDC& dc, int x1, int y1, int x2, int y2);
  void DrawEndTick(CDC& dc, int x1, int y1, int x2, int y2);
  void DrawContrastRound(CDC& dc, int x, int y, double radius);
  void DrawContrastAngle(CDC& dc, int x, int y, double length, double angle);
  double GetCalibrationLineLength() const;

  // ---- state, read; every change goes through the operations above and is announced
  double Scale() const { return m_dScale; }  // units per pixel
  const WString& Unit() const { return m_strUnit; }
  const ScaleDisplayBlock& ScaleDisplay() const { return m_ScaleDisplay; }
  const RuleBlock& CrossRule() const { return m_CrossRule; }
  const RuleBlock& AngleRule() const { return m_AngleRule; }
  bool CalibrationLineShown() const { return m_bShowCalibLine; }
  const RECT& CalibrationLine() const { return m_rcCalibLine; }  // x1, y1, x2, y2
  bool GridShown() const { return m_bShowGrid; }
  int GridWidth() const { return m_nGridWidth; }
  int GridSpacing() const { return m_nGridSpacing; }
  COLORREF GridColor() const { return m_clrGrid; }
  int SelectionPenStyle() const { return m_nSelPenStyle; }
  int SelectionPenWidth() const { return m_nSelPenWidth; }
  COLORREF SelectionColor() const { return m_clrSel; }
  // The style a new measurement takes (SetSelectedMeasureStyle sets it).
  COLORREF DefaultPenColor() const { return m_clrDefaultPen; }
  int DefaultPenWidth() const { return m_nDefaultPenWidth; }
  COLORREF DefaultTextColor() const { return m_clrDefaultText; }
  int DefaultFontHeight() const { return m_nDefaultFontHeight; }
  // The mouse machine.
  int MouseState() const { return m_nMouseState; }  // MS_*
  bool InProgress() const { return m_bInProgress; }  // a build, a move or a drag under way
  int CurrentKind() const { return m_nCurKind; }     // the kind being built or under the pointer
  int CreatingIndex() const { return m_nCreating; }  // the record being built, or -1
  int HoverMeasure() const { return m_nHoverMeasure; }
  int SelectedMeasure() const { return m_nSelMeasure; }
  int HoverRemark() const { return m_nHoverRemark; }
  int CurrentRemark() const { return m_nCurRemark; }
  int DragPoint() const { return m_nDragPoint; }  // the point under the pointer of the hovered one
  POINT DragAnchor() const { return m_ptDragAnchor; }
  bool FirstLeg() const { return m_bFirstLeg; }  // a two-leg shape still on its first leg

 private:
  friend struct MeasureTestAccess;  // the engine tests set states the mouse reaches only slowly

  // Every operation that changes the state runs inside one: its changes are announced once,
  // when the outermost scope ends and the state is whole again. Changes of the hover, the
  // selection and the mouse state are found by comparing them with those at the start.
  class ChangeScope {
   public:
    explicit ChangeScope(CMeasureManager& m);
    ~ChangeScope();
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

   private:
    CMeasureManager& m_;
    std::array<std::int32_t, 10> before_{};
  };
  std::array<std::int32_t, 10> InteractionState() const;
  // Raises the revisions of `changes`; `index` names the one measurement changed, -1 when more
  // (or their order, count or style) changed. Announced at once outside a ChangeScope.
  void Changed(std::uint32_t changes, int index = -1);
  void Announce();
  // Bounds (and with Refresh values and result text) of measurement i after its points changed.
  void StoreBounds(int i);
  void RefreshMeasure(int i);

  // ---- state
  bool m_bShowCalibLine = false;
  ScaleDisplayBlock m_ScaleDisplay;
  RECT m_rcCalibLine{0, 0, 0, 0};  // x1, y1, x2, y2
  HWND m_hOwnerWnd = nullptr;
  std::vector<MEASUREBASE> m_arrMeasure;
  std::vector<stRemark> m_arrRemark;
  POINT m_ptDragAnchor{0, 0};
  std::int32_t m_nRemarkCount = 0;
  std::int32_t m_nCurRemark = -1;
  std::int32_t m_nHoverRemark = -1;
  std::int32_t m_nCreating = -1;
  std::int32_t m_nMeasureCount = 0;
  std::int32_t m_nCurKind = MK_NONE;
  std::int32_t m_nHoverMeasure = -1;
  std::int32_t m_nSelMeasure = -1;
  std::int32_t m_nDragPoint = -1;
  std::int32_t m_nMouseState = MS_IDLE;
  bool m_bInProgress = false;
  double m_dScale = 1.0;
  WString m_strUnit = u"px";
  bool m_bShowGrid = false;
  std::int32_t m_nGridWidth = 1;
  std::int32_t m_nGridSpacing = 100;
  COLORREF m_clrGrid = 0;
  std::int32_t m_nSelPenStyle = PS_DOT;
  std::int32_t m_nSelPenWidth = 1;
  COLORREF m_clrSel = 0x00FF00;
  bool m_bFirstLeg = false;
  MeasureNotifyFn m_pfnNotify = nullptr;
  RuleBlock m_CrossRule;
  RuleBlock m_AngleRule;
  bool m_bContrastRound = false;
  double m_dContrastRoundRadius = 0.0;
  std::int32_t m_nContrastRoundX = 0;
  std::int32_t m_nContrastRoundY = 0;
  bool m_bContrastAngle = false;
  double m_dContrastAngleLength = 0.0;
  std::int32_t m_nContrastAngleX = 0;
  std::int32_t m_nContrastAngleY = 0;
  double m_dContrastAngleDeg = 0.0;
  COLORREF m_clrDefaultPen = 255;
  COLORREF m_clrDefaultText = 255;
  std::int32_t m_nDefaultPenWidth = 4;
  std::int32_t m_nDefaultFontHeight = 25;

  void Notify(int index, int action) const;  // calls m_pfnNotify when registered
  void CaptureMouse();                       // SetCapture on the owner, counted
  void ReleaseMouse();                       // ReleaseCapture when captured
  bool m_bCaptured = false;
  MeasureRevisions m_revisions;
  std::vector<std::pair<int, MeasureChangeListener>> m_listeners;
  int m_nextListener = 1;
  int m_scopeDepth = 0;
  std::uint32_t m_pending = 0;  // changes not yet announced
};

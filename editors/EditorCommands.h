#pragma once
// The frame's and the view's commands that run the editors' dialogs, ready to call: each
// builds its dialog, fills it from the engine, runs it and hands the result back.
#include <QWidget>

#include "measure/MeasureManager.h"
#include "platform/text.h"
#include "platform/types.h"

namespace editors {

// The remark dialog for a remark of `kind` (256 for a new text remark; 274, 275, 276 for an
// existing one: arrows and crosses keep their text). On OK the values are replaced; returns
// whether OK was given.
bool RunRemarkDialog(QWidget* parent, int kind, WString* text, int* size, COLORREF* color);

// "Contrast - Angle" (angle true) or "Contrast - Round": the engine's figure in, and on OK out.
bool RunContrastDialog(QWidget* parent, CMeasureManager& engine, bool angle);

// Scale calibration: the engine's calibration-line length and bar block in; on OK the factor,
// unit and block go to the engine (SetScale) and the layer editor's scale page shows them.
bool RunScaleDialog(QWidget* parent, CMeasureManager& engine);

// The view's Scale Settings: the same, started from the engine's bar block alone (the
// calibration line is not offered).
bool RunScaleSettings(QWidget* parent, CMeasureManager& engine);

}  // namespace editors

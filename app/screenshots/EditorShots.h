#pragma once
// Pictures of the editors for the screenshots program: the layer editor pane with each page,
// the remark and reference-figure dialogs, and the scale calibration dialog after an automatic
// find on a drawn stage micrometer (put into the camera object's frame buffer when it holds no
// frame). Files: OUT/NAME-LANG.png.
#include <QString>

namespace editors {
void RenderEditorShots(const QString& out, const QString& lang);
}

#pragma once
// Pictures of the camera panel for reviewers (scripts/screenshots.sh): the whole panel with the
// simulated colour camera and with the mono camera, and the dead-pixel preparation dialog.
#include <QString>

// Writes camsetup-color-LANG.png, camsetup-mono-LANG.png and deadpixel-LANG.png into `out`.
// Uses the host's camera object; opens each simulated model in turn and closes it again.
void RenderCamSetupShots(const QString& out, const QString& lang);

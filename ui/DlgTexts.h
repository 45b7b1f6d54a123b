#pragma once
// Captions of a dialog's controls in the running language. Every control of a dialog carries
// its control id as the dynamic property kCtrlIdProperty; the string table holds the caption
// under the same id.
class QWidget;

inline constexpr char kCtrlIdProperty[] = "ctrlId";

// Sets the caption of every control of `dialog` (in creation order, nested widgets included,
// other windows not) from the string of its id: a missing string gives an empty caption. Edit
// fields keep their contents, and the ids 1320 to 1338 keep the texts their dialogs set.
void LoadDlgItemTexts(QWidget* dialog);

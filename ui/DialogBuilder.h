#pragma once
// Dialogs as data: a dialog is described once as a table of controls (id, kind, where it sits),
// and one builder makes the widgets. Every control gets its id in the "ctrlId" property, so
// LoadDlgItemTexts gives it its caption and tests find it by id. Qt's layouts place the
// controls: each group box holds a grid, and rows fill it from the top.
#include <QHash>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <vector>

class QGridLayout;
class QLineEdit;

namespace ui {

// The OK and Cancel buttons' control ids, the same in every dialog.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

enum class Ctl {
  Label,     // static text
  Button,    // push button
  Check,     // check box
  Radio,     // radio button
  Edit,      // one-line edit
  Spin,      // integer spin box
  Slider,    // horizontal slider
  Combo,     // drop-down list (not editable)
  ComboEdit, // drop-down with an edit field
  List,      // list box
  Group,     // group box: a container the rows below can name as their parent
  Picture,   // a plain area that owners paint into
  Tree,      // tree view
  Tab,       // tab bar
};

// One control. `parent` is the id of a Group (0: the dialog itself). `col` places the control
// in its parent's grid: col 0 starts a new row, col > 0 continues the current row. `span`
// columns wide. `text` is a fixed caption for controls without an id of their own (-1).
struct CtrlDef {
  int id;
  Ctl kind;
  int parent = 0;
  int col = 0;
  int span = 1;
  const char16_t* text = nullptr;
};

// The widgets of a built table, by id.
class CtrlMap {
 public:
  QWidget* Get(int id) const { return map_.value(id, nullptr); }
  template <class T>
  T* Find(int id) const {
    return qobject_cast<T*>(Get(id));
  }
  void Add(int id, QWidget* w) { map_.insert(id, w); }
  const QHash<int, QWidget*>& All() const { return map_; }

 private:
  QHash<int, QWidget*> map_;
};

// Builds the table into `host` (which gets a grid layout of its own when it has none) and
// returns the controls by id. Controls with id -1 are made but not entered in the map.
CtrlMap BuildControls(QWidget* host, const std::vector<CtrlDef>& table);

// The control with `id` below `root`, found by its "ctrlId" property (null when none).
QWidget* FindCtrl(const QWidget* root, int id);
template <class T>
T* FindCtrl(const QWidget* root, int id) {
  return qobject_cast<T*>(FindCtrl(root, id));
}

// An edit that only shows a value (a read-out) looks and behaves so: the window's colour behind
// its text, no caret and no keyboard focus. With `readOnly` false it is an ordinary edit again.
void SetReadout(QLineEdit* edit, bool readOnly = true);

// Sets the id property on a widget made by hand.
void SetCtrlId(QWidget* w, int id);
int CtrlId(const QWidget* w);

}  // namespace ui

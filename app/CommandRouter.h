#pragma once
// Commands by id: one QAction per command id, shared by the menus and toolbars, and two
// handler tables, the view's and the frame's. A command goes to the view first and to the
// frame only when the view has no handler for it; update requests likewise. An id with a
// handler but no update handler is enabled, one with neither is disabled. The update pass runs
// before a menu opens and on a short idle timer for the toolbars; context menus get none.
#include <QHash>
#include <QObject>

#include <functional>

class QAction;
class QMenu;

// What an update handler sets: enabled and checked, each only when the handler says so.
class CCmdUI {
 public:
  explicit CCmdUI(int id) : id_(id) {}
  int Id() const { return id_; }
  void Enable(bool on = true) {
    enabled_ = on;
    enableSet_ = true;
  }
  void SetCheck(bool on = true) {
    checked_ = on;
    checkSet_ = true;
  }
  bool enabled_ = true, checked_ = false, enableSet_ = false, checkSet_ = false;

 private:
  int id_;
};

enum class CmdTarget { View, Frame };

class CCommandRouter : public QObject {
  Q_OBJECT
 public:
  using Handler = std::function<void()>;
  using Updater = std::function<void(CCmdUI&)>;

  explicit CCommandRouter(QObject* parent = nullptr);

  // The action of `id` (made on first use, text from the string table).
  QAction* Action(int id);
  bool HasAction(int id) const { return actions_.contains(id); }

  void On(CmdTarget target, int id, Handler handler);
  void OnUpdate(CmdTarget target, int id, Updater updater);

  // Routes a command: the view's handler, else the frame's. False when neither has one.
  bool Execute(int id);
  // The state an update pass gives `id`.
  CCmdUI Query(int id) const;
  // Applies the update pass to every action, or to the actions of one menu.
  void UpdateAll();
  void UpdateMenu(QMenu* menu);
  // A menu whose actions are updated each time it opens.
  void WatchMenu(QMenu* menu);

 private:
  void Apply(QAction* action, int id);
  struct Entry {
    Handler handler;
    Updater updater;
  };
  QHash<int, QAction*> actions_;
  QHash<int, Entry> view_, frame_;
};

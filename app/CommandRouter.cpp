#include "app/CommandRouter.h"

#include <QAction>
#include <QMenu>

#include "platform/strings.h"

CCommandRouter::CCommandRouter(QObject* parent) : QObject(parent) {}

QAction* CCommandRouter::Action(int id) {
  if (QAction* a = actions_.value(id)) return a;
  auto* a = new QAction(QString::fromStdU16String(LoadStringW(std::uint32_t(id))), this);
  a->setData(id);
  // A button's tool tip is the part of its string after the line break, when there is one.
  const QString text = a->text();
  if (const int nl = text.indexOf(u'\n'); nl >= 0) {
    a->setText(text.left(nl));
    a->setToolTip(text.mid(nl + 1));
  }
  connect(a, &QAction::triggered, this, [this, id] {
    Execute(id);
    UpdateAll();
  });
  actions_.insert(id, a);
  return a;
}

void CCommandRouter::On(CmdTarget target, int id, Handler handler) {
  (target == CmdTarget::View ? view_ : frame_)[id].handler = std::move(handler);
  Action(id);
}

void CCommandRouter::OnUpdate(CmdTarget target, int id, Updater updater) {
  (target == CmdTarget::View ? view_ : frame_)[id].updater = std::move(updater);
  Action(id);
}

bool CCommandRouter::Execute(int id) {
  auto v = view_.constFind(id);
  if (v != view_.constEnd() && v->handler) {
    v->handler();
    return true;
  }
  auto f = frame_.constFind(id);
  if (f != frame_.constEnd() && f->handler) {
    f->handler();
    return true;
  }
  return false;
}

CCmdUI CCommandRouter::Query(int id) const {
  CCmdUI ui(id);
  auto v = view_.constFind(id);
  auto f = frame_.constFind(id);
  const bool viewUpd = v != view_.constEnd() && v->updater;
  const bool frameUpd = f != frame_.constEnd() && f->updater;
  if (viewUpd)
    v->updater(ui);
  else if (frameUpd)
    f->updater(ui);
  if (!ui.enableSet_) {
    // The framework's rule when no update handler decided: enabled exactly when some handler
    // takes the command.
    const bool handled = (v != view_.constEnd() && v->handler) || (f != frame_.constEnd() && f->handler);
    ui.Enable(handled);
  }
  return ui;
}

void CCommandRouter::Apply(QAction* a, int id) {
  const CCmdUI ui = Query(id);
  if (ui.enableSet_) a->setEnabled(ui.enabled_);
  if (ui.checkSet_) {
    a->setCheckable(true);
    a->setChecked(ui.checked_);
  }
}

void CCommandRouter::UpdateAll() {
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it) Apply(it.value(), it.key());
}

void CCommandRouter::UpdateMenu(QMenu* menu) {
  for (QAction* a : menu->actions()) {
    bool ok = false;
    const int id = a->data().toInt(&ok);
    if (ok && actions_.value(id) == a) Apply(a, id);
  }
}

void CCommandRouter::WatchMenu(QMenu* menu) {
  connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenu(menu); });
}

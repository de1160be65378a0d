#include "zub_plugins_menu.h"

#include <QAction>
#include <QMenu>

TPluginsMenu::TPluginsMenu(QMenu* Plugins1, TPluginHost& Host, EditorUi& Ui, std::function<void(int32_t Tag)> Click)
    : QObject(Plugins1), plugins1_(Plugins1), host_(Host), ui_(Ui), click_(std::move(Click)) {
  // Nothing to repeat until a plug-in has run.
  ui_.SetMenuEnabled("RedoPlugin1", host_.gLastPluginItem >= 0);
  // The menu opens before its first scan has filled it: an empty menu of no
  // size is never mapped, and once closed like that it stays unmapped.
  Plugins1->setMinimumSize(1, 1);
}

void TPluginsMenu::Plugins1Popup() {
  if (scanPending_) return;
  scanPending_ = true;
  QMetaObject::invokeMethod(this, [this] {
    scanPending_ = false;
    Plugins1Click();
  }, Qt::QueuedConnection);
}

void TPluginsMenu::Plugins1Click() {
  host_.Plugins1Click(ui_);
  const auto& model = host_.Submenus;
  for (size_t j = 0; j < model.size(); ++j) {
    if (j >= submenus_.size()) {
      submenus_.push_back(plugins1_->addMenu(QString()));
      items_.emplace_back();
    }
    QMenu* sub = submenus_[j];
    sub->setTitle(QString::fromStdString(model[j].Caption));
    sub->menuAction()->setVisible(model[j].Visible);
    auto& actions = items_[j];
    for (size_t k = 0; k < model[j].Items.size(); ++k) {
      const TPluginMenuItem& item = model[j].Items[k];
      if (k >= actions.size()) {
        QAction* a = sub->addAction(QString());
        // The tag is read at click time: a reused item carries a new one.
        connect(a, &QAction::triggered, this, [this, a] { click_(a->data().toInt()); });
        actions.push_back(a);
      }
      QAction* a = actions[k];
      // Plug-in texts are single-byte; Latin-1 shows every byte as some character.
      a->setText(QString::fromLatin1(item.Caption.data(), static_cast<qsizetype>(item.Caption.size())));
      a->setStatusTip(QString::fromLatin1(item.Hint.data(), static_cast<qsizetype>(item.Hint.size())));
      a->setToolTip(a->statusTip());
      a->setData(item.Tag);
      a->setVisible(item.Visible);
    }
  }
}

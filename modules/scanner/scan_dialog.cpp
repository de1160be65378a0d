#include "scan_dialog.h"

#ifdef VEMRA_SCAN_DIALOG
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// The options a user picks a scan by, with the label the dialog shows.
struct TShownOption {
  const char* Name;
  const char* Label;
};
constexpr TShownOption kShown[] = {
    {"source", "&Source:"}, {"mode", "&Mode:"}, {"depth", "&Depth:"}, {"resolution", "&Resolution:"}};

}  // namespace

int ShowScanDialog(SANE_Handle Handle, const std::string& DeviceName) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return -1;
  QDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(QString::fromStdString("Scan from " + DeviceName));
  auto* form = new QFormLayout(&dialog);
  std::vector<std::function<void()>> apply;
  SANE_Int count = 0;
  if (sane_control_option(Handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) count = 0;
  for (const TShownOption& shown : kShown)
    for (SANE_Int i = 1; i < count; ++i) {
      const SANE_Option_Descriptor* d = sane_get_option_descriptor(Handle, i);
      if (d == nullptr || d->name == nullptr || std::string(d->name) != shown.Name || !SANE_OPTION_IS_ACTIVE(d->cap) ||
          !SANE_OPTION_IS_SETTABLE(d->cap))
        continue;
      if (d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST) {
        std::vector<char> value(static_cast<size_t>(d->size) + 1, 0);
        sane_control_option(Handle, i, SANE_ACTION_GET_VALUE, value.data(), nullptr);
        auto* box = new QComboBox(&dialog);
        for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) box->addItem(*s);
        box->setCurrentText(value.data());
        form->addRow(shown.Label, box);
        apply.push_back([Handle, i, box, size = d->size, was = box->currentText()] {
          // Only what the user changed: some devices reset the scan area
          // whenever their source is set, even to the same value.
          if (box->currentText() == was) return;
          std::vector<char> v(static_cast<size_t>(size) + 1, 0);
          const QByteArray text = box->currentText().toUtf8();
          std::memcpy(v.data(), text.constData(), std::min<size_t>(text.size(), static_cast<size_t>(size) - 1));
          sane_control_option(Handle, i, SANE_ACTION_SET_VALUE, v.data(), nullptr);
        });
      } else if (d->type == SANE_TYPE_INT && d->size == sizeof(SANE_Word)) {
        SANE_Word value = 0;
        sane_control_option(Handle, i, SANE_ACTION_GET_VALUE, &value, nullptr);
        if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
          auto* box = new QComboBox(&dialog);
          for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k)
            box->addItem(QString::number(d->constraint.word_list[k]), d->constraint.word_list[k]);
          box->setCurrentText(QString::number(value));
          form->addRow(shown.Label, box);
          apply.push_back([Handle, i, box, was = box->currentIndex()] {
            if (box->currentIndex() == was) return;
            SANE_Word w = box->currentData().toInt();
            sane_control_option(Handle, i, SANE_ACTION_SET_VALUE, &w, nullptr);
          });
        } else {
          auto* spin = new QSpinBox(&dialog);
          if (d->constraint_type == SANE_CONSTRAINT_RANGE) spin->setRange(d->constraint.range->min, d->constraint.range->max);
          else spin->setRange(1, 100000);
          spin->setValue(value);
          form->addRow(shown.Label, spin);
          apply.push_back([Handle, i, spin, was = value] {
            if (spin->value() == was) return;
            SANE_Word w = spin->value();
            sane_control_option(Handle, i, SANE_ACTION_SET_VALUE, &w, nullptr);
          });
        }
      }
    }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText("&Scan");
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return 0;
  // In the order shown: the mode decides which depths a device accepts.
  for (auto& a : apply) a();
  return 1;
}

#else

int ShowScanDialog(SANE_Handle, const std::string&) { return -1; }

#endif

#include "applet/list_view.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "applet/applet_host.h"
#include "applet/settings_page.h"
#include "applet/store_text.h"
#include "service/list_rules.h"
#include "service/settings_store.h"

namespace heron::kestrel {

CFieldsDialog::CFieldsDialog(QWidget* parent, const QString& template_caption,
                             const QStringList& labels, const QString& text)
    : QDialog(parent) {
  setWindowTitle(template_caption);
  auto* layout = new QVBoxLayout(this);
  if (!text.isEmpty()) {
    auto* intro = new QLabel(text, this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
  }
  auto* grid = new QGridLayout;
  for (int i = 0; i < labels.size(); ++i) {
    auto* edit = new QLineEdit(this);
    edit->setMinimumWidth(260);
    if (!labels[i].isEmpty()) {
      grid->addWidget(BuddyLabel(this, edit, labels[i]), i, 0);
    } else {
      edit->setAccessibleName(text);
    }
    grid->addWidget(edit, i, 1);
    fields_.push_back(edit);
  }
  layout->addLayout(grid);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

QString CFieldsDialog::Value(int index) const { return fields_[index]->text().trimmed(); }
void CFieldsDialog::SetValue(int index, const QString& value) { fields_[index]->setText(value); }

CStoredList::Setup CStoredList::FieldsSetup(const char* list, const QString& caption,
                                            const QStringList& columns,
                                            const QString& dialog_caption,
                                            const QStringList& labels, const QString& add_title,
                                            const QString& edit_title,
                                            const QStringList& button_texts) {
  Setup setup;
  setup.list = FindEditableList(list);
  setup.caption = caption;
  setup.columns = columns;
  setup.dialog_caption = dialog_caption;
  setup.dialog_labels = labels;
  setup.add_title = add_title;
  setup.edit_title = edit_title;
  setup.button_texts = button_texts;
  return setup;
}

CStoredList::CStoredList(QWidget* parent, SettingsStore& store, AppletHost& host, Setup setup)
    : QWidget(parent), store_(store), host_(host), setup_(std::move(setup)) {
  view_ = new QTreeWidget(this);
  view_->setRootIsDecorated(false);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setHeaderLabels(setup_.columns);
  view_->setAccessibleName(setup_.caption);
  add_ = new QPushButton(setup_.button_texts.value(0), this);
  edit_ = new QPushButton(setup_.button_texts.value(1), this);
  remove_ = new QPushButton(setup_.button_texts.value(2), this);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(add_);
  buttons->addWidget(edit_);
  buttons->addWidget(remove_);
  buttons->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_, 1);
  layout->addLayout(buttons);
  connect(add_, &QPushButton::clicked, this, &CStoredList::Add);
  connect(edit_, &QPushButton::clicked, this, &CStoredList::Edit);
  connect(remove_, &QPushButton::clicked, this, &CStoredList::Remove);
  connect(view_, &QTreeWidget::itemDoubleClicked, this, &CStoredList::Edit);

  const ListSetting& ls = *setup_.list->setting;
  entries_ = store_.ReadList(ls.key, ls.value).value_or(std::vector<std::string>{});
  if (setup_.normalize) {
    for (std::string& e : entries_) e = setup_.normalize(e);
  }
  Fill(-1);
  FitColumns();
}

void CStoredList::Fill(int select) {
  view_->clear();
  for (const std::string& e : entries_) view_->addTopLevelItem(new QTreeWidgetItem(ColumnsOf(e)));
  if (select >= 0 && select < view_->topLevelItemCount()) {
    view_->setCurrentItem(view_->topLevelItem(select));
    view_->topLevelItem(select)->setSelected(true);
  }
}

void CStoredList::FitColumns() {
  for (int c = 0; c < view_->columnCount(); ++c) {
    view_->resizeColumnToContents(c);
    int header = view_->header()->fontMetrics().horizontalAdvance(setup_.columns[c]) + 16;
    view_->setColumnWidth(c, std::max({view_->columnWidth(c), header, 10}));
  }
}

QStringList CStoredList::ColumnsOf(const std::string& e) const {
  if (setup_.columns_of) return setup_.columns_of(e);
  if (setup_.columns.size() < 2) return {FromStore(e)};
  size_t bar = e.find('|');
  return {FromStore(e.substr(0, bar)),
          bar == std::string::npos ? QString() : FromStore(e.substr(bar + 1))};
}

bool CStoredList::AskEntry(const QString& title, const std::string& start, std::string& entry) {
  if (setup_.ask) {
    if (!setup_.ask(this, title, start, entry)) return false;
    if (setup_.normalize) entry = setup_.normalize(entry);
    return true;
  }
  CFieldsDialog dialog(this, setup_.dialog_caption, setup_.dialog_labels, setup_.dialog_text);
  dialog.setWindowTitle(title);
  if (setup_.columns.size() > 1) {
    size_t bar = start.find('|');
    dialog.SetValue(0, FromStore(start.substr(0, bar)));
    if (bar != std::string::npos) dialog.SetValue(1, FromStore(start.substr(bar + 1)));
  } else {
    dialog.SetValue(0, FromStore(start));
  }
  if (!host_.RunDialog(dialog)) return false;
  entry = ToStore(dialog.Value(0));
  if (setup_.columns.size() > 1) entry.append("|").append(ToStore(dialog.Value(1)));
  return true;
}

bool CStoredList::Accepts(const std::vector<std::string>& others, const std::string& entry,
                          bool editing) {
  ListCheck check = CheckListAdd(*setup_.list, others, entry);
  if (check == ListCheck::kOk) return true;
  // A duplicate is dropped without a word; other refusals are explained.
  if (check != ListCheck::kDuplicate && setup_.refuse) {
    setup_.refuse(static_cast<int>(check), entry, editing);
  } else if (check != ListCheck::kDuplicate) {
    const char* text = check == ListCheck::kTooLong ? "清單已達系統可讀取的長度上限，無法再新增！"
                       : check == ListCheck::kEmpty ? "請輸入資料！"
                                                    : "兩個欄位都必須填寫！";
    host_.Message(this, AppletName(), Ui(text), BoxIcon::kExclamation);
  }
  return false;
}

void CStoredList::Store() {
  const ListSetting& ls = *setup_.list->setting;
  store_.WriteList(ls.key, ls.value, entries_);
  emit changed();
}

void CStoredList::Add() {
  std::string entry;
  if (!AskEntry(setup_.add_title, {}, entry) || !Accepts(entries_, entry, false)) return;
  entries_.push_back(entry);
  Fill(static_cast<int>(entries_.size()) - 1);
  view_->setFocus();
  Store();
}

int CStoredList::SelectedRow() const {
  QList<QTreeWidgetItem*> selected = view_->selectedItems();
  return selected.isEmpty() ? -1 : view_->indexOfTopLevelItem(selected.first());
}

void CStoredList::Edit() {
  int row = SelectedRow();
  if (row < 0 || row >= static_cast<int>(entries_.size())) return;
  std::string entry;
  if (!AskEntry(setup_.edit_title, entries_[row], entry)) return;
  // The edited row takes part in the duplicate check too; the length is
  // that of the list with the row replaced.
  std::vector<std::string> others = entries_;
  others.erase(others.begin() + row);
  bool too_long_only = CheckListAdd(*setup_.list, entries_, entry) == ListCheck::kTooLong;
  if (!Accepts(too_long_only ? others : entries_, entry, true)) return;
  entries_[row] = entry;
  Fill(row);
  Store();
}

void CStoredList::Remove() {
  int row = SelectedRow();
  if (row < 0 || row >= static_cast<int>(entries_.size())) return;
  entries_.erase(entries_.begin() + row);
  Fill(0);
  Store();
}

}  // namespace heron::kestrel

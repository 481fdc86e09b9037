// The lists the pages edit in place: a list view over one list of the
// store, with Add, Edit (also a double-click) and Remove. Every change is
// stored at once, after the list's rules; the dialogs are small forms of
// labelled fields.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace heron {
class SettingsStore;
struct EditableList;
}  // namespace heron

namespace heron::kestrel {

class AppletHost;

// A dialog of labelled one-line fields, with OK and Cancel.
class CFieldsDialog : public QDialog {
  Q_OBJECT
 public:
  CFieldsDialog(QWidget* parent, const QString& template_caption, const QStringList& labels,
                const QString& text = QString());
  QLineEdit* field(int index) const { return fields_[index]; }
  QString Value(int index) const;
  void SetValue(int index, const QString& value);
  int FieldCount() const { return static_cast<int>(fields_.size()); }

 private:
  std::vector<QLineEdit*> fields_;
};

class CStoredList : public QWidget {
  Q_OBJECT
 public:
  struct Setup {
    const EditableList* list;   // key, value and rules of the store's list
    QString caption;            // the list view's accessible name
    QStringList columns;        // one per part of an entry ("a|b" = two)
    QString dialog_caption;     // template caption of the dialog
    QStringList dialog_labels;  // one per column
    QString add_title, edit_title;
    QStringList button_texts;  // add, edit, remove
    QString dialog_text;       // a hint above the dialog's fields
    // Optional: the columns of an entry (default: split at "|"); the entry
    // as the list keeps it (applied when loading and to new entries); the
    // dialog (default: the labelled fields, joined with "|"); the telling
    // of a refusal other than a duplicate (default: a plain message).
    std::function<QStringList(const std::string&)> columns_of;
    std::function<std::string(const std::string&)> normalize;
    std::function<bool(QWidget*, const QString& title, const std::string& start,
                       std::string& entry)>
        ask;
    std::function<void(int check, const std::string& entry, bool editing)> refuse;
  };
  // A list edited through a dialog of labelled fields, one per column.
  static Setup FieldsSetup(const char* list, const QString& caption, const QStringList& columns,
                           const QString& dialog_caption, const QStringList& labels,
                           const QString& add_title, const QString& edit_title,
                           const QStringList& button_texts);
  CStoredList(QWidget* parent, SettingsStore& store, AppletHost& host, Setup setup);

  QTreeWidget* view() const { return view_; }
  QPushButton* add_button() const { return add_; }
  QPushButton* edit_button() const { return edit_; }
  QPushButton* remove_button() const { return remove_; }
  const std::vector<std::string>& entries() const { return entries_; }

  void Add();
  void Edit();
  void Remove();
  // The selected row, or -1.
  int SelectedRow() const;

 signals:
  // The list was changed and stored.
  void changed();

 private:
  // Runs the dialog; the entry it gives (Big5), or nothing.
  bool AskEntry(const QString& title, const std::string& start, std::string& entry);
  // True when the entry may go in; refusals other than a duplicate are told.
  bool Accepts(const std::vector<std::string>& others, const std::string& entry, bool editing);
  QStringList ColumnsOf(const std::string& entry) const;
  void Store();
  void Fill(int select);
  void FitColumns();

  SettingsStore& store_;
  AppletHost& host_;
  Setup setup_;
  std::vector<std::string> entries_;
  QTreeWidget* view_;
  QPushButton *add_, *edit_, *remove_;
};

}  // namespace heron::kestrel

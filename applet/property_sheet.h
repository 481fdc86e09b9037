// The property sheet frame: a header band above the tabs, the pages, OK,
// Cancel and Apply, and the page keys.
#pragma once

#include <QColor>
#include <QDialog>
#include <QIcon>
#include <QString>
#include <QWidget>
#include <vector>

class QDialogButtonBox;
class QPushButton;
class QTabWidget;

namespace heron::kestrel {

// What the header shows while a page is active.
struct tagCPropSheetItem {
  QIcon icon;
  QString title;
  QString description;
  QColor background;
  int alignment = 0;  // 0 left, 1 centred, 2 right
};

class CDialogHeader : public QWidget {
  Q_OBJECT
 public:
  explicit CDialogHeader(QWidget* parent);
  void SetItem(const tagCPropSheetItem& item);
  const tagCPropSheetItem& item() const { return item_; }
  // Height of the band for this style's icon size and edges.
  int BandHeight() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  tagCPropSheetItem item_;
};

// One page: its tab text, whether it holds edits not yet written, its check
// when it is left and its writing on OK or Apply.
class CPropertyPage : public QWidget {
  Q_OBJECT
 public:
  explicit CPropertyPage(const QString& caption) : caption_(caption) {}
  const QString& caption() const { return caption_; }
  bool IsModified() const { return modified_; }
  void SetModified(bool modified = true);
  // False keeps the page active (the page has said why).
  virtual bool OnKillActive() { return true; }
  virtual void OnOK() {}

 signals:
  void modifiedChanged();

 private:
  QString caption_;
  bool modified_ = false;
};

class CMyPropertySheet : public QDialog {
  Q_OBJECT
 public:
  explicit CMyPropertySheet(const QString& caption, QWidget* parent = nullptr);
  ~CMyPropertySheet() override;

  void AddPage(CPropertyPage* page, const tagCPropSheetItem& item);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const { return pages_[index]; }
  int GetActiveIndex() const;
  // Selects a page; the one left is checked first. False when it refused.
  bool SetActivePage(int index);
  CDialogHeader* header() const { return header_; }
  QTabWidget* tabs() const { return tabs_; }
  QPushButton* button(int which) const;  // a QDialogButtonBox::StandardButton

  // The framework's apply: checks the active page, then every modified page
  // writes. False when a page refused.
  bool ApplyPages();

  bool header_shown = true;
  bool adjust_buttons = true;
  bool page_keys = true;

 signals:
  // After Apply wrote the pages.
  void applied();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void OnTabChanged(int index);
  void UpdateApply();
  void ShowItem(int index);

  CDialogHeader* header_;
  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  std::vector<CPropertyPage*> pages_;
  std::vector<tagCPropSheetItem> items_;
  int current_ = -1;
  bool reverting_ = false;
};

}  // namespace heron::kestrel

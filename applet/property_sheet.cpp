#include "applet/property_sheet.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include "applet/applet_rules.h"

namespace heron::kestrel {

namespace {
constexpr int kIconSize = 32;  // the system's icon size
constexpr int kEdge = 2;       // the width of a sunken edge
constexpr int kTextOffset = 10;
}  // namespace

CDialogHeader::CDialogHeader(QWidget* parent) : QWidget(parent) {
  setFixedHeight(BandHeight());
  setAttribute(Qt::WA_OpaquePaintEvent);
}

int CDialogHeader::BandHeight() const { return HeaderBandHeight(kIconSize, kEdge); }

void CDialogHeader::SetItem(const tagCPropSheetItem& item) {
  item_ = item;
  setAccessibleName(item.title);
  setAccessibleDescription(item.description);
  update();
}

void CDialogHeader::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int w = width(), h = height();
  for (int y = 0; y < h; ++y) {
    Rgb c = HeaderRowColour(y, h);
    p.setPen(QColor(c.r, c.g, c.b));
    p.drawLine(0, y, w - 1, y);
  }
  // A sunken frame: shadow above and left, highlight below and right.
  const QPalette& pal = palette();
  p.setPen(pal.color(QPalette::Dark));
  p.drawLine(0, 0, w - 1, 0);
  p.drawLine(0, 0, 0, h - 1);
  p.setPen(pal.color(QPalette::Light));
  p.drawLine(0, h - 1, w - 1, h - 1);
  p.drawLine(w - 1, 0, w - 1, h - 1);

  if (!item_.icon.isNull()) {
    p.drawPixmap(kHeaderMargin, kHeaderMargin, item_.icon.pixmap(kIconSize, kIconSize));
  }
  Qt::Alignment align = item_.alignment == 1   ? Qt::AlignHCenter
                        : item_.alignment == 2 ? Qt::AlignRight
                                               : Qt::AlignLeft;
  const int left = kTextOffset + kHeaderMargin + kIconSize;
  const int right = w - kEdge - kHeaderMargin;
  QFont title("Arial");
  title.setPixelSize(kHeaderTitleHeight);
  title.setWeight(QFont::Bold);
  QFont text("Arial");
  text.setPixelSize(kHeaderTextHeight);
  text.setWeight(QFont::Normal);

  QRect title_rect(left, kHeaderMargin, right - left, QFontMetrics(title).height());
  p.setFont(title);
  p.setPen(QColor(0, 10, 207));
  p.drawText(title_rect, align | Qt::AlignTop | Qt::TextSingleLine,
             QFontMetrics(title).elidedText(item_.title, Qt::ElideRight, title_rect.width()));

  QRect text_rect(left, title_rect.bottom() + 1, right - left, h - title_rect.bottom() - 1);
  p.setFont(text);
  p.setPen(Qt::black);
  QFontMetrics fm(text);
  // Word-wrapped; the last line that fits ends with an ellipsis when cut.
  QString rest = item_.description;
  int y = text_rect.top();
  while (!rest.isEmpty() && y + fm.height() <= text_rect.bottom() + 1) {
    int n = rest.size();
    while (n > 1 && fm.horizontalAdvance(rest.left(n)) > text_rect.width()) --n;
    bool last_line = y + 2 * fm.height() > text_rect.bottom() + 1;
    QString line =
        last_line ? fm.elidedText(rest, Qt::ElideRight, text_rect.width()) : rest.left(n);
    p.drawText(QRect(text_rect.left(), y, text_rect.width(), fm.height()), align, line);
    rest = last_line ? QString() : rest.mid(n);
    y += fm.height();
  }
}

void CPropertyPage::SetModified(bool modified) {
  if (modified_ == modified) return;
  modified_ = modified;
  emit modifiedChanged();
}

CMyPropertySheet::CMyPropertySheet(const QString& caption, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  header_ = new CDialogHeader(this);
  tabs_ = new QTabWidget(this);
  buttons_ = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 8);
  layout->addWidget(header_);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(8, 4, 8, 0);
  body->addWidget(tabs_);
  body->addWidget(buttons_);
  layout->addLayout(body);

  button(QDialogButtonBox::Apply)->setEnabled(false);
  connect(tabs_, &QTabWidget::currentChanged, this, &CMyPropertySheet::OnTabChanged);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(button(QDialogButtonBox::Ok), &QPushButton::clicked, this, [this] {
    if (ApplyPages()) accept();
  });
  connect(button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] {
    if (ApplyPages()) emit applied();
  });
  qApp->installEventFilter(this);
}

CMyPropertySheet::~CMyPropertySheet() { qApp->removeEventFilter(this); }

QPushButton* CMyPropertySheet::button(int which) const {
  return buttons_->button(static_cast<QDialogButtonBox::StandardButton>(which));
}

void CMyPropertySheet::AddPage(CPropertyPage* page, const tagCPropSheetItem& item) {
  pages_.push_back(page);
  items_.push_back(item);
  connect(page, &CPropertyPage::modifiedChanged, this, &CMyPropertySheet::UpdateApply);
  tabs_->addTab(page, item.icon, page->caption());
  if (current_ < 0) {
    current_ = 0;
    ShowItem(0);
  }
}

int CMyPropertySheet::GetActiveIndex() const { return tabs_->currentIndex(); }

bool CMyPropertySheet::SetActivePage(int index) {
  tabs_->setCurrentIndex(index);
  return tabs_->currentIndex() == index;
}

void CMyPropertySheet::OnTabChanged(int index) {
  if (reverting_ || index < 0) return;
  if (current_ >= 0 && current_ != index && !pages_[current_]->OnKillActive()) {
    // The page left keeps the focus on its failing field.
    reverting_ = true;
    tabs_->setCurrentIndex(current_);
    reverting_ = false;
    return;
  }
  current_ = index;
  ShowItem(index);
}

void CMyPropertySheet::ShowItem(int index) {
  if (header_shown) header_->SetItem(items_[index]);
}

void CMyPropertySheet::UpdateApply() {
  bool any = false;
  for (CPropertyPage* p : pages_) any = any || p->IsModified();
  button(QDialogButtonBox::Apply)->setEnabled(any);
}

bool CMyPropertySheet::ApplyPages() {
  int active = GetActiveIndex();
  if (active >= 0 && !pages_[active]->OnKillActive()) return false;
  for (size_t i = 0; i < pages_.size(); ++i) {
    if (pages_[i]->IsModified() && static_cast<int>(i) != active && !pages_[i]->OnKillActive()) {
      SetActivePage(static_cast<int>(i));
      return false;
    }
  }
  for (CPropertyPage* p : pages_) {
    if (!p->IsModified()) continue;
    p->OnOK();
    p->SetModified(false);
  }
  return true;
}

bool CMyPropertySheet::eventFilter(QObject* watched, QEvent* event) {
  if (page_keys && event->type() == QEvent::KeyPress && pages_.size() > 1) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    bool page_key = key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown;
    if (page_key && key->modifiers() == Qt::NoModifier && widget && widget->window() == this) {
      SetActivePage(PageAfterKey(GetActiveIndex(), GetPageCount(), key->key() == Qt::Key_PageUp));
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CMyPropertySheet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  header_->setVisible(header_shown);
}

}  // namespace heron::kestrel

#include "ui/qt/look.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QStyleFactory>
#include <QWidget>
#include <algorithm>

namespace look {

namespace {

const QColor kLinkBlue(0, 0, 255);
const QColor kLime(0, 255, 0);
const QColor kDark(0, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kAqua(0, 255, 255);
const QColor kNavy(0, 0, 128);
const QColor kRed(255, 0, 0);

void SetTextColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
    palette.setColor(group, role, colour);
  widget->setPalette(palette);
}

}  // namespace

QString FontFamily() {
  static const QString family = [] {
    const QStringList families = QFontDatabase::families();
    for (const QString& candidate : {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}) {
      if (families.contains(candidate, Qt::CaseInsensitive)) return candidate;
    }
    return QApplication::font().family();
  }();
  return family;
}

QFont BaseFont(int pixelSize) {
  QFont font(FontFamily());
  font.setPixelSize(pixelSize);
  return font;
}

void ApplyToApplication(QApplication& app) {
  // One style on every desktop, so the palettes below look the same everywhere.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  app.setFont(BaseFont());
}

void StyleActionButton(QAbstractButton* button) {
  QFont font = BaseFont();
  font.setBold(true);
  font.setUnderline(true);
  button->setFont(font);
  SetTextColour(button, QPalette::ButtonText, kLinkBlue);
  button->setCursor(Qt::PointingHandCursor);
}

void StyleLinkLabel(QLabel* label) {
  QFont font = BaseFont();
  font.setBold(true);
  label->setFont(font);
  SetTextColour(label, QPalette::WindowText, kLinkBlue);
  label->setCursor(Qt::PointingHandCursor);
}

void StyleDarkList(QWidget* view) {
  view->setFont(BaseFont(kListFontPixels));
  QPalette palette = view->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Base, kDark);
    palette.setColor(group, QPalette::AlternateBase, kDark);
    palette.setColor(group, QPalette::Text, kLime);
    // The tree's expand arrows are drawn in the window text colour: lime too, not black on black.
    palette.setColor(group, QPalette::WindowText, kLime);
  }
  // A selected row: white text on dark green, readable against the black rows around it.
  palette.setColor(QPalette::Highlight, QColor(0, 128, 0));
  palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  view->setPalette(palette);
}

void StyleGauge(QProgressBar* bar) {
  QPalette palette = bar->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Highlight, kMaroon);
  }
  bar->setPalette(palette);
}

void StyleWaitWindow(QWidget* window) {
  QPalette palette = window->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Window, kAqua);
  }
  window->setPalette(palette);
  window->setAutoFillBackground(true);
}

QFont HeadlineFont() {
  // The height of 37 counts the whole line (ascent and descent), as the original toolkit
  // counts a positive font height; Qt's pixel size is the em size, so scale it down.
  QFont font = BaseFont(kHeadlinePixels);
  font.setBold(true);
  const int lineHeight = QFontMetrics(font).height();
  if (lineHeight > kHeadlinePixels)
    font.setPixelSize(std::max(1, kHeadlinePixels * kHeadlinePixels / lineHeight));
  return font;
}

void StyleHeadline(QLabel* label) {
  label->setFont(HeadlineFont());
  SetTextColour(label, QPalette::WindowText, kNavy);
  label->setAlignment(Qt::AlignCenter);
}

void StyleOperationLabel(QLabel* label) {
  QFont font = BaseFont(13);
  font.setBold(true);
  label->setFont(font);
  SetTextColour(label, QPalette::WindowText, kRed);
}

QString LiteralText(const QString& caption) {
  QString text = caption;
  return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace look

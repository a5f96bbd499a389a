// The program's look: fonts and colours of the main window and the progress window.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;
class QWidget;
class QAbstractButton;
class QLabel;
class QProgressBar;

namespace look {

// Text height in pixels of the dark lists and their row height.
inline constexpr int kListFontPixels = 13;
inline constexpr int kListRowPixels = 16;
// Text height in pixels of ordinary controls.
inline constexpr int kBaseFontPixels = 11;
// Line height in pixels of the progress window's headline.
inline constexpr int kHeadlinePixels = 37;

// Tahoma when the system has it, otherwise DejaVu Sans.
QString FontFamily();
// The font used throughout the windows.
QFont BaseFont(int pixelSize = kBaseFontPixels);

// The progress window's headline font: bold, lines 37 pixels high.
QFont HeadlineFont();

// Application-wide settings: widget style, font and tool tips.
void ApplyToApplication(QApplication& app);

// Flat action button with blue, bold, underlined text.
void StyleActionButton(QAbstractButton* button);
// Blue bold label that reacts to clicks like a link.
void StyleLinkLabel(QLabel* label);
// Lime text and tree arrows on a dark background, 13 px text, 16 px rows.
void StyleDarkList(QWidget* view);
// Progress bar with a maroon bar.
void StyleGauge(QProgressBar* bar);
// The progress window's aqua background.
void StyleWaitWindow(QWidget* window);
// The progress window's large bold navy headline.
void StyleHeadline(QLabel* label);
// The progress window's bold red operation label.
void StyleOperationLabel(QLabel* label);

// The text to give a widget that reads "&" as a keyboard accelerator mark (buttons, group
// boxes, tabs, menu items), so that a caption shows exactly as it is: every "&" doubled.
QString LiteralText(const QString& caption);

}  // namespace look

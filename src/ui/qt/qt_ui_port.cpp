#include "ui/qt/qt_ui_port.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <cstdio>

#include "app/main_form.h"
#include "platform/files.h"
#include "ui/qt/look.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QtUiPort::~QtUiPort() {
  if (busy_ && QGuiApplication::instance() != nullptr) QGuiApplication::restoreOverrideCursor();
}

bool QtUiPort::AskYesNo(const std::string& text, const std::string& caption) {
  QMessageBox box(QMessageBox::Question, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                  mainWindow_);
  box.setDefaultButton(QMessageBox::No);
  if (!yesText_.isEmpty()) box.button(QMessageBox::Yes)->setText(look::LiteralText(yesText_));
  if (!noText_.isEmpty()) box.button(QMessageBox::No)->setText(look::LiteralText(noText_));
  return box.exec() == QMessageBox::Yes;
}

void QtUiPort::SetAnswerTexts(const std::string& yes, const std::string& no) {
  yesText_ = Q(yes);
  noText_ = Q(no);
}

void QtUiPort::ShowInfo(const std::string& text, const std::string& caption) {
  QMessageBox::information(mainWindow_, Q(caption), Q(text), QMessageBox::Ok);
}

void QtUiPort::ShowMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, Q(kApplicationTitle), Q(text), QMessageBox::Ok, mainWindow_);
  box.exec();
}

void QtUiPort::ShowError(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kApplicationTitle, text.c_str());
  if (unattended_) {
    // Shown, but nobody has to close it for the run to go on.
    auto* box =
        new QMessageBox(QMessageBox::Critical, Q(kApplicationTitle), Q(text), QMessageBox::Ok, mainWindow_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return;
  }
  QMessageBox::critical(mainWindow_, Q(kApplicationTitle), Q(text), QMessageBox::Ok);
}

QString QtUiPort::ConvertFilter(const std::string& filter) {
  const QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      if (!pattern.trimmed().isEmpty()) patterns << pattern.trimmed();
    }
    if (patterns.isEmpty()) continue;
    entries << QStringLiteral("%1 (%2)").arg(
        description.isEmpty() ? patterns.join(QLatin1Char(' ')) : description,
        patterns.join(QLatin1Char(' ')));
  }
  return entries.join(QStringLiteral(";;"));
}

std::optional<std::string> QtUiPort::OpenFile(const std::string& title, const std::string& filter,
                                              const std::string& initialDir) {
  const QString path = QFileDialog::getOpenFileName(
      mainWindow_, Q(title), Q(platform::NativePath(initialDir)), ConvertFilter(filter));
  if (path.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(path).toStdString();
}

std::optional<std::string> QtUiPort::SaveFile(const std::string& filter, const std::string& initialDir,
                                              const std::string& proposedName) {
  QString start = Q(proposedName);
  if (!initialDir.empty()) {
    const QString dir = Q(platform::NativePath(initialDir));
    start = proposedName.empty() ? dir : QDir(dir).filePath(Q(proposedName));
  }
  const QString path = QFileDialog::getSaveFileName(mainWindow_, QString(), start, ConvertFilter(filter));
  if (path.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(path).toStdString();
}

void QtUiPort::ProcessMessages() { QCoreApplication::processEvents(); }

void QtUiPort::SetBusyCursor(bool busy) {
  // Override cursors stack; keep exactly one while busy.
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
}

bool QtUiPort::OpenUrl(const std::string& url) { return QDesktopServices::openUrl(QUrl(Q(url))); }

void QtUiPort::CloseMainWindow() {
  if (mainWindow_) mainWindow_->close();
}

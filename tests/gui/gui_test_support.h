#pragma once
// What the GUI tests share: one QApplication on the offscreen platform, the language of a
// test case, and screenshots of windows (with a drawn title bar, since the offscreen platform
// has no window decorations) under TAVRIX_SCREENSHOT_DIR.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFont>
#include <QLinearGradient>
#include <QTimer>
#include <QPainter>
#include <QWidget>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "gui/artwork.h"
#include "gui/gui_thread.h"
#include "platform/string_table.h"

namespace gui_test {

// The offscreen platform says of every window that it cannot pass size hints or raise
// windows to a window manager it does not have; that is noise in the tests' output.
inline QtMessageHandler& StandardMessageHandler() {
  static QtMessageHandler standard = nullptr;
  return standard;
}

inline void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
  if (StandardMessageHandler() != nullptr) {
    StandardMessageHandler()(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

inline QApplication& Application() {
  static QApplication* app = [] {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    StandardMessageHandler() = qInstallMessageHandler(QuietOffscreenNotes);
    static int argc = 1;
    static char name[] = "tavrix_gui_tests";
    static char* argv[] = {name, nullptr};
    auto* application = new QApplication(argc, argv);
    QApplication::setWindowIcon(CArtwork::ApplicationIcon());
    return application;
  }();
  return *app;
}

// Switches the resource language for the lifetime of a scope.
class CLanguageScope {
 public:
  explicit CLanguageScope(int langId) : m_previous(UiLanguage()) { SetUiLanguage(langId); }
  ~CLanguageScope() { SetUiLanguage(m_previous); }
  CLanguageScope(const CLanguageScope&) = delete;
  CLanguageScope& operator=(const CLanguageScope&) = delete;

 private:
  int m_previous;
};

// Dispatches the GUI thread's events until `done` holds; false when that takes longer than a
// generous bound (a hung worker must fail the test, not hang it). Waits for events, never for
// a fixed time: whoever changes the state a test waits for posts an event to wake it.
inline bool WaitUntil(const std::function<bool()>& done, int boundMilliseconds = 20000) {
  QDeadlineTimer deadline(boundMilliseconds);
  // A heartbeat, so that a state changed without an event is still seen.
  QTimer heartbeat;
  heartbeat.start(50);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Checkpoints between a worker thread and the test: the worker marks that it reached a
// point and waits there until the test lets it pass.
class CCheckpoints {
 public:
  // Worker: marks `point` as reached (waking the GUI thread) and waits until it is opened.
  void Reach(int point) {
    std::unique_lock lock(m_mutex);
    m_reached.insert(point);
    CGuiThread::Post([] {});
    m_changed.wait(lock, [&] { return m_open.count(point) != 0 || m_openAll; });
  }
  bool Reached(int point) {
    std::lock_guard lock(m_mutex);
    return m_reached.count(point) != 0;
  }
  void Open(int point) {
    std::lock_guard lock(m_mutex);
    m_open.insert(point);
    m_changed.notify_all();
  }
  // Lets every worker through, now and later (tear-down).
  void OpenAll() {
    std::lock_guard lock(m_mutex);
    m_openAll = true;
    m_changed.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::set<int> m_reached;
  std::set<int> m_open;
  bool m_openAll = false;
};

inline const char* LanguageSuffix(int langId) { return langId == LANG_RUSSIAN ? "ru" : "en"; }

inline QString ScreenshotDir() {
  QString dir = QStringLiteral(TAVRIX_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  return dir;
}

// The window as a person sees it: a title bar with the icon, the caption and (when the window
// has one) a close box, above the window's contents.
inline QImage WindowImage(QWidget& window) {
  window.ensurePolished();
  QApplication::processEvents();
  const QPixmap content = window.grab();
  const int barHeight = 30;
  QImage image(content.width() + 2, content.height() + barHeight + 1, QImage::Format_ARGB32);
  image.fill(QColor(0x5A, 0x66, 0x73));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bar(0, 0, 0, barHeight);
  bar.setColorAt(0, QColor(0x3B, 0x47, 0x55));
  bar.setColorAt(1, QColor(0x2C, 0x36, 0x42));
  painter.fillRect(QRect(1, 1, content.width(), barHeight - 1), bar);
  QIcon icon = window.windowIcon();
  int textLeft = 10;
  if (!icon.isNull()) {
    painter.drawPixmap(8, (barHeight - 18) / 2 + 1, icon.pixmap(18, 18));
    textLeft = 34;
  }
  QFont font = window.font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(0xF2, 0xF5, 0xF8));
  painter.drawText(QRect(textLeft, 1, content.width() - textLeft - 40, barHeight - 1),
                   Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  if (window.windowFlags().testFlag(Qt::WindowCloseButtonHint)) {
    const QPointF centre(content.width() - 14, barHeight / 2.0 + 0.5);
    painter.setPen(QPen(QColor(0xF2, 0xF5, 0xF8), 1.6));
    painter.drawLine(centre + QPointF(-4.5, -4.5), centre + QPointF(4.5, 4.5));
    painter.drawLine(centre + QPointF(-4.5, 4.5), centre + QPointF(4.5, -4.5));
  }
  painter.drawPixmap(1, barHeight, content);
  return image;
}

// Saves the window's picture as <name>.png in the screenshot folder; returns the file's path.
inline QString SaveScreenshot(QWidget& window, const QString& name) {
  const QString path = ScreenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png");
  WindowImage(window).save(path);
  return path;
}

}  // namespace gui_test

#include "ui/main/studio_log.h"

#ifdef LQ_DIAG_LOG
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <mutex>
#endif

namespace lq::studio {

#ifdef LQ_DIAG_LOG
void Log(const std::string& line) {
  static std::mutex mu;
  std::lock_guard<std::mutex> lk(mu);
  static const QString path =
      QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath("Lumaquill_debug.log");
  QFile f(path);
  if (!f.open(QIODevice::Append | QIODevice::Text)) return;  // the line is lost, the program goes on
  QByteArray text = QTime::currentTime().toString("hh:mm:ss.zzz").toUtf8() + "  " + QByteArray::fromStdString(line) + "\n";
  f.write(text);
}
#else
void Log(const std::string&) {}
#endif

}  // namespace lq::studio

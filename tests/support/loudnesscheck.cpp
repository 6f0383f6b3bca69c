#include "loudnesscheck.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

QString RunTool(const QString& tool, const QStringList& args, bool wantStderr) {
  QProcess process;
  process.start(tool, args);
  if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0)
    return {};
  return QString::fromUtf8(wantStderr ? process.readAllStandardError() : process.readAllStandardOutput());
}

}  // namespace

bool HaveFfmpegTools() {
  return !QStandardPaths::findExecutable("ffmpeg").isEmpty() &&
         !QStandardPaths::findExecutable("ffprobe").isEmpty();
}

TReferenceLoudness ReferenceLoudness(const QStringList& files) {
  TReferenceLoudness result;
  QTemporaryDir scratch;
  if (files.isEmpty() || !scratch.isValid()) return result;
  // The summary gives the integrated loudness to a tenth; the frames' metadata to a
  // thousandth, the last frame's covering the whole programme.
  const QString log = scratch.filePath("r128.txt");
  QStringList args{"-nostdin", "-hide_banner", "-nostats"};
  QString inputs;
  for (int i = 0; i < files.size(); ++i) {
    args << "-i" << files[i];
    inputs += QString("[%1:a]").arg(i);
  }
  args << "-filter_complex"
       << inputs + QString("concat=n=%1:v=0:a=1,ebur128=peak=true:metadata=1,"
                           "ametadata=mode=print:key=lavfi.r128.I:file=%2")
                       .arg(files.size())
                       .arg(log)
       << "-f" << "null" << "-";
  const QString summary = RunTool("ffmpeg", args, true);
  // A graph set up once to learn its formats prints an empty summary first: the last counts.
  QRegularExpressionMatch peak;
  auto found = QRegularExpression(R"(True peak:\s*\n\s*Peak:\s*(-?[0-9.]+|-inf) dBFS)").globalMatch(summary);
  while (found.hasNext()) peak = found.next();
  QFile frames(log);
  if (!peak.hasMatch() || !frames.open(QIODevice::ReadOnly)) return result;
  const QString text = QString::fromUtf8(frames.readAll());
  const int at = text.lastIndexOf("lavfi.r128.I=");
  if (at < 0) return result;
  bool ok = false;
  result.integrated = text.mid(at + 13).section('\n', 0, 0).toDouble(&ok);
  result.truePeakDb = peak.captured(1) == "-inf" ? -1e9 : peak.captured(1).toDouble();
  result.ok = ok;
  return result;
}

QMap<QString, QString> TagsByFfprobe(const QString& file) {
  QMap<QString, QString> tags;
  const QString out = RunTool("ffprobe", {"-v", "error", "-show_entries", "format_tags:stream_tags",
                                          "-of", "default=noprint_wrappers=1", file}, false);
  for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
    if (!line.startsWith("TAG:")) continue;
    const int eq = line.indexOf('=');
    tags.insert(line.mid(4, eq - 4).toUpper(), line.mid(eq + 1));
  }
  return tags;
}

// An independent measurement of loudness for checking the tags a conversion wrote: FFmpeg's
// ebur128 filter, run as a program, and the tags as ffprobe reads them.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// True when ffmpeg and ffprobe can be run.
bool HaveFfmpegTools();

struct TReferenceLoudness {
  bool ok = false;
  double integrated = 0;  // LUFS
  double truePeakDb = 0;  // dBFS
};
// The files played one after another (all of one rate and channel count) as one programme.
TReferenceLoudness ReferenceLoudness(const QStringList& files);

// Every tag of the file (container and stream), names in upper case.
QMap<QString, QString> TagsByFfprobe(const QString& file);

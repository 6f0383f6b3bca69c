// Test fixtures: tracker modules (ProTracker mod, FastTracker xm, Scream Tracker s3m, and
// an xm packed in umx) written byte by byte, playing a generated tone sample.
#pragma once

#include <string>
#include <vector>

// UmxXm: an xm module inside an Unreal package (umx).
enum class TModuleKind { Mod, Xm, S3m, UmxXm };

struct TModuleNote {
  int row = 0;      // 0..rows-1
  int channel = 0;  // 0..3
};

// Every row lasts this long: speed 6 at tempo 125.
constexpr double kModuleRowSeconds = 0.12;

// A module of one pattern played once: `rows` rows (1..64), so it lasts rows * 0.12 s.
// Each note strikes a short sine sample (about a quarter second) on its channel.
bool WriteModule(const std::string& path, TModuleKind kind, int rows,
                 const std::vector<TModuleNote>& notes);

// An xm module of one 64-row pattern played `orders` times over (1..256), so it lasts
// orders * 7.68 s: a tracker song of real length.
bool WriteRepeatedXm(const std::string& path, int orders, const std::vector<TModuleNote>& notes);

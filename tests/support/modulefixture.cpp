#include "modulefixture.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

using Bytes = std::vector<uint8_t>;

// A sine of 32 samples a period, fading out: about a quarter second at the 8363 Hz that
// every format plays its middle note at.
std::vector<int8_t> ToneSample() {
  const int n = 2048;
  std::vector<int8_t> s(n);
  for (int i = 0; i < n; ++i) {
    const double fade = 1.0 - static_cast<double>(i) / n;
    s[i] = static_cast<int8_t>(std::lrint(100.0 * fade * std::sin(2.0 * M_PI * i / 32.0)));
  }
  return s;
}

void Put16LE(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32LE(Bytes& b, uint32_t v) {
  Put16LE(b, v & 0xffff);
  Put16LE(b, v >> 16);
}
void Put16BE(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
void PutText(Bytes& b, const char* text, size_t width) {
  const size_t n = std::strlen(text);
  for (size_t i = 0; i < width; ++i) b.push_back(i < n ? static_cast<uint8_t>(text[i]) : 0);
}
void PadTo16(Bytes& b) {
  while (b.size() % 16 != 0) b.push_back(0);
}

bool HasNote(const std::vector<TModuleNote>& notes, int row, int channel) {
  for (const TModuleNote& n : notes)
    if (n.row == row && n.channel == channel) return true;
  return false;
}

Bytes MakeMod(int rows, const std::vector<TModuleNote>& notes) {
  const std::vector<int8_t> sample = ToneSample();
  Bytes b;
  PutText(b, "orvik test", 20);
  for (int i = 0; i < 31; ++i) {
    PutText(b, i == 0 ? "tone" : "", 22);
    Put16BE(b, i == 0 ? sample.size() / 2 : 0);  // length in words
    b.push_back(0);                                // finetune
    b.push_back(i == 0 ? 64 : 0);                  // volume
    Put16BE(b, 0);                                 // loop start
    Put16BE(b, 1);                                 // loop length 1: no loop
  }
  b.push_back(1);    // one order
  b.push_back(127);
  for (int i = 0; i < 128; ++i) b.push_back(0);
  PutText(b, "M.K.", 4);
  for (int row = 0; row < 64; ++row) {
    for (int ch = 0; ch < 4; ++ch) {
      const bool note = HasNote(notes, row, ch);
      const bool brk = row == rows - 1 && rows < 64 && ch == 3;
      const uint32_t period = note ? 428 : 0;  // C-3
      b.push_back(static_cast<uint8_t>((period >> 8) & 0x0f));
      b.push_back(static_cast<uint8_t>(period & 0xff));
      b.push_back(static_cast<uint8_t>((note ? 1 : 0) << 4 | (brk ? 0xd : 0)));
      b.push_back(0);
    }
  }
  for (int8_t s : sample) b.push_back(static_cast<uint8_t>(s));
  return b;
}

Bytes MakeXm(int rows, const std::vector<TModuleNote>& notes) {
  const std::vector<int8_t> sample = ToneSample();
  Bytes b;
  PutText(b, "Extended Module: ", 17);
  PutText(b, "orvik test", 20);
  b.push_back(0x1a);
  PutText(b, "orvik fixture", 20);
  Put16LE(b, 0x0104);
  Put32LE(b, 276);   // header size
  Put16LE(b, 1);     // song length
  Put16LE(b, 0);     // restart
  Put16LE(b, 4);     // channels
  Put16LE(b, 1);     // patterns
  Put16LE(b, 1);     // instruments
  Put16LE(b, 1);     // linear frequencies
  Put16LE(b, 6);     // speed
  Put16LE(b, 125);   // tempo
  for (int i = 0; i < 256; ++i) b.push_back(0);

  Bytes cells;
  for (int row = 0; row < rows; ++row) {
    for (int ch = 0; ch < 4; ++ch) {
      const bool note = HasNote(notes, row, ch);
      cells.push_back(note ? 49 : 0);  // C-4
      cells.push_back(note ? 1 : 0);
      cells.push_back(0);
      cells.push_back(0);
      cells.push_back(0);
    }
  }
  Put32LE(b, 9);
  b.push_back(0);
  Put16LE(b, static_cast<uint32_t>(rows));
  Put16LE(b, static_cast<uint32_t>(cells.size()));
  b.insert(b.end(), cells.begin(), cells.end());

  const size_t instrumentStart = b.size();
  Put32LE(b, 263);
  PutText(b, "tone", 22);
  b.push_back(0);
  Put16LE(b, 1);     // one sample
  Put32LE(b, 40);    // sample header size
  while (b.size() < instrumentStart + 263) b.push_back(0);  // key map, envelopes off

  Put32LE(b, static_cast<uint32_t>(sample.size()));
  Put32LE(b, 0);
  Put32LE(b, 0);
  b.push_back(64);   // volume
  b.push_back(0);    // finetune
  b.push_back(0);    // 8-bit, no loop
  b.push_back(128);  // panning
  b.push_back(0);    // relative note
  b.push_back(0);
  PutText(b, "tone", 22);
  int8_t previous = 0;
  for (int8_t s : sample) {  // delta coded
    b.push_back(static_cast<uint8_t>(static_cast<int8_t>(s - previous)));
    previous = s;
  }
  return b;
}

Bytes MakeS3m(int rows, const std::vector<TModuleNote>& notes) {
  const std::vector<int8_t> sample = ToneSample();
  Bytes b;
  PutText(b, "orvik test", 28);
  b.push_back(0x1a);
  b.push_back(16);   // module type
  Put16LE(b, 0);
  Put16LE(b, 2);     // orders (even count): pattern 0, end
  Put16LE(b, 1);     // instruments
  Put16LE(b, 1);     // patterns
  Put16LE(b, 0);     // flags
  Put16LE(b, 0x1320);
  Put16LE(b, 2);     // unsigned samples
  PutText(b, "SCRM", 4);
  b.push_back(64);   // global volume
  b.push_back(6);    // speed
  b.push_back(125);  // tempo
  b.push_back(0xb0); // stereo, master volume 48
  b.push_back(0);
  b.push_back(0);    // no panning table
  for (int i = 0; i < 8; ++i) b.push_back(0);
  Put16LE(b, 0);
  for (int ch = 0; ch < 32; ++ch) b.push_back(ch < 4 ? static_cast<uint8_t>(ch % 2 ? 8 + ch : ch) : 255);
  b.push_back(0);
  b.push_back(255);
  const size_t pointers = b.size();
  Put16LE(b, 0);     // instrument parapointer, filled below
  Put16LE(b, 0);     // pattern parapointer, filled below
  PadTo16(b);

  const size_t instrument = b.size();
  b.push_back(1);    // sample instrument
  PutText(b, "tone.raw", 12);
  const size_t memseg = b.size();
  b.push_back(0);
  Put16LE(b, 0);
  Put32LE(b, static_cast<uint32_t>(sample.size()));
  Put32LE(b, 0);
  Put32LE(b, 0);
  b.push_back(64);   // volume
  b.push_back(0);
  b.push_back(0);    // not packed
  b.push_back(0);    // no loop, mono, 8-bit
  Put32LE(b, 8363);
  for (int i = 0; i < 12; ++i) b.push_back(0);
  PutText(b, "tone", 28);
  PutText(b, "SCRS", 4);
  PadTo16(b);

  const size_t pattern = b.size();
  Bytes packed;
  for (int row = 0; row < 64; ++row) {
    for (int ch = 0; ch < 4; ++ch) {
      const bool note = HasNote(notes, row, ch);
      const bool brk = row == rows - 1 && rows < 64 && ch == 3;
      if (!note && !brk) continue;
      packed.push_back(static_cast<uint8_t>(ch | (note ? 0x20 : 0) | (brk ? 0x80 : 0)));
      if (note) {
        packed.push_back(0x40);  // C-4
        packed.push_back(1);
      }
      if (brk) {
        packed.push_back(3);     // C: pattern break
        packed.push_back(0);
      }
    }
    packed.push_back(0);
  }
  Put16LE(b, static_cast<uint32_t>(packed.size() + 2));
  b.insert(b.end(), packed.begin(), packed.end());
  PadTo16(b);

  const size_t data = b.size();
  for (int8_t s : sample) b.push_back(static_cast<uint8_t>(s + 128));

  b[pointers] = static_cast<uint8_t>((instrument / 16) & 0xff);
  b[pointers + 1] = static_cast<uint8_t>((instrument / 16) >> 8);
  b[pointers + 2] = static_cast<uint8_t>((pattern / 16) & 0xff);
  b[pointers + 3] = static_cast<uint8_t>((pattern / 16) >> 8);
  b[memseg] = static_cast<uint8_t>((data / 16) >> 16);
  b[memseg + 1] = static_cast<uint8_t>((data / 16) & 0xff);
  b[memseg + 2] = static_cast<uint8_t>(((data / 16) >> 8) & 0xff);
  return b;
}

// The compact index of Unreal packages: sign and 6 bits, then 7 bits a byte.
void PutIndex(Bytes& b, int32_t value) {
  uint32_t rest = static_cast<uint32_t>(value < 0 ? -value : value);
  uint8_t first = static_cast<uint8_t>((value < 0 ? 0x80 : 0) | (rest & 0x3f));
  rest >>= 6;
  if (rest != 0) first |= 0x40;
  b.push_back(first);
  while (rest != 0) {
    uint8_t next = static_cast<uint8_t>(rest & 0x7f);
    rest >>= 7;
    if (rest != 0) next |= 0x80;
    b.push_back(next);
  }
}

// An Unreal package holding one object of class Music whose data is the module.
Bytes MakeUmx(const Bytes& module) {
  const uint16_t version = 61;
  Bytes b;
  Put32LE(b, 0x9e2a83c1);
  Put16LE(b, version);
  Put16LE(b, 0);  // licensee
  Put32LE(b, 0);  // package flags
  const size_t counts = b.size();
  for (int i = 0; i < 6; ++i) Put32LE(b, 0);  // counts and offsets, filled below

  const size_t names = b.size();
  for (const char* name : {"none", "Music", "Core", "Class", "Song"}) {
    PutText(b, name, std::strlen(name) + 1);
    Put32LE(b, 0);  // object flags
  }
  const size_t imports = b.size();
  PutIndex(b, 2);  // class package: Core
  PutIndex(b, 3);  // class name: Class
  Put32LE(b, 0);   // package
  PutIndex(b, 1);  // object name: Music
  const size_t object = b.size();
  PutIndex(b, 0);  // property list ends at once: "none"
  PutIndex(b, 0);
  PutIndex(b, static_cast<int32_t>(module.size()));
  b.insert(b.end(), module.begin(), module.end());
  const size_t objectSize = b.size() - object;
  const size_t exports = b.size();
  PutIndex(b, -1);  // class: the first import
  PutIndex(b, 0);   // parent
  Put32LE(b, 0);    // group
  PutIndex(b, 4);   // name: Song
  Put32LE(b, 0);    // flags
  PutIndex(b, static_cast<int32_t>(objectSize));
  PutIndex(b, static_cast<int32_t>(object));

  const uint32_t fields[6] = {5, static_cast<uint32_t>(names), 1, static_cast<uint32_t>(exports),
                              1, static_cast<uint32_t>(imports)};
  for (int i = 0; i < 6; ++i)
    for (int k = 0; k < 4; ++k)
      b[counts + 4 * i + k] = static_cast<uint8_t>(fields[i] >> (8 * k));
  return b;
}

}  // namespace

bool WriteModule(const std::string& path, TModuleKind kind, int rows,
                 const std::vector<TModuleNote>& notes) {
  if (rows < 1 || rows > 64) return false;
  Bytes b;
  switch (kind) {
    case TModuleKind::Mod: b = MakeMod(rows, notes); break;
    case TModuleKind::Xm: b = MakeXm(rows, notes); break;
    case TModuleKind::S3m: b = MakeS3m(rows, notes); break;
    case TModuleKind::UmxXm: b = MakeUmx(MakeXm(rows, notes)); break;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

bool WriteRepeatedXm(const std::string& path, int orders, const std::vector<TModuleNote>& notes) {
  if (orders < 1 || orders > 256) return false;
  Bytes b = MakeXm(64, notes);
  // The song length; the order table after it is all pattern 0.
  b[64] = static_cast<uint8_t>(orders & 0xff);
  b[65] = static_cast<uint8_t>(orders >> 8);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

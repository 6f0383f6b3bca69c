// The audio layer: decoding of every source kind, the mixer (rate and channel conversion),
// audio-CD access and WMA encoding, behind a small handle-based C-style interface.
//
// - Handles are unsigned 32-bit; 0 means failure. A handle is valid on the thread that made
//   it: the layer keeps its state per thread, so conversions may run side by side in threads.
// - Every reader of decoded data gets 16-bit signed interleaved samples.
// - Lengths and positions are byte counts of decoded output at the channel's own rate and
//   channel count; a length is exact to the sample.
// - Nothing here throws; every operation reports through its result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Open flags understood (others are accepted and ignored).
constexpr uint32_t AUDIO_FLAG_PROBE = 0x100;        // set by OpenSource when the probe succeeds
constexpr uint32_t AUDIO_FLAG_MODULE = 0x200;       // added on module openings
constexpr uint32_t AUDIO_FLAG_MIXER_END = 0x10000;  // mixer ends with its source
constexpr uint32_t AUDIO_FLAG_UNICODE = 0x20000;    // accepted; paths are always UTF-8 bytes
constexpr uint32_t AUDIO_FLAG_DECODE = 0x200000;    // the caller pulls the data

// Channel types reported by audio_get_info. Modules use 0x20000..0x20004.
constexpr uint32_t AUDIO_CTYPE_PROBE = 0x1;
constexpr uint32_t AUDIO_CTYPE_STREAM = 0x10300;    // MP3, WAV, Ogg and other FFmpeg streams
constexpr uint32_t AUDIO_CTYPE_WMA = 0x10301;
constexpr uint32_t AUDIO_CTYPE_CD = 0x10302;
constexpr uint32_t AUDIO_CTYPE_MIDI = 0x10303;
constexpr uint32_t AUDIO_CTYPE_MIXER = 0x10304;
constexpr uint32_t AUDIO_CTYPE_ALBUM_TRACK = 0x10305;  // a track of an album image (album.h)
constexpr uint32_t AUDIO_CTYPE_MOD = 0x20000;
constexpr uint32_t AUDIO_CTYPE_MTM = 0x20001;
constexpr uint32_t AUDIO_CTYPE_S3M = 0x20002;
constexpr uint32_t AUDIO_CTYPE_XM = 0x20003;
constexpr uint32_t AUDIO_CTYPE_IT = 0x20004;

// The information record of a channel: six 32-bit fields.
struct AUDIO_CHANNELINFO {
  uint32_t freq = 0;      // Hz
  uint32_t chans = 0;     // channel count
  uint32_t flags = 0;     // value 1 set: 8-bit samples (never set by this layer: always 16-bit)
  uint32_t ctype = 0;     // AUDIO_CTYPE_*
  uint32_t reserved1 = 0;
  uint32_t reserved2 = 0;
};

// Library life cycle (per thread). audio_init returns non-zero when ready; audio_free
// releases the library and every channel of this thread.
int audio_set_config(uint32_t option, uint32_t value);
int audio_init(int device, uint32_t freq, uint32_t flags, void* window, void* clsid);
int audio_free();

// A silent user stream; used only as a probe.
uint32_t audio_create_stream(uint32_t freq, uint32_t chans, uint32_t flags, void* proc,
                             void* user);

// Openers. `in_memory` must be 0 (files only); offset and length are ignored.
// audio_open_file takes MP3, WAV, Ogg Vorbis and other stream formats FFmpeg decodes, and
// refuses ASF/WMA, tracker modules and MIDI.
uint32_t audio_open_file(int in_memory, const char* path, uint64_t offset, uint64_t length,
                         uint32_t flags);
uint32_t wma_open_file(int in_memory, const char* path, uint64_t offset, uint64_t length,
                       uint32_t flags);
// A track entry "<drive root>TrackNN.cda", e.g. "/dev/sr0/Track01.cda".
uint32_t cd_open_track_file(const char* path, uint32_t flags);
// xm, umx, mod, it, s3m, mtm; played once. freq 0 means 44100.
uint32_t audio_open_module(int in_memory, const char* path, uint64_t offset, uint64_t length,
                           uint32_t flags, uint32_t freq);
// Standard MIDI files rendered with the General MIDI soundfont at `freq`.
uint32_t midi_open_file(int in_memory, const char* path, uint64_t offset, uint64_t length,
                        uint32_t flags, uint32_t freq);

// Why the last opening on this thread failed. Every opener sets it: AUDIO_OK when it took
// the file. Of the cascade that tries each opener in turn, the last one's reason stands.
constexpr int AUDIO_OK = 0;
constexpr int AUDIO_ERROR_UNKNOWN_FORMAT = 1;  // not a file of the opener's kind
constexpr int AUDIO_ERROR_MIDI_NO_NOTES = 2;   // a sound MIDI file that strikes no note
constexpr int AUDIO_ERROR_MIDI_DAMAGED = 3;    // a MIDI file the synthesiser cannot play
constexpr int AUDIO_ERROR_NO_SOUNDFONT = 4;    // the General MIDI soundfont cannot be loaded
constexpr int AUDIO_ERROR_BAD_SHEET = 5;       // an album's cue sheet is unreadable or wrong
int audio_error_get();
// What went wrong in words, from the library or the layer's own check ("track 2 ends inside
// an event", the soundfont's path); empty when there is nothing to add to the code.
std::string audio_error_detail();

// Long work inside an opening (a MIDI song or a module rendered whole to count its frames,
// a stream read through for its exact length) calls `proc` with `user` every so often, on
// the opening thread, so that the caller can answer its user meanwhile. A result of 0 stops
// that work at once and the opening fails. One callback per thread; null removes it.
typedef int (*audio_progress_proc)(void* user);
void audio_set_progress(audio_progress_proc proc, void* user);

// A MIDI song rendered to count its frames is kept, as rendered, for the opening that
// delivers it next, in an unnamed file in `folder` (the system's temporary folder when that
// one takes no file); such a file vanishes when its last user lets go, or with the process.
// Null or empty: the system's temporary folder.
void audio_set_render_folder(const char* folder);
// Lets go of every song kept so: a new list is about to be measured, or a batch has been
// cancelled.
void audio_drop_kept_renders();

int audio_free_stream(uint32_t handle);
int audio_free_module(uint32_t handle);

// 1 on success, 0 for an unknown handle.
int audio_get_info(uint32_t handle, AUDIO_CHANNELINFO* info);
// Total decoded bytes; 0 for an unknown handle.
uint64_t audio_get_length(uint32_t handle);
// Decoded bytes delivered so far; 0 for an unknown handle.
uint64_t audio_get_position(uint32_t handle);
// Seconds of `bytes` at the channel's rate and channel count; 0 for an unknown handle.
double audio_bytes_to_seconds(uint32_t handle, uint64_t bytes);
// Pulls up to `bytes` (whole frames); returns the bytes stored, 0 at the end, -1 on error.
int32_t audio_get_data(uint32_t handle, void* buffer, uint32_t bytes);
// Non-zero while data remains; 0 once drained (and for an unknown handle).
int audio_is_active(uint32_t handle);

// The mixer: delivers its source as 16-bit PCM at `freq` and `chans`, ending with it.
uint32_t mixer_create(uint32_t freq, uint32_t chans, uint32_t flags);
int mixer_add_channel(uint32_t mixer, uint32_t source, uint32_t flags);
int mixer_remove_channel(uint32_t handle);

// Audio CD. cd_drive_query returns the number of tracks of the disc in drive `drive`
// (0 = first drive of cd_list_drives), or -1 when there is no drive, no disc or no
// readable table of contents.
int32_t cd_drive_query(int drive);
// The optical drives, in the system's order, at most 23 device paths (no trailing "/").
std::vector<std::string> cd_list_drives();
// Tests: stand these paths (for example CUE files) in place of the system's drives.
// An empty list restores the real drives.
void cd_set_drives_for_testing(const std::vector<std::string>& devices);

// WMA encoding (wmav2 in ASF). `bitrate_or_quality` of 100 or below is a quality in percent,
// above 100 a bitrate in bit/s. Returns an encoder handle, or 0.
uint32_t wma_encode_open_file(uint32_t freq, uint32_t chans, uint32_t flags,
                              uint32_t bitrate_or_quality, const char* path);
// Appends interleaved 16-bit PCM; 1 on success, 0 on failure.
int wma_encode_write(uint32_t encoder, const void* buffer, uint32_t bytes);
// Finishes the file; 1 on success, 0 on failure.
int wma_encode_close(uint32_t encoder);

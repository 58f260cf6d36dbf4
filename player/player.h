// The player as a library: everything an application needs to load XM songs
// and play them through a wave device of its own.
//
// Order of use:
//   setStreamCallbacks (or registerFileStream) and setWaveDevice;
//   openOutputDevice(rate, 0); loadSong(name, nullptr); playSong(song);
//   getPlayingOrder / getPlayingRow / getPlayingTimeMs while it plays;
//   stopSong(song) or freeSong(song), which stops first; closeOutputDevice().
//
// All of these calls belong to one application thread. The player renders on
// a feeder thread of its own, which asks the wave device for its position
// (bytesPlayed, and through it a render device's sink); every other device
// call, and every stream callback, comes from the application's calls.
#pragma once

// Song records: Song, SongPattern, PatternNote, Instrument, Sample.
#include "player/song/song.h"
// The five stream callbacks through which every byte of a song is read.
#include "player/song/stream.h"
// Stream callbacks over files on disk, for songs loaded by path.
#include "player/song/file_stream.h"
// loadSong, freeSong and the position of the music being heard.
#include "player/song/player_control.h"
// The device the output ring plays through, registered by the application.
#include "player/output/wave_device.h"
// openOutputDevice, closeOutputDevice, playSong, stopSong.
#include "player/output/wave_output.h"
// A device without a sound card that hands each final frame to a sink.
#include "player/output/render_device.h"

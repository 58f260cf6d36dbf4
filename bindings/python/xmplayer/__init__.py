"""Render XM music modules to NumPy arrays.

A thin layer over the xmplayer library's C API (libxmplayer.so), through
ctypes:

    import xmplayer
    song = xmplayer.load("song.xm")          # a path, or the file's bytes
    print(song.summary.title, song.duration().seconds)
    frames = song.render()                   # one pass, int16, shape (frames, 2)
    frames = song.render(seconds=10, dtype="float32", rate=48000, rules="own")
    player = song.player()
    for piece in player.pieces(4096):        # or player.render(frames)
        ...

Errors of the library arrive as xmplayer.XmplayerError with its message.

The shared library is found, in this order, at the path in the environment
variable XMPLAYER_LIBRARY, as the copy the package carries when it was
installed with XMPLAYER_LIBRARY set, and by the system's loader under its
name libxmplayer.so.3 (an installed prefix the loader knows, or
LD_LIBRARY_PATH).
"""

import ctypes
import os
import weakref
from dataclasses import dataclass

import numpy as np

__all__ = [
    "XmplayerError",
    "Song",
    "Player",
    "Summary",
    "Duration",
    "Position",
    "load",
    "library_version",
    "library_path",
]

_MAJOR_VERSION = 3
_SONAME = f"libxmplayer.so.{_MAJOR_VERSION}"
_CARRIED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "libxmplayer.so")
_RULES = {"ft2": 0, "own": 1}
_DTYPES = {np.dtype(np.int16): "int16", np.dtype(np.float32): "float32"}
# Frames per call: the C API counts them in 32 bits.
_MOST_FRAMES_PER_CALL = 1 << 24


class XmplayerError(Exception):
    """A call of the library failed; `status` names how, the message says why."""

    def __init__(self, status, message):
        super().__init__(message)
        self.status = status
        self.message = message


class _Error(ctypes.Structure):
    _fields_ = [("status", ctypes.c_int), ("message", ctypes.c_char * 256)]


class _Summary(ctypes.Structure):
    _fields_ = [
        ("title", ctypes.c_char * 21),
        ("channels", ctypes.c_int32),
        ("songLength", ctypes.c_int32),
        ("restartPosition", ctypes.c_int32),
        ("patterns", ctypes.c_int32),
        ("instruments", ctypes.c_int32),
        ("speed", ctypes.c_int32),
        ("tempo", ctypes.c_int32),
        ("frequencyTable", ctypes.c_int32),
    ]


class _Duration(ctypes.Structure):
    _fields_ = [
        ("milliseconds", ctypes.c_int64),
        ("loopStartMilliseconds", ctypes.c_int64),
        ("loopOrder", ctypes.c_int32),
        ("loopRow", ctypes.c_int32),
        ("comesBack", ctypes.c_bool),
        ("frames", ctypes.c_int64),
        ("loopStartFrames", ctypes.c_int64),
    ]


class _Position(ctypes.Structure):
    _fields_ = [
        ("order", ctypes.c_int32),
        ("row", ctypes.c_int32),
        ("milliseconds", ctypes.c_int64),
        ("frames", ctypes.c_int64),
        ("passes", ctypes.c_int32),
    ]


class _ChannelView(ctypes.Structure):
    _fields_ = [("instrument", ctypes.c_int32), ("volume", ctypes.c_float)]


def _open_library():
    tried = []
    candidates = []
    if os.environ.get("XMPLAYER_LIBRARY"):
        candidates.append(("XMPLAYER_LIBRARY", os.environ["XMPLAYER_LIBRARY"]))
    elif os.path.exists(_CARRIED):
        candidates.append(("the package's copy", _CARRIED))
    else:
        candidates.append(("the system's loader", _SONAME))
    for where, path in candidates:
        try:
            return ctypes.CDLL(path), path
        except OSError as error:
            tried.append(f"{where} ({error})")
    raise ImportError(
        "xmplayer: cannot load the xmplayer shared library: tried "
        + "; ".join(tried)
        + ". Build it with -DBUILD_SHARED_LIBS=ON and set XMPLAYER_LIBRARY to "
        + "its path, install the module with XMPLAYER_LIBRARY set, or install "
        + "the library where the system's loader finds it."
    )


_lib, _library_path = _open_library()

_P = ctypes.POINTER
_c_song = ctypes.c_void_p
_c_player = ctypes.c_void_p
_status = ctypes.c_int
_signatures = {
    "xmplayerVersion": (ctypes.c_int32, []),
    "xmplayerVersionText": (ctypes.c_char_p, []),
    "xmplayerStatusText": (ctypes.c_char_p, [ctypes.c_int]),
    "xmplayerLoadFile": (_status, [ctypes.c_char_p, _P(_c_song), _P(_Error)]),
    "xmplayerLoadMemory": (_status, [ctypes.c_void_p, ctypes.c_size_t, _P(_c_song), _P(_Error)]),
    "xmplayerFreeSong": (None, [_c_song]),
    "xmplayerDescribeSong": (_status, [_c_song, _P(_Summary), _P(_Error)]),
    "xmplayerOrderPattern": (ctypes.c_int32, [_c_song, ctypes.c_int32]),
    "xmplayerPatternRows": (ctypes.c_int32, [_c_song, ctypes.c_int32]),
    "xmplayerPatternCells": (
        ctypes.c_int32,
        [_c_song, ctypes.c_int32, ctypes.c_void_p, ctypes.c_int32],
    ),
    "xmplayerMeasureSong": (
        _status,
        [_c_song, ctypes.c_int32, ctypes.c_int, _P(_Duration), _P(_Error)],
    ),
    "xmplayerCreatePlayer": (
        _status,
        [_c_song, ctypes.c_int32, ctypes.c_int, _P(_c_player), _P(_Error)],
    ),
    "xmplayerDestroyPlayer": (None, [_c_player]),
    "xmplayerRenderFrames": (ctypes.c_int32, [_c_player, ctypes.c_void_p, ctypes.c_int32]),
    "xmplayerRenderFloatFrames": (ctypes.c_int32, [_c_player, ctypes.c_void_p, ctypes.c_int32]),
    "xmplayerSetPassLimit": (None, [_c_player, ctypes.c_int32]),
    "xmplayerRenderedPosition": (_status, [_c_player, _P(_Position), _P(_Error)]),
    "xmplayerSetUnheardChannels": (None, [_c_player, ctypes.c_uint32]),
    "xmplayerViewChannels": (ctypes.c_int32, [_c_player, _P(_ChannelView), ctypes.c_int32]),
    "xmplayerRestartPlayer": (None, [_c_player]),
    "xmplayerSeekToTime": (_status, [_c_player, ctypes.c_int64, _P(_Error)]),
    "xmplayerSeekToOrder": (_status, [_c_player, ctypes.c_int32, ctypes.c_int32, _P(_Error)]),
}
for _name, (_result, _arguments) in _signatures.items():
    _function = getattr(_lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments

if _lib.xmplayerVersion() // 10000 != _MAJOR_VERSION:
    raise ImportError(
        f"xmplayer: {_library_path} is version {_lib.xmplayerVersionText().decode()}, "
        f"this module needs {_MAJOR_VERSION}.x"
    )


def library_version():
    """The version of the library in use, as "major.minor.patch"."""
    return _lib.xmplayerVersionText().decode()


def library_path():
    """Where the library in use was loaded from."""
    return _library_path


def _check(call, *arguments):
    error = _Error()
    status = call(*arguments, ctypes.byref(error))
    if status != 0:
        raise XmplayerError(
            _lib.xmplayerStatusText(status).decode(),
            error.message.decode("utf-8", "replace"),
        )


def _rules_value(rules):
    try:
        return _RULES[rules]
    except KeyError:
        raise ValueError(f"rules must be 'ft2' or 'own', not {rules!r}") from None


def _dtype_of(dtype):
    resolved = np.dtype(dtype)
    if resolved not in _DTYPES:
        raise ValueError(f"dtype must be int16 or float32, not {resolved}")
    return resolved


@dataclass(frozen=True)
class Summary:
    """What a loaded song holds."""

    title: str
    channels: int
    song_length: int  # entries in the order list
    restart_position: int
    patterns: int
    instruments: int
    speed: int  # ticks per row at the start
    tempo: int  # beats per minute at the start
    frequency_table: str  # "linear" or "amiga"


@dataclass(frozen=True)
class Duration:
    """One pass through a song, until it comes back to a row it played in the
    same state; `frames` is the pass at the rate measured, exactly."""

    seconds: float
    frames: int
    loop_start_seconds: float
    loop_start_frames: int
    loop_order: int
    loop_row: int
    comes_back: bool  # False: it did not come back within a day of rows


@dataclass(frozen=True)
class Position:
    """Where the last rendered frame stands."""

    order: int
    row: int
    seconds: float
    frames: int
    passes: int  # passes completed before it, once a pass limit is set


class Song:
    """A loaded song: from a path (str or os.PathLike) or the file's bytes.

    Any number of players may play it, on any threads; it is released when it
    and its players are gone, or by close()."""

    def __init__(self, source):
        handle = _c_song()
        if isinstance(source, (bytes, bytearray, memoryview)):
            data = bytes(source)
            _check(_lib.xmplayerLoadMemory, data, len(data), ctypes.byref(handle))
        else:
            path = os.fsencode(source)
            _check(_lib.xmplayerLoadFile, path, ctypes.byref(handle))
        self._handle = handle
        self._players = weakref.WeakSet()
        self._closed = False

    def close(self):
        """Releases the song; players made from it keep it until they close."""
        self._closed = True
        if not getattr(self, "_players", None):
            handle, self._handle = getattr(self, "_handle", None), None
            if handle:
                _lib.xmplayerFreeSong(handle)

    def _player_closed(self, player):
        self._players.discard(player)
        if self._closed:
            self.close()

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def _live(self):
        if self._closed:
            raise ValueError("the song has been closed")
        return self._handle

    @property
    def summary(self):
        summary = _Summary()
        _check(_lib.xmplayerDescribeSong, self._live(), ctypes.byref(summary))
        return Summary(
            title=summary.title.decode("ascii", "replace"),
            channels=summary.channels,
            song_length=summary.songLength,
            restart_position=summary.restartPosition,
            patterns=summary.patterns,
            instruments=summary.instruments,
            speed=summary.speed,
            tempo=summary.tempo,
            frequency_table="linear" if summary.frequencyTable == 1 else "amiga",
        )

    @property
    def order_list(self):
        """The patterns the order list plays, in order."""
        return [
            _lib.xmplayerOrderPattern(self._live(), order)
            for order in range(self.summary.song_length)
        ]

    def pattern(self, pattern):
        """A pattern's cells as a uint8 array of shape (rows, channels, 5):
        note (1 to 96, 97 key off), instrument, volume column, effect,
        parameter; 0 where empty."""
        cells = _lib.xmplayerPatternCells(self._live(), pattern, None, 0)
        rows = _lib.xmplayerPatternRows(self._live(), pattern)
        array = np.zeros((cells, 5), dtype=np.uint8)
        _lib.xmplayerPatternCells(self._live(), pattern, array.ctypes.data, cells)
        return array.reshape(rows, -1, 5) if rows else array.reshape(0, 0, 5)

    def duration(self, rate=44100, rules="ft2"):
        """One pass at `rate` by `rules`, measured without rendering."""
        duration = _Duration()
        _check(
            _lib.xmplayerMeasureSong,
            self._live(),
            rate,
            _rules_value(rules),
            ctypes.byref(duration),
        )
        return Duration(
            seconds=duration.milliseconds / 1000,
            frames=duration.frames,
            loop_start_seconds=duration.loopStartMilliseconds / 1000,
            loop_start_frames=duration.loopStartFrames,
            loop_order=duration.loopOrder,
            loop_row=duration.loopRow,
            comes_back=duration.comesBack,
        )

    def player(self, rate=44100, rules="ft2"):
        """A player of the song at its start."""
        return Player(self, rate, rules)

    def render(self, rate=44100, rules="ft2", dtype=np.int16, seconds=None, passes=1):
        """The song as an array of shape (frames, 2): `passes` passes (the part
        it loops back to heard passes - 1 more times), or exactly `seconds`
        seconds whatever its length."""
        player = self.player(rate, rules)
        if seconds is not None:
            if seconds < 0:
                raise ValueError("seconds must not be negative")
            return player.render(round(seconds * rate), dtype)
        if passes < 1:
            raise ValueError("passes must be at least 1")
        player.set_pass_limit(passes)
        duration = self.duration(rate, rules)
        loop = duration.frames - duration.loop_start_frames
        return player.render(duration.frames + (passes - 1) * max(loop, 1), dtype)


class Player:
    """Renders a song from its start, in pieces of any size: the frames are
    the same whatever the pieces. Belongs to one thread at a time."""

    def __init__(self, song, rate=44100, rules="ft2"):
        handle = _c_player()
        _check(
            _lib.xmplayerCreatePlayer,
            song._live(),
            rate,
            _rules_value(rules),
            ctypes.byref(handle),
        )
        self._handle = handle
        self._song = song  # played while the player lives
        song._players.add(self)
        self.rate = rate

    def close(self):
        handle, self._handle = getattr(self, "_handle", None), None
        if handle:
            _lib.xmplayerDestroyPlayer(handle)
            self._song._player_closed(self)

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()

    def _live(self):
        if not self._handle:
            raise ValueError("the player has been closed")
        return self._handle

    def render(self, frames, dtype=np.int16):
        """The next `frames` frames, shape (n, 2): n is fewer once the pass
        limit ends the song, 0 after it."""
        resolved = _dtype_of(dtype)
        call = (
            _lib.xmplayerRenderFrames
            if resolved == np.int16
            else _lib.xmplayerRenderFloatFrames
        )
        out = np.empty((int(frames), 2), dtype=resolved)
        done = 0
        while done < len(out):
            want = min(len(out) - done, _MOST_FRAMES_PER_CALL)
            got = call(self._live(), out[done:].ctypes.data, want)
            done += got
            if got < want:
                break
        return out[:done]

    def pieces(self, frames, dtype=np.int16):
        """The rest of the song in pieces of `frames` frames (the last one
        shorter); endless without a pass limit."""
        while True:
            piece = self.render(frames, dtype)
            if len(piece):
                yield piece
            if len(piece) < frames:
                return

    def set_pass_limit(self, passes):
        """The song ends after `passes` passes; 0 loops for ever."""
        _lib.xmplayerSetPassLimit(self._live(), passes)

    @property
    def position(self):
        position = _Position()
        _check(_lib.xmplayerRenderedPosition, self._live(), ctypes.byref(position))
        return Position(
            order=position.order,
            row=position.row,
            seconds=position.milliseconds / 1000,
            frames=position.frames,
            passes=position.passes,
        )

    def seek(self, seconds=None, order=None, row=0):
        """Moves to a time, or to the first time the song plays an order's
        row; the frames that follow are those a render from the start gives
        there. Raises XmplayerError when the seek is refused."""
        if (seconds is None) == (order is None):
            raise ValueError("seek to seconds or to an order, one of the two")
        if seconds is not None:
            _check(_lib.xmplayerSeekToTime, self._live(), int(seconds * 1000))
        else:
            _check(_lib.xmplayerSeekToOrder, self._live(), order, row)

    def restart(self):
        """Back to the start; the pass limit and the unheard channels stay."""
        _lib.xmplayerRestartPlayer(self._live())

    def set_unheard_channels(self, channels):
        """Leaves the given channels (numbers from 0) out of the mix from the
        next 20 ms block on; they play on unheard."""
        mask = 0
        for channel in channels:
            mask |= 1 << channel
        _lib.xmplayerSetUnheardChannels(self._live(), mask)

    def channels(self):
        """Per channel, (instrument from 1 or 0, volume 0 to 1) at the end of
        the last block rendered."""
        count = _lib.xmplayerViewChannels(self._live(), None, 0)
        views = (_ChannelView * count)()
        _lib.xmplayerViewChannels(self._live(), views, count)
        return [(view.instrument, view.volume) for view in views]


def load(source):
    """Loads a song from a path or from the file's bytes."""
    return Song(source)


__version__ = library_version()

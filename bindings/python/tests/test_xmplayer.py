"""The Python module renders what xm_render renders, and reports the
library's errors as exceptions with its message.

XM_RENDER names the xm_render to compare with (skipped without it); songs
come from the project's assets and ../shared/corpus beside the project."""

import os
import pathlib
import subprocess
import unittest

import numpy as np

import xmplayer

ROOT = pathlib.Path(__file__).resolve().parents[3]
DEMO_SONG = ROOT / "assets" / "song.xm"
CORPUS_SONGS = ROOT.parent / "shared" / "corpus" / "songs"
XM_RENDER = os.environ.get("XM_RENDER")


def songs_to_check():
    songs = [DEMO_SONG]
    for name in ("tekilla_groove.xm", "rhino_sting.xm"):
        if (CORPUS_SONGS / name).exists():
            songs.append(CORPUS_SONGS / name)
    return songs


def xm_render(song, *options, dtype=np.int16):
    raw = subprocess.run(
        [XM_RENDER, str(song), "-o", "-", *options],
        check=True,
        stdout=subprocess.PIPE,
        stderr=subprocess.DEVNULL,
    ).stdout
    return np.frombuffer(raw, dtype=np.dtype(dtype).newbyteorder("<")).reshape(-1, 2)


@unittest.skipUnless(XM_RENDER, "XM_RENDER does not name xm_render to compare with")
class SameFramesAsXmRender(unittest.TestCase):
    def test_a_pass_of_every_song(self):
        for path in songs_to_check():
            with self.subTest(song=path.name):
                frames = xmplayer.load(path).render()
                self.assertEqual(frames.dtype, np.int16)
                self.assertEqual(frames.shape[1], 2)
                np.testing.assert_array_equal(frames, xm_render(path))

    def test_seconds_in_floats_at_a_rate_by_the_players_own_rules(self):
        for path in songs_to_check():
            with self.subTest(song=path.name):
                song = xmplayer.load(path.read_bytes())
                frames = song.render(rate=48000, rules="own", dtype="float32", seconds=7.5)
                self.assertEqual(frames.shape, (360000, 2))
                expected = xm_render(
                    path, "--float", "--rate", "48000", "--rules", "own",
                    "--seconds", "7.5", dtype=np.float32,
                )
                np.testing.assert_array_equal(frames, expected)

    def test_two_passes(self):
        frames = xmplayer.load(DEMO_SONG).render(passes=2)
        np.testing.assert_array_equal(frames, xm_render(DEMO_SONG, "--loops", "2"))


class Rendering(unittest.TestCase):
    def setUp(self):
        self.song = xmplayer.load(DEMO_SONG)

    def test_pieces_of_any_size_give_the_whole(self):
        whole = self.song.render(passes=1)
        player = self.song.player()
        player.set_pass_limit(1)
        pieces = list(player.pieces(10000))
        self.assertTrue(all(len(piece) == 10000 for piece in pieces[:-1]))
        np.testing.assert_array_equal(np.concatenate(pieces), whole)
        self.assertEqual(len(player.render(100)), 0, "nothing after the end")

    def test_summary_duration_and_position(self):
        summary = self.song.summary
        self.assertEqual(summary.channels, len(self.song.player().channels()))
        self.assertEqual(len(self.song.order_list), summary.song_length)
        self.assertEqual(summary.frequency_table, "linear")
        duration = self.song.duration()
        self.assertEqual(duration.frames, len(self.song.render()))
        self.assertAlmostEqual(duration.seconds, duration.frames / 44100, places=2)
        self.assertTrue(duration.comes_back)

        pattern = self.song.pattern(self.song.order_list[0])
        self.assertEqual(pattern.shape, (64, summary.channels, 5))
        self.assertTrue(pattern[:, :, 0].any(), "the first pattern plays notes")

        player = self.song.player()
        player.seek(order=1)
        player.render(1)
        self.assertEqual((player.position.order, player.position.row), (1, 0))
        player.seek(seconds=10)
        self.assertEqual(player.position.seconds, 10)

    def test_a_closed_song_plays_on_in_its_players(self):
        player = self.song.player()
        first = player.render(1000)
        self.song.close()
        with self.assertRaises(ValueError):
            self.song.player()
        player.restart()
        np.testing.assert_array_equal(player.render(1000), first)
        player.close()


class Errors(unittest.TestCase):
    def assert_fails(self, status, message, call, *arguments, **keywords):
        with self.assertRaises(xmplayer.XmplayerError) as caught:
            call(*arguments, **keywords)
        self.assertEqual(caught.exception.status, status)
        self.assertEqual(str(caught.exception), message)

    def test_the_librarys_messages(self):
        self.assert_fails(
            "load failed", "No such file or directory", xmplayer.load, "/no/such/song.xm"
        )
        self.assert_fails(
            "load failed",
            'not an XM file (it does not start with "Extended Module: ")',
            xmplayer.load,
            b"x" * 400,
        )
        song = xmplayer.load(DEMO_SONG)
        self.assert_fails(
            "invalid argument", "the rate 5 Hz is outside 1000 to 384000 Hz", song.player, 5
        )
        self.assert_fails(
            "invalid argument", "the rate 500000 Hz is outside 1000 to 384000 Hz",
            song.duration, 500000,
        )
        player = song.player()
        self.assert_fails(
            "refused", "order 0 has rows 0 to 63, not 70", player.seek, order=0, row=70
        )

    def test_arguments_python_checks(self):
        song = xmplayer.load(DEMO_SONG)
        with self.assertRaises(ValueError):
            song.render(rules="ft3")
        with self.assertRaises(ValueError):
            song.render(dtype=np.float64)

    def test_versions_agree(self):
        from importlib import metadata

        self.assertEqual(xmplayer.library_version(), metadata.version("xmplayer"))


if __name__ == "__main__":
    unittest.main()

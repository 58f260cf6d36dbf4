"""The web player in a real browser: headless Chromium, driven through
chromium-driver by Selenium, loads the built page from a server on the
loopback address, opens a corpus song through the page's file input and
plays it, renders it offline through the same audio worklet, and is looked at
in a screenshot.

    python3 browser_test.py --site DIR --xm-render PATH --corpus DIR --artifacts DIR

Exits 77 (skipped) where the corpus is absent.
"""

import argparse
import functools
import hashlib
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SKIPPED = 77
SONG = "songs/tekilla_groove.xm"
RATE = 44100
OFFLINE_SECONDS = 20

arguments = None


def native_render(*options):
    """xm_render's raw output for the song."""
    run = subprocess.run(
        [arguments.xm_render, os.path.join(arguments.corpus, SONG), "-", "--rate", str(RATE), *options],
        capture_output=True,
        check=False,
    )
    if run.returncode != 0:
        raise AssertionError(f"xm_render {' '.join(options)} failed: {run.stderr.decode()}")
    return run.stdout


def song_title(path):
    """The title in the file's header, as the player reports it."""
    with open(path, "rb") as song:
        raw = song.read(37)[17:37]
    text = "".join(chr(byte) if 32 <= byte < 127 else "?" for byte in raw.split(b"\0")[0])
    return text.strip()


def image_colours(path):
    """The number of different colours in an image, by ImageMagick."""
    return int(subprocess.run(["identify", "-format", "%k", path], capture_output=True, text=True,
                              check=True).stdout)


class SiteHandler(http.server.SimpleHTTPRequestHandler):
    """Serves the site, and the corpus under /corpus/ for ?song=."""

    def translate_path(self, path):
        if path.startswith("/corpus/"):
            return os.path.join(arguments.corpus, path[len("/corpus/"):].split("?")[0])
        return super().translate_path(path)

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        pass


class WebPlayerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        handler = functools.partial(SiteHandler, directory=arguments.site)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.url = f"http://127.0.0.1:{cls.server.server_address[1]}/"

        cls.profile = tempfile.mkdtemp(prefix="xm-web-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--autoplay-policy=no-user-gesture-required", "--window-size=1280,960",
                     f"--user-data-dir={cls.profile}"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
        cls.driver = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
        cls.driver.set_script_timeout(120)
        cls.driver.get(cls.url)

        song = os.path.join(arguments.corpus, SONG)
        cls.title = song_title(song)
        cls.driver.find_element("id", "file").send_keys(os.path.abspath(song))
        cls.wait_for(lambda: cls.driver.find_element("id", "title").text == cls.title,
                     "the song's title on the page")

    @classmethod
    def tearDownClass(cls):
        # Whatever the tests did, the page's scripts threw nothing and logged
        # no error.
        errors = [entry["message"] for entry in cls.driver.get_log("browser") if entry["level"] == "SEVERE"]
        cls.driver.quit()
        cls.server.shutdown()
        shutil.rmtree(cls.profile, ignore_errors=True)
        if errors:
            raise AssertionError("the page logged errors:\n" + "\n".join(errors))

    @classmethod
    def wait_for(cls, condition, what, seconds=30):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return
            time.sleep(0.05)
        status = cls.driver.find_element("id", "status").text
        raise AssertionError(f"waited {seconds} s for {what}; the page says: {status}")

    def state(self):
        return self.driver.execute_script("return window.xmPlayerPage.state")

    def text(self, id):
        return self.driver.find_element("id", id).text

    def call(self, script):
        """Runs an async page call and returns its result."""
        result = self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            f"({script}).then(done, (error) => done({{error: String(error)}}));")
        if isinstance(result, dict) and "error" in result:
            raise AssertionError(f"{script}: {result['error']}")
        return result

    def wait_playing(self):
        self.wait_for(lambda: self.state()["playing"] and self.state().get("milliseconds", 0) > 0,
                      "the song to play")

    def test_offline_render_through_the_worklet_equals_native(self):
        for rules in ("ft2", "own"):
            with self.subTest(rules=rules):
                result = self.call(f"window.xmPlayerPage.renderOffline("
                                   f"{{seconds: {OFFLINE_SECONDS}, rate: {RATE}, rules: '{rules}'}})")
                self.assertEqual(result["frames"], OFFLINE_SECONDS * RATE)
                seconds = ("--seconds", str(OFFLINE_SECONDS), "--rules", rules)
                self.assertEqual(result["floatSha256"],
                                 hashlib.sha256(native_render(*seconds, "--float")).hexdigest())
                self.assertEqual(result["pcmSha256"], hashlib.sha256(native_render(*seconds)).hexdigest())

    def test_saved_wav_is_one_pass_as_native(self):
        result = self.call("window.xmPlayerPage.renderWav().then((bytes) => crypto.subtle.digest("
                           "'SHA-256', bytes.subarray(44)).then((digest) => ({header: Array.from("
                           "bytes.subarray(0, 44)), sha256: Array.from(new Uint8Array(digest), "
                           "(b) => b.toString(16).padStart(2, '0')).join('')})))")
        native = native_render("--rules", "ft2")
        header = bytes(result["header"])
        self.assertEqual(header[:4] + header[8:16], b"RIFFWAVEfmt ")
        self.assertEqual(int.from_bytes(header[24:28], "little"), RATE)
        self.assertEqual(header[36:40], b"data")
        self.assertEqual(int.from_bytes(header[40:44], "little"), len(native))
        self.assertEqual(result["sha256"], hashlib.sha256(native).hexdigest())

    def test_live_playback_reports_its_position(self):
        self.wait_playing()
        first = self.state()
        time.sleep(1.0)
        later = self.state()
        self.assertTrue(later["playing"])
        self.assertGreater(later["milliseconds"], first["milliseconds"] + 300)
        shown = self.text("time").split(" / ")
        self.assertRegex(shown[0], r"^\d+:\d\d\.\d$")
        self.assertNotEqual(shown[0], "0:00.0")
        self.assertNotEqual(shown[1], "0:00.0")

    def test_pattern_view_shows_the_playing_row(self):
        self.wait_playing()
        view = self.driver.execute_script("""
            const rows = document.getElementById('pattern-rows');
            const current = rows.querySelector('.line.current');
            const box = document.getElementById('pattern-view').getBoundingClientRect();
            const line = current.getBoundingClientRect();
            return {row: document.getElementById('row').textContent,
                    pattern: document.getElementById('pattern-number').textContent,
                    shownPattern: rows.dataset.pattern, currentRow: current.dataset.row,
                    lines: rows.children.length, cells: current.textContent,
                    offset: (line.top + line.bottom) / 2 - (box.top + box.bottom) / 2,
                    height: line.height};
        """)
        self.assertEqual(view["currentRow"], view["row"].split("/")[0])
        self.assertEqual(view["lines"], int(view["row"].split("/")[1]))
        self.assertEqual(view["shownPattern"], view["pattern"])
        # The playing row is held in the middle of the view.
        self.assertLess(abs(view["offset"]), view["height"])
        # A row number, then a cell for each of the song's ten channels.
        self.assertEqual(view["cells"].count("│"), 10)

    def test_keys_pause_and_move_between_orders(self):
        from selenium.webdriver.common.keys import Keys

        self.wait_playing()
        body = self.driver.find_element("tag name", "body")
        order = self.state()["order"]
        body.send_keys(Keys.ARROW_RIGHT)
        self.wait_for(lambda: self.state()["order"] > order, "the next order")
        body.send_keys(" ")
        self.wait_for(lambda: not self.state()["playing"], "the pause")
        paused = self.state()["milliseconds"]
        time.sleep(0.5)
        self.assertEqual(self.state()["milliseconds"], paused)
        body.send_keys(" ")
        self.wait_for(lambda: self.state()["playing"], "playing again")

    def test_seek_bar_moves_the_song(self):
        self.wait_playing()
        target = 60000
        self.driver.execute_script(
            "const seek = document.getElementById('seek');"
            f"seek.value = '{target}'; seek.dispatchEvent(new Event('change'));")
        self.wait_for(lambda: self.state()["milliseconds"] >= target, "the seek")
        self.assertLess(self.state()["milliseconds"], target + 5000)

    def test_song_by_address_and_a_file_that_is_no_song(self):
        main = self.driver.current_window_handle
        self.driver.switch_to.new_window("tab")
        try:
            self.driver.get(f"{self.url}?song=corpus/songs/rhino_sting.xm")
            self.wait_for(lambda: self.text("title") == song_title(os.path.join(arguments.corpus,
                                                                                "songs/rhino_sting.xm")),
                          "the song named in the address")
            with tempfile.NamedTemporaryFile(suffix=".xm") as junk:
                junk.write(b"Extended Module: but nothing after it")
                junk.flush()
                self.driver.find_element("id", "file").send_keys(junk.name)
                self.wait_for(lambda: "Cannot play" in self.text("status"), "the refusal")
            status = self.driver.find_element("id", "status")
            self.assertIn("error", status.get_attribute("class"))
            self.assertRegex(status.text, r"Cannot play tmp\w+\.xm: \w+")
            # The song that played goes on, until another one is opened.
            self.assertEqual(self.text("title"), "rhino sting")
            self.assertTrue(self.state()["playing"])
            self.driver.find_element("id", "file").send_keys(os.path.abspath(os.path.join(arguments.corpus,
                                                                                          SONG)))
            self.wait_for(lambda: self.text("title") == self.title, "the next song's title")
            self.wait_for(lambda: self.state()["playing"] and 0 < self.state().get("milliseconds", 0) < 5000,
                          "the next song from its start")
        finally:
            self.driver.close()
            self.driver.switch_to.window(main)

    def test_loop_goes_on_past_the_end_and_without_it_the_song_ends(self):
        self.wait_playing()
        end = int(self.driver.find_element("id", "seek").get_attribute("max"))
        loop = self.driver.find_element("id", "loop")
        seek_near_end = ("const seek = document.getElementById('seek');"
                         f"seek.value = '{end - 800}'; seek.dispatchEvent(new Event('change'));")
        try:
            loop.click()
            self.driver.execute_script(seek_near_end)
            self.wait_for(lambda: self.state()["milliseconds"] > end + 300, "the second pass")
            self.assertTrue(self.state()["playing"])
            self.assertGreaterEqual(self.state()["pass"], 1)
        finally:
            loop.click()
        self.driver.execute_script(seek_near_end)
        self.wait_for(lambda: self.state()["ended"], "the end")
        self.assertFalse(self.state()["playing"])
        self.assertIn("Finished", self.text("status"))
        self.driver.find_element("tag name", "body").send_keys(" ")
        self.wait_for(lambda: self.state()["playing"] and self.state()["milliseconds"] < 5000,
                      "the song again from its start")

    def test_screenshot_shows_the_page(self):
        self.wait_playing()
        time.sleep(0.5)
        os.makedirs(arguments.artifacts, exist_ok=True)
        page = os.path.join(arguments.artifacts, "web-player.png")
        self.assertTrue(self.driver.save_screenshot(page))
        self.assertGreater(image_colours(page), 50, "the page looks blank")
        title = self.driver.find_element("id", "title")
        self.assertTrue(title.is_displayed())
        self.assertEqual(title.text, self.title)
        # Each part of the page is on screen and draws something.
        for part in ("title", "transport", "position", "channels", "pattern-view"):
            with self.subTest(part=part):
                shot = os.path.join(arguments.artifacts, f"web-{part}.png")
                self.assertTrue(self.driver.find_element("id", part).screenshot(shot))
                self.assertGreater(image_colours(shot), 2, f"{part} is blank")


def main():
    global arguments
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--site", required=True)
    parser.add_argument("--xm-render", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--artifacts", required=True)
    arguments, rest = parser.parse_known_args()
    if not os.path.exists(os.path.join(arguments.corpus, SONG)):
        print(f"skipped: the corpus song {SONG} is not in {arguments.corpus}")
        return SKIPPED
    if not os.path.exists(arguments.xm_render):
        print(f"the native xm_render is not at {arguments.xm_render}: build the native release build first")
        return 1
    missing = [tool for tool in ("chromium", "chromedriver", "identify") if shutil.which(tool) is None]
    if missing:
        print(f"missing {', '.join(missing)}: scripts/install-deps.sh installs them")
        return 1
    program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())

// The WebAssembly build's speed in Node beside the native xm_render's: each
// corpus song rendered for SECONDS at 44100 Hz in 16-bit stereo, output
// discarded, the two in turn for ROUNDS rounds. Prints a Markdown table of
// the median real-time factor (seconds of music per second of processor time,
// which the machine's other load disturbs less than the wall clock), with the
// range in brackets.
//
//   node bench/web_speed.mjs SITE_DIR XM_RENDER [SONGS_DIR] [SECONDS] [ROUNDS]
//
// SITE_DIR is the web build's site folder (build/web/site), SONGS_DIR the
// corpus's songs/ by default.
import { spawnSync } from 'node:child_process';
import { readdirSync, readFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const [siteDir, xmRender, songsDir = join(root, '..', 'shared', 'corpus', 'songs'),
       secondsText = '300', roundsText = '5'] = process.argv.slice(2);
if (!siteDir || !xmRender) {
  console.error('usage: node bench/web_speed.mjs SITE_DIR XM_RENDER [SONGS_DIR] [SECONDS] [ROUNDS]');
  process.exit(2);
}
const seconds = Number(secondsText);
const rounds = Number(roundsText);
const rate = 44100;
const pull = 8192;

let songs;
try {
  songs = readdirSync(songsDir).filter((name) => name.toLowerCase().endsWith('.xm')).sort();
} catch (error) {
  console.error(`web_speed: no songs in ${songsDir}: ${error.message}`);
  process.exit(1);
}
const { default: createXmPlayerModule } = await import(pathToFileURL(join(siteDir, 'xmplayer.js')));
const { XmLibrary } = await import(pathToFileURL(join(siteDir, 'xmplayer-api.js')));
const library = await XmLibrary.create(createXmPlayerModule, readFileSync(join(siteDir, 'xmplayer.wasm')));

function wasmSpeed(song) {
  const player = song.createPlayer(rate, 'ft2');
  const start = process.cpuUsage();
  for (let done = 0; done < seconds * rate; done += pull) {
    player.renderInPlace(Math.min(pull, seconds * rate - done));
  }
  const used = process.cpuUsage(start);
  player.destroy();
  return seconds / ((used.user + used.system) / 1e6);
}

function nativeSpeed(path) {
  const run = spawnSync('/usr/bin/time', ['-f', '%U %S', xmRender, path, '-', '--seconds', String(seconds)],
                        { maxBuffer: 1 << 20, stdio: ['ignore', 'ignore', 'pipe'] });
  const times = run.stderr.toString().trim().split('\n').pop().split(' ').map(Number);
  if (run.status !== 0 || times.length !== 2) {
    throw new Error(`xm_render failed on ${path}: ${run.stderr}`);
  }
  return seconds / Math.max(times[0] + times[1], 0.01);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const shown = (values) => `${median(values).toFixed(0)} (${Math.min(...values).toFixed(0)}-${Math.max(...values).toFixed(0)})`;

console.log(`| song | WebAssembly in Node (x real time) | native xm_render | native / WebAssembly |`);
console.log(`|---|---:|---:|---:|`);
for (const name of songs) {
  const path = join(songsDir, name);
  const song = library.loadSong(readFileSync(path));
  const wasm = [];
  const native = [];
  wasmSpeed(song);
  for (let round = 0; round < rounds; ++round) {
    process.stderr.write(`${name}: round ${round + 1} of ${rounds}\r`);
    wasm.push(wasmSpeed(song));
    native.push(nativeSpeed(path));
  }
  song.free();
  console.log(`| ${name} | ${shown(wasm)} | ${shown(native)} | ${(median(native) / median(wasm)).toFixed(1)} |`);
}

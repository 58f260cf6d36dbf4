// The WebAssembly build against the native one: every corpus song, rendered
// by the web page's own script (xmplayer-api.js) in pulls of random sizes,
// must give the same bytes as the native xm_render, 16-bit and float, by both
// rule sets. Also prints how fast each build renders.
//
//   node render_compare.mjs SITE_DIR XM_RENDER CORPUS_DIR [SECONDS]
//
// Exits 77 (skipped) where the corpus is absent.
import { spawnSync } from 'node:child_process';
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';

const [siteDir, xmRender, corpusDir, secondsText = '20'] = process.argv.slice(2);
if (!siteDir || !xmRender || !corpusDir) {
  console.error('usage: node render_compare.mjs SITE_DIR XM_RENDER CORPUS_DIR [SECONDS]');
  process.exit(2);
}
const seconds = Number(secondsText);
const rate = 44100;
const frames = seconds * rate;
// songs/ and wild/ are the songs whose every bit playback keeps.
const folders = ['songs', 'wild'];

const songs = folders.flatMap((folder) => {
  const dir = join(corpusDir, folder);
  return existsSync(dir)
    ? readdirSync(dir).filter((name) => name.toLowerCase().endsWith('.xm')).sort().map((name) => join(dir, name))
    : [];
});
if (!existsSync(join(corpusDir, 'songs')) || songs.length === 0) {
  console.log(`skipped: no corpus songs in ${join(corpusDir, 'songs')}`);
  process.exit(77);
}
if (!existsSync(xmRender)) {
  console.error(`the native xm_render is not at ${xmRender}: build the native release build first`);
  process.exit(1);
}

const { default: createXmPlayerModule } = await import(pathToFileURL(join(siteDir, 'xmplayer.js')));
const { XmLibrary } = await import(pathToFileURL(join(siteDir, 'xmplayer-api.js')));
const library = await XmLibrary.create(createXmPlayerModule, readFileSync(join(siteDir, 'xmplayer.wasm')));

// A small generator of its own, so that a failure can be replayed.
function pullSizes(seed) {
  let value = seed >>> 0 || 1;
  return () => {
    value ^= value << 13;
    value ^= value >>> 17;
    value ^= value << 5;
    value >>>= 0;
    // Mostly small pulls, as an audio callback makes, now and then large ones.
    return value % 8 === 0 ? 1 + (value >>> 8) % 8192 : 1 + (value >>> 8) % 512;
  };
}

function renderWasm(song, rules, float, seed) {
  const player = song.createPlayer(rate, rules);
  const out = float ? new Float32Array(frames * 2) : new Int16Array(frames * 2);
  const nextSize = pullSizes(seed);
  let done = 0;
  while (done < frames) {
    const asked = Math.min(nextSize(), frames - done);
    const rendered = player.renderInPlace(asked, { float });
    if (rendered.length !== asked * 2) {
      throw new Error(`rendered ${rendered.length / 2} of ${asked} frames with no pass limit`);
    }
    out.set(rendered, done * 2);
    done += asked;
  }
  player.destroy();
  return Buffer.from(out.buffer);
}

function renderNative(path, rules, float) {
  const args = [path, '-', '--seconds', String(seconds), '--rate', String(rate), '--rules', rules];
  if (float) {
    args.push('--float');
  }
  const run = spawnSync(xmRender, args, { maxBuffer: frames * 8 + 1024 });
  if (run.status !== 0) {
    throw new Error(`xm_render ${args.join(' ')} failed: ${run.stderr}`);
  }
  return run.stdout;
}

let passed = 0;
let failed = 0;
let wasmSeconds = 0;
let nativeSeconds = 0;
for (const [index, path] of songs.entries()) {
  const name = path.slice(corpusDir.length + 1);
  let song;
  try {
    song = library.loadSong(readFileSync(path));
  } catch (error) {
    console.log(`FAIL ${name}: the WebAssembly build cannot load it: ${error.message}`);
    ++failed;
    continue;
  }
  for (const rules of ['ft2', 'own']) {
    for (const float of [false, true]) {
      const what = `${name} ${rules} ${float ? 'float' : '16-bit'}`;
      const nativeStart = performance.now();
      const native = renderNative(path, rules, float);
      nativeSeconds += (performance.now() - nativeStart) / 1000;
      const wasmStart = performance.now();
      const wasm = renderWasm(song, rules, float, index * 4 + (rules === 'own' ? 2 : 0) + (float ? 1 : 0) + 1);
      wasmSeconds += (performance.now() - wasmStart) / 1000;
      if (native.equals(wasm)) {
        ++passed;
        continue;
      }
      ++failed;
      const frameBytes = float ? 8 : 4;
      let first = 0;
      while (first < Math.min(native.length, wasm.length) && native[first] === wasm[first]) {
        ++first;
      }
      console.log(`FAIL ${what}: native ${native.length} bytes, WebAssembly ${wasm.length}; ` +
                  `first difference in frame ${Math.floor(first / frameBytes)}`);
    }
  }
  song.free();
}

const music = songs.length * 4 * seconds;
console.log(`${songs.length} songs, ${seconds} s each, 16-bit and float by both rule sets: ` +
            `WebAssembly in Node ${(music / wasmSeconds).toFixed(0)} s of music a second, ` +
            `native xm_render (one thread, with its start) ${(music / nativeSeconds).toFixed(0)}`);
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);

// The web player's page: loads a song from a dropped or chosen file or from
// ?song=URL, plays it through the audio worklet (worklet.js) and shows where
// it is. The page keeps a player library of its own for what it shows (the
// title, the order list, the patterns, the length) and for saving WAV files;
// the worklet's player is the one heard.
import createXmPlayerModule from './xmplayer.js';
import { XmLibrary } from './xmplayer-api.js';
import { cellText, formatTime, toPcm16, wavHeader } from './formats.js';

const wavRate = 44100;
// A song that never comes back to a row it played is saved this long.
const endlessSongSeconds = 600;
// How far a channel's meter falls in one animation frame.
const meterFall = 0.9;
const rowHeight = 18;

const element = (id) => document.getElementById(id);
const ui = {
  file: element('file'),
  title: element('title'),
  status: element('status'),
  previous: element('previous'),
  play: element('play'),
  next: element('next'),
  time: element('time'),
  seek: element('seek'),
  rules: element('rules'),
  loop: element('loop'),
  save: element('save'),
  saveProgress: element('save-progress'),
  order: element('order'),
  pattern: element('pattern-number'),
  row: element('row'),
  summary: element('summary'),
  channels: element('channels'),
  patternRows: element('pattern-rows'),
};

const state = {
  library: null,
  wasmBytes: null,
  context: null,
  node: null,
  song: null,
  songBytes: null,
  fileName: '',
  duration: null,
  reports: [],
  shown: null,
  ended: false,
  seeking: false,
  shownPattern: -1,
  patternCache: new Map(),
  patternLines: [],
  currentLine: null,
  meters: [],
  levels: [],
  instruments: [],
  saving: false,
};

function setStatus(text, isError = false) {
  ui.status.textContent = text;
  ui.status.classList.toggle('error', isError);
}

async function library() {
  if (state.library === null) {
    const response = await fetch('xmplayer.wasm');
    if (!response.ok) {
      throw new Error(`cannot fetch the player's WebAssembly module (${response.status})`);
    }
    state.wasmBytes = await response.arrayBuffer();
    state.library = await XmLibrary.create(createXmPlayerModule, state.wasmBytes);
  }
  return state.library;
}

async function audioContext() {
  if (state.context === null) {
    const context = new AudioContext({ latencyHint: 'playback' });
    context.addEventListener('statechange', () => showPlaying());
    await context.audioWorklet.addModule('worklet.js');
    state.context = context;
  }
  return state.context;
}

// A worklet node playing the current song, ready to render once it reports
// ready: in the live context or in an offline one.
function playerNode(context, { rules, loop, startMilliseconds = 0, reportEvery = 4 }) {
  const node = new AudioWorkletNode(context, 'xm-player', {
    numberOfInputs: 0,
    numberOfOutputs: 1,
    outputChannelCount: [2],
    processorOptions: {
      wasmBytes: state.wasmBytes,
      songBytes: state.songBytes,
      rules,
      loop,
      startMilliseconds,
      reportEvery,
    },
  });
  const ready = new Promise((resolve, reject) => {
    node.port.onmessage = (event) => {
      if (event.data.type === 'ready') {
        resolve(node);
      } else if (event.data.type === 'error') {
        reject(new Error(event.data.message));
      }
    };
  });
  return { node, ready };
}

async function loadSong(bytes, fileName) {
  setStatus(`Loading ${fileName}…`);
  let song;
  try {
    song = (await library()).loadSong(bytes);
  } catch (error) {
    setStatus(`Cannot play ${fileName}: ${error.message}`, true);
    return;
  }
  const context = await audioContext();
  stopNode();
  state.song?.free();
  state.song = song;
  state.songBytes = bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
  state.fileName = fileName;
  state.ended = false;
  state.reports = [];
  state.shown = null;
  state.shownPattern = -1;
  state.patternCache = new Map();
  const { summary } = song;
  ui.title.textContent = summary.title || fileName;
  document.title = `${summary.title || fileName} · XM player`;
  ui.summary.textContent = `${summary.channels} channels · ${summary.instruments} instruments · ` +
    `${summary.songLength} orders · ${summary.frequencyTable} frequencies · ` +
    `speed ${summary.speed}, ${summary.tempo} BPM`;
  buildChannels(summary.channels);
  measure();
  const { node, ready } = playerNode(context, { rules: ui.rules.value, loop: ui.loop.checked });
  state.node = node;
  try {
    await ready;
  } catch (error) {
    setStatus(`Cannot play ${fileName}: ${error.message}`, true);
    return;
  }
  if (state.node !== node) {
    return;
  }
  node.port.onmessage = (event) => receive(event.data);
  node.connect(context.destination);
  for (const control of [ui.previous, ui.play, ui.next, ui.seek, ui.save]) {
    control.disabled = false;
  }
  // Without a click or key on the page first, a browser may hold the sound
  // back until one comes: the page then says to press play.
  context.resume();
  showPlaying();
  showPosition({ order: 0, row: 0, milliseconds: 0, pass: 0, instruments: [], volumes: [] });
}

function stopNode() {
  if (state.node !== null) {
    state.node.port.onmessage = null;
    state.node.port.postMessage({ type: 'stop' });
    state.node.disconnect();
    state.node = null;
  }
}

function measure() {
  state.duration = state.song.measure(state.context.sampleRate, ui.rules.value);
  ui.seek.max = String(state.duration.milliseconds);
}

function send(message) {
  // What was reported before a move is not heard any more.
  state.reports = [];
  state.node?.port.postMessage(message);
}

function receive(message) {
  if (message.type === 'position') {
    state.reports.push(message);
    if (message.ended && !state.ended) {
      state.ended = true;
      showPlaying();
    }
  }
}

function showPlaying() {
  const playing = state.context?.state === 'running' && !state.ended;
  ui.play.classList.toggle('playing', playing);
  if (state.ended) {
    setStatus('Finished. Press space or ▶ to play it again.');
  } else if (state.context?.state !== 'running') {
    setStatus(state.song ? 'Paused. Press space or ▶ to play.' : 'Open or drop an XM file to play it.');
  } else {
    setStatus(`Playing ${state.fileName} at ${state.context.sampleRate} Hz, ` +
      `${ui.rules.value === 'ft2' ? "FastTracker 2's rules" : "the player's own rules"}` +
      `${ui.loop.checked ? ', looping' : ''}.`);
  }
}

async function togglePlaying() {
  if (state.node === null) {
    return;
  }
  if (state.ended) {
    send({ type: 'restart' });
    state.ended = false;
    await state.context.resume();
  } else if (state.context.state === 'running') {
    await state.context.suspend();
  } else {
    await state.context.resume();
  }
  showPlaying();
}

function moveOrder(direction) {
  if (state.node === null) {
    return;
  }
  const order = state.shown?.order ?? 0;
  send({ type: 'seekOrder', order: order + direction, direction });
  state.ended = false;
  showPlaying();
}

// ---- What is heard now

// The context time of the frames leaving the speakers now.
function audibleTime() {
  const stamp = state.context.getOutputTimestamp?.();
  if (stamp && stamp.contextTime > 0) {
    return stamp.contextTime;
  }
  return state.context.currentTime - (state.context.baseLatency ?? 0) - (state.context.outputLatency ?? 0);
}

// The last report of frames already heard, or the first one still to come
// where none is.
function heardReport() {
  const reports = state.reports;
  if (reports.length === 0) {
    return null;
  }
  const now = audibleTime();
  let heard = 0;
  while (heard + 1 < reports.length && reports[heard + 1].contextTime <= now) {
    ++heard;
  }
  reports.splice(0, heard);
  return reports[0];
}

function animate() {
  if (state.song !== null && state.context !== null) {
    const report = heardReport();
    if (report !== null && report !== state.shown) {
      showPosition(report);
    }
    for (let c = 0; c < state.meters.length; ++c) {
      state.levels[c] = Math.max(state.shown?.volumes[c] ?? 0, state.levels[c] * meterFall);
      const shown = Math.min(state.levels[c], 1);
      state.meters[c].style.clipPath = `inset(0 ${(100 - 100 * shown).toFixed(1)}% 0 0)`;
    }
  }
  requestAnimationFrame(animate);
}

function showPosition(report) {
  state.shown = report;
  const song = state.song;
  const pattern = song.orderPattern(report.order);
  ui.order.textContent = `${report.order}/${song.summary.songLength}`;
  ui.pattern.textContent = String(pattern);
  ui.row.textContent = `${report.row}/${song.orderRows(report.order)}`;
  const duration = state.duration;
  ui.time.textContent = `${formatTime(report.milliseconds)} / ${formatTime(duration.milliseconds)}`;
  if (!state.seeking) {
    ui.seek.value = String(timeInFirstPass(report.milliseconds));
  }
  for (let c = 0; c < state.instruments.length; ++c) {
    const instrument = report.instruments[c] ?? 0;
    state.instruments[c].textContent = instrument > 0 ? String(instrument) : '–';
  }
  showPattern(pattern, report.row);
}

// Past its first pass a looping song plays again from where it comes back
// to: the time of the same place in the first pass.
function timeInFirstPass(milliseconds) {
  const { milliseconds: end, loopStartMilliseconds: start, comesBack } = state.duration;
  if (!comesBack || milliseconds < end || end <= start) {
    return Math.min(milliseconds, end);
  }
  return start + ((milliseconds - end) % (end - start));
}

function buildChannels(count) {
  ui.channels.replaceChildren();
  state.meters = [];
  state.levels = [];
  state.instruments = [];
  for (let c = 0; c < count; ++c) {
    const cell = document.createElement('div');
    cell.className = 'channel';
    cell.innerHTML = `<span class="number mono">${c + 1}</span>` +
      '<div class="meter"><div class="level"></div></div><span class="instrument mono">–</span>';
    ui.channels.append(cell);
    state.meters.push(cell.querySelector('.level'));
    state.levels.push(0);
    state.instruments.push(cell.querySelector('.instrument'));
  }
}

// ---- The pattern view

function fieldHtml(text, kind, blank) {
  return text === null ? `<span class="empty">${blank}</span>` : `<span class="${kind}">${text}</span>`;
}

function patternHtml(pattern) {
  const rows = state.song.patternCells(pattern);
  return rows.map((cells, row) => {
    const fields = cells.map((cell) => {
      const text = cellText(cell);
      return fieldHtml(text.note, 'note', '---') + ' ' + fieldHtml(text.instrument, 'instrument', '--') +
        ' ' + fieldHtml(text.volume, 'volume', '--') + ' ' + fieldHtml(text.effect, 'effect', '---');
    });
    const beat = row % 4 === 0 ? ' beat' : '';
    return `<div class="line${beat}" data-row="${row}"><span class="row-number">` +
      `${String(row).padStart(3, '0')}</span><span class="separator"> │ </span>` +
      `${fields.join('<span class="separator"> │ </span>')}</div>`;
  }).join('');
}

function showPattern(pattern, row) {
  if (pattern !== state.shownPattern) {
    state.shownPattern = pattern;
    if (!state.patternCache.has(pattern)) {
      state.patternCache.set(pattern, pattern >= 0 ? patternHtml(pattern) : '');
    }
    ui.patternRows.innerHTML = state.patternCache.get(pattern);
    state.patternLines = Array.from(ui.patternRows.children);
    state.currentLine = null;
    ui.patternRows.dataset.pattern = String(pattern);
  }
  const line = state.patternLines[row] ?? null;
  if (line !== state.currentLine) {
    state.currentLine?.classList.remove('current');
    line?.classList.add('current');
    state.currentLine = line;
  }
  ui.patternRows.dataset.row = String(row);
  ui.patternRows.style.transform = `translateY(${-(row + 0.5) * rowHeight}px)`;
}

// ---- Rendering in the page

function baseName() {
  return state.fileName.replace(/\.[^.]*$/, '') || 'song';
}

// One pass of the song as a 16-bit 44100 Hz WAV file, by the rules chosen.
async function renderWav(onProgress = () => {}) {
  const player = state.song.createPlayer(wavRate, ui.rules.value);
  try {
    const duration = state.song.measure(wavRate, ui.rules.value);
    player.setPassLimit(1);
    const frames = duration.comesBack ? duration.frames : endlessSongSeconds * wavRate;
    const pcm = new Int16Array(frames * 2);
    let done = 0;
    let lastYield = performance.now();
    while (done < frames) {
      const rendered = player.renderInPlace(Math.min(frames - done, 8192));
      if (rendered.length === 0) {
        break;
      }
      pcm.set(rendered, done * 2);
      done += rendered.length / 2;
      // The page stays responsive and shows how far it is.
      if (performance.now() - lastYield > 50) {
        onProgress(done / frames);
        await new Promise((resolve) => setTimeout(resolve, 0));
        lastYield = performance.now();
      }
    }
    onProgress(1);
    return new Blob([wavHeader(done, wavRate), pcm.subarray(0, done * 2)], { type: 'audio/wav' });
  } finally {
    player.destroy();
  }
}

async function saveWav() {
  if (state.song === null || state.saving) {
    return;
  }
  state.saving = true;
  ui.save.disabled = true;
  ui.saveProgress.hidden = false;
  try {
    const blob = await renderWav((done) => { ui.saveProgress.value = done; });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = `${baseName()}.wav`;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  } catch (error) {
    setStatus(`Cannot save the WAV file: ${error.message}`, true);
  } finally {
    state.saving = false;
    ui.save.disabled = false;
    ui.saveProgress.hidden = true;
  }
}

async function sha256(buffer) {
  const digest = new Uint8Array(await crypto.subtle.digest('SHA-256', buffer));
  return Array.from(digest, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

// Renders the first `seconds` of the song through the same worklet in an
// OfflineAudioContext, looping, and returns the SHA-256 of its interleaved
// float frames and of their 16-bit values, as xm_render writes them raw.
async function renderOffline({ seconds = 20, rate = wavRate, rules = ui.rules.value } = {}) {
  const frames = Math.round(seconds * rate);
  const context = new OfflineAudioContext({ numberOfChannels: 2, length: frames, sampleRate: rate });
  await context.audioWorklet.addModule('worklet.js');
  const { node, ready } = playerNode(context, { rules, loop: true, reportEvery: 0 });
  await ready;
  node.connect(context.destination);
  const rendered = await context.startRendering();
  const left = rendered.getChannelData(0);
  const right = rendered.getChannelData(1);
  const floats = new Float32Array(frames * 2);
  const pcm = new Int16Array(frames * 2);
  for (let i = 0; i < frames; ++i) {
    floats[2 * i] = left[i];
    floats[2 * i + 1] = right[i];
    pcm[2 * i] = toPcm16(left[i]);
    pcm[2 * i + 1] = toPcm16(right[i]);
  }
  return { frames, floatSha256: await sha256(floats.buffer), pcmSha256: await sha256(pcm.buffer) };
}

// ---- Input

async function openFile(file) {
  if (file) {
    await loadSong(new Uint8Array(await file.arrayBuffer()), file.name);
  }
}

async function openUrl(url) {
  const name = decodeURIComponent(url.split(/[?#]/)[0].split('/').pop() || url);
  setStatus(`Fetching ${url}…`);
  try {
    const response = await fetch(url);
    if (!response.ok) {
      throw new Error(`the server answered ${response.status} ${response.statusText}`);
    }
    await loadSong(new Uint8Array(await response.arrayBuffer()), name);
  } catch (error) {
    setStatus(`Cannot fetch ${url}: ${error.message}`, true);
  }
}

ui.file.addEventListener('change', () => {
  openFile(ui.file.files[0]).catch((error) => setStatus(error.message, true));
});

let dragDepth = 0;
document.addEventListener('dragenter', (event) => {
  event.preventDefault();
  ++dragDepth;
  document.body.classList.add('dragging');
});
document.addEventListener('dragleave', () => {
  if (--dragDepth <= 0) {
    dragDepth = 0;
    document.body.classList.remove('dragging');
  }
});
document.addEventListener('dragover', (event) => event.preventDefault());
document.addEventListener('drop', (event) => {
  event.preventDefault();
  dragDepth = 0;
  document.body.classList.remove('dragging');
  openFile(event.dataTransfer.files[0]).catch((error) => setStatus(error.message, true));
});

// Keys act on the song wherever the focus is, but in the rules' list.
document.addEventListener('keydown', (event) => {
  if (event.target instanceof HTMLSelectElement || event.ctrlKey || event.altKey || event.metaKey) {
    return;
  }
  if (event.key === ' ') {
    togglePlaying();
  } else if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
    moveOrder(event.key === 'ArrowRight' ? 1 : -1);
  } else {
    return;
  }
  event.preventDefault();
}, true);
// A focused button or box would take the space as a click of its own.
document.addEventListener('keyup', (event) => {
  if (event.key === ' ' && !(event.target instanceof HTMLSelectElement)) {
    event.preventDefault();
  }
}, true);

ui.play.addEventListener('click', () => togglePlaying());
ui.previous.addEventListener('click', () => moveOrder(-1));
ui.next.addEventListener('click', () => moveOrder(1));
ui.seek.addEventListener('input', () => {
  state.seeking = true;
  ui.time.textContent = `${formatTime(Number(ui.seek.value))} / ${formatTime(state.duration.milliseconds)}`;
});
// A drag let go where it started moves nothing, and the bar follows the song
// again.
ui.seek.addEventListener('pointerup', () => { state.seeking = false; });
ui.seek.addEventListener('change', () => {
  state.seeking = false;
  send({ type: 'seekTime', milliseconds: Number(ui.seek.value) });
  state.ended = false;
  showPlaying();
});
ui.rules.addEventListener('change', () => {
  if (state.song !== null) {
    measure();
    send({ type: 'rules', rules: ui.rules.value });
    showPlaying();
  }
});
ui.loop.addEventListener('change', () => {
  state.node?.port.postMessage({ type: 'loop', loop: ui.loop.checked });
  showPlaying();
});
ui.save.addEventListener('click', () => saveWav());

// For scripts that drive the page, such as its tests.
window.xmPlayerPage = {
  renderOffline,
  renderWav: async () => new Uint8Array(await (await renderWav()).arrayBuffer()),
  get state() {
    return { playing: state.context?.state === 'running' && !state.ended, ended: state.ended, ...state.shown };
  },
};

requestAnimationFrame(animate);
const songUrl = new URLSearchParams(location.search).get('song');
if (songUrl) {
  openUrl(songUrl);
}
library().catch((error) => setStatus(error.message, true));

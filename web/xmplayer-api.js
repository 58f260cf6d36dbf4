// The player's C API (player/c_api/xmplayer.h) in JavaScript, over its
// WebAssembly build: songs loaded from bytes, measured and described, and
// players that render into typed arrays. Used alike by the page, by its audio
// worklet and by Node, so it touches nothing but the module it is given.

const layoutNames = [
  'errorSize', 'errorStatus', 'errorMessage',
  'summarySize', 'summaryTitle', 'summaryChannels', 'summarySongLength',
  'summaryRestartPosition', 'summaryPatterns', 'summaryInstruments', 'summarySpeed',
  'summaryTempo', 'summaryFrequencyTable',
  'durationSize', 'durationMilliseconds', 'durationLoopStartMilliseconds',
  'durationLoopOrder', 'durationLoopRow', 'durationComesBack', 'durationFrames',
  'durationLoopStartFrames',
  'positionSize', 'positionOrder', 'positionRow', 'positionMilliseconds', 'positionFrames',
  'positionPass',
  'channelViewSize', 'channelViewInstrument', 'channelViewVolume',
  'cellSize', 'cellNote',
];

const statusRefused = 4;
const titleBytes = 21;
// The most frames one render call takes; longer requests are split.
const maxPull = 8192;

export const rulesByName = { ft2: 0, own: 1 };

export class XmError extends Error {
  constructor(status, message) {
    super(message);
    this.name = 'XmError';
    this.status = status;
  }
}

// The player library in one instance of the WebAssembly module.
export class XmLibrary {
  // Instantiates the module that `createModule` (the generated loader's
  // default export) makes from the .wasm file's bytes. The bytes are handed
  // over rather than fetched, so that the same loader serves in a page, in an
  // audio worklet and in Node.
  static async create(createModule, wasmBytes) {
    const module = await createModule({
      wasmBinary: wasmBytes,
      // Named only so that the loader need not resolve the file's URL, which
      // an audio worklet's scope has no URL class for.
      locateFile: (path) => path,
    });
    return new XmLibrary(module);
  }

  constructor(module) {
    this.module = module;
    const table = module._xmWebLayout() >> 2;
    const count = module.HEAP32[table];
    if (count !== layoutNames.length) {
      throw new Error(`the module describes ${count} fields, this script knows ${layoutNames.length}`);
    }
    this.layout = {};
    layoutNames.forEach((name, index) => { this.layout[name] = module.HEAP32[table + 1 + index]; });
    this.error = this.malloc(this.layout.errorSize);
    this.scratch = this.malloc(Math.max(this.layout.summarySize, this.layout.durationSize,
                                        this.layout.positionSize, 8));
  }

  malloc(bytes) {
    const pointer = this.module._malloc(bytes);
    if (pointer === 0) {
      throw new XmError(3, 'out of memory');
    }
    return pointer;
  }

  // The module's memory can grow, which replaces its buffer: views are taken
  // afresh for each use.
  get bytes() { return this.module.HEAPU8; }
  get view() { return new DataView(this.module.HEAPU8.buffer); }

  version() { return this.module.UTF8ToString(this.module._xmplayerVersionText()); }

  // Throws the library's message for a status other than ok.
  check(status) {
    if (status !== 0) {
      const message = this.module.UTF8ToString(this.error + this.layout.errorMessage);
      throw new XmError(status, message || this.module.UTF8ToString(this.module._xmplayerStatusText(status)));
    }
  }

  // Loads an XM file from its bytes (an ArrayBuffer or a typed array).
  loadSong(data) {
    const bytes = data instanceof Uint8Array ? data : new Uint8Array(data.buffer ?? data);
    const copy = this.malloc(Math.max(bytes.length, 1));
    this.bytes.set(bytes, copy);
    try {
      this.check(this.module._xmplayerLoadMemory(copy, bytes.length, this.scratch, this.error));
      return new XmSong(this, this.view.getUint32(this.scratch, true));
    } finally {
      this.module._free(copy);
    }
  }
}

function readAscii(bytes, start, length) {
  let text = '';
  for (let i = start; i < start + length && bytes[i] !== 0; ++i) {
    text += String.fromCharCode(bytes[i]);
  }
  return text;
}

export class XmSong {
  constructor(library, handle) {
    this.library = library;
    this.handle = handle;
    const { module, layout } = library;
    library.check(module._xmplayerDescribeSong(handle, library.scratch, library.error));
    const view = library.view;
    const at = (offset) => view.getInt32(library.scratch + offset, true);
    this.summary = {
      title: readAscii(library.bytes, library.scratch + layout.summaryTitle, titleBytes),
      channels: at(layout.summaryChannels),
      songLength: at(layout.summarySongLength),
      restartPosition: at(layout.summaryRestartPosition),
      patterns: at(layout.summaryPatterns),
      instruments: at(layout.summaryInstruments),
      speed: at(layout.summarySpeed),
      tempo: at(layout.summaryTempo),
      frequencyTable: at(layout.summaryFrequencyTable) === 0 ? 'amiga' : 'linear',
    };
  }

  orderPattern(order) { return this.library.module._xmplayerOrderPattern(this.handle, order); }
  orderRows(order) { return this.library.module._xmplayerOrderRows(this.handle, order); }
  patternRows(pattern) { return this.library.module._xmplayerPatternRows(this.handle, pattern); }

  // A pattern's cells, row after row and the song's channels in each: an
  // array of {note, instrument, volume, effect, parameter} for each row.
  patternCells(pattern) {
    const { library } = this;
    const { module, layout } = library;
    const count = module._xmplayerPatternCells(this.handle, pattern, 0, 0);
    if (count <= 0) {
      return [];
    }
    const cells = library.malloc(count * layout.cellSize);
    try {
      module._xmplayerPatternCells(this.handle, pattern, cells, count);
      const bytes = library.bytes;
      const channels = this.summary.channels;
      const rows = [];
      for (let first = 0; first < count; first += channels) {
        const row = [];
        for (let c = 0; c < channels && first + c < count; ++c) {
          const at = cells + (first + c) * layout.cellSize + layout.cellNote;
          row.push({ note: bytes[at], instrument: bytes[at + 1], volume: bytes[at + 2],
                     effect: bytes[at + 3], parameter: bytes[at + 4] });
        }
        rows.push(row);
      }
      return rows;
    } finally {
      module._free(cells);
    }
  }

  // One pass through the song at `rate` by `rules` ('ft2' or 'own').
  measure(rate, rules = 'ft2') {
    const { library } = this;
    const { layout } = library;
    library.check(library.module._xmplayerMeasureSong(this.handle, rate, rulesByName[rules],
                                                      library.scratch, library.error));
    const view = library.view;
    const at = library.scratch;
    return {
      milliseconds: Number(view.getBigInt64(at + layout.durationMilliseconds, true)),
      loopStartMilliseconds: Number(view.getBigInt64(at + layout.durationLoopStartMilliseconds, true)),
      loopOrder: view.getInt32(at + layout.durationLoopOrder, true),
      loopRow: view.getInt32(at + layout.durationLoopRow, true),
      comesBack: view.getUint8(at + layout.durationComesBack) !== 0,
      frames: Number(view.getBigInt64(at + layout.durationFrames, true)),
      loopStartFrames: Number(view.getBigInt64(at + layout.durationLoopStartFrames, true)),
    };
  }

  createPlayer(rate, rules = 'ft2') {
    const { library } = this;
    library.check(library.module._xmplayerCreatePlayer(this.handle, rate, rulesByName[rules],
                                                       library.scratch, library.error));
    return new XmPlayer(this, library.view.getUint32(library.scratch, true));
  }

  // Players of the song must be destroyed first.
  free() {
    this.library.module._xmplayerFreeSong(this.handle);
    this.handle = 0;
  }
}

export class XmPlayer {
  constructor(song, handle) {
    this.song = song;
    this.library = song.library;
    this.handle = handle;
    const { layout } = this.library;
    this.frames = this.library.malloc(maxPull * 2 * 4);
    this.views = this.library.malloc(song.summary.channels * layout.channelViewSize);
  }

  // Renders up to frameCount frames and returns them in an array of their
  // own, interleaved left and right: Float32Array for float, Int16Array
  // otherwise. Shorter than asked once the pass limit ends the song.
  render(frameCount, { float = false } = {}) {
    const out = float ? new Float32Array(frameCount * 2) : new Int16Array(frameCount * 2);
    let done = 0;
    while (done < frameCount) {
      const asked = Math.min(frameCount - done, maxPull);
      const rendered = this.renderInPlace(asked, { float });
      out.set(rendered, done * 2);
      done += rendered.length / 2;
      if (rendered.length / 2 < asked) {
        break;
      }
    }
    return done === frameCount ? out : out.subarray(0, done * 2);
  }

  // The same, up to 8192 frames, as a view of the module's memory that the
  // next call overwrites: what an audio callback wants, with no allocation.
  renderInPlace(frameCount, { float = false } = {}) {
    const { module } = this.library;
    const count = Math.min(frameCount, maxPull);
    if (float) {
      const rendered = module._xmplayerRenderFloatFrames(this.handle, this.frames, count);
      if (this.floatView?.buffer !== module.HEAPF32.buffer) {
        this.floatView = new Float32Array(module.HEAPF32.buffer, this.frames, maxPull * 2);
      }
      return this.floatView.subarray(0, rendered * 2);
    }
    const rendered = module._xmplayerRenderFrames(this.handle, this.frames, count);
    if (this.pcmView?.buffer !== module.HEAP16.buffer) {
      this.pcmView = new Int16Array(module.HEAP16.buffer, this.frames, maxPull * 2);
    }
    return this.pcmView.subarray(0, rendered * 2);
  }

  // 0 loops for ever; 1 ends the song after its first pass.
  setPassLimit(passes) { this.library.module._xmplayerSetPassLimit(this.handle, passes); }
  setUnheardChannels(mask) { this.library.module._xmplayerSetUnheardChannels(this.handle, mask >>> 0); }
  restart() { this.library.module._xmplayerRestartPlayer(this.handle); }

  position() {
    const { library } = this;
    const { layout } = library;
    library.check(library.module._xmplayerRenderedPosition(this.handle, library.scratch, library.error));
    const view = library.view;
    const at = library.scratch;
    return {
      order: view.getInt32(at + layout.positionOrder, true),
      row: view.getInt32(at + layout.positionRow, true),
      milliseconds: Number(view.getBigInt64(at + layout.positionMilliseconds, true)),
      frames: Number(view.getBigInt64(at + layout.positionFrames, true)),
      pass: view.getInt32(at + layout.positionPass, true),
    };
  }

  // What each channel plays: its instrument (0 for none) and volume (0 to 1).
  channels() {
    const { library } = this;
    const { module, layout } = library;
    const count = Math.min(module._xmplayerViewChannels(this.handle, this.views, this.song.summary.channels),
                           this.song.summary.channels);
    const view = library.view;
    const result = [];
    for (let c = 0; c < count; ++c) {
      const at = this.views + c * layout.channelViewSize;
      result.push({ instrument: view.getInt32(at + layout.channelViewInstrument, true),
                    volume: view.getFloat32(at + layout.channelViewVolume, true) });
    }
    return result;
  }

  // False, and the frames to come as they were, where the song cannot go.
  seekToTime(milliseconds) {
    return this.seekResult(this.library.module._xmplayerSeekToTime(
      this.handle, BigInt(Math.trunc(milliseconds)), this.library.error));
  }

  seekToOrder(order, row = 0) {
    return this.seekResult(this.library.module._xmplayerSeekToOrder(this.handle, order, row,
                                                                    this.library.error));
  }

  seekResult(status) {
    if (status === statusRefused) {
      return false;
    }
    this.library.check(status);
    return true;
  }

  destroy() {
    const { module } = this.library;
    module._xmplayerDestroyPlayer(this.handle);
    module._free(this.frames);
    module._free(this.views);
    this.handle = 0;
  }
}

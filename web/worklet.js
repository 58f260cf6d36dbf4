// The audio worklet that plays a song: the player runs on the audio rendering
// thread itself and renders each 128-frame quantum as the browser asks for
// it, so no other thread and no shared memory is needed. It reports where the
// song is to the page, stamped with the context time at which those frames
// are heard.
import createXmPlayerModule from './xmplayer.js';
import { XmLibrary } from './xmplayer-api.js';

class XmPlayerProcessor extends AudioWorkletProcessor {
  // processorOptions: wasmBytes and songBytes (ArrayBuffers), rules ('ft2' or
  // 'own'), loop, startMilliseconds, and reportEvery (quanta between
  // reports, 0 for none).
  constructor(options) {
    super();
    const settings = options.processorOptions;
    this.rules = settings.rules ?? 'ft2';
    this.loop = settings.loop ?? false;
    this.reportEvery = settings.reportEvery ?? 4;
    this.quanta = 0;
    this.ended = false;
    this.stopped = false;
    this.player = null;
    this.port.onmessage = (event) => this.receive(event.data);
    XmLibrary.create(createXmPlayerModule, settings.wasmBytes)
      .then((library) => {
        if (this.stopped) {
          return;
        }
        this.song = library.loadSong(settings.songBytes);
        this.startPlayer(settings.startMilliseconds ?? 0);
        this.port.postMessage({ type: 'ready' });
      })
      .catch((error) => this.port.postMessage({ type: 'error', message: String(error.message ?? error) }));
  }

  startPlayer(milliseconds) {
    const player = this.song.createPlayer(sampleRate, this.rules);
    player.setPassLimit(this.loop ? 0 : 1);
    if (milliseconds > 0) {
      player.seekToTime(milliseconds);
    }
    this.player?.destroy();
    this.player = player;
    this.ended = false;
    this.report();
  }

  receive(message) {
    if (message.type === 'stop') {
      // The page has done with this node: process() lets it go.
      this.stopped = true;
      return;
    }
    if (this.player === null) {
      return;
    }
    switch (message.type) {
      case 'seekTime':
        if (this.player.seekToTime(message.milliseconds)) {
          this.ended = false;
        }
        break;
      case 'seekOrder':
        this.seekOrder(message.order, message.direction);
        break;
      case 'restart':
        this.player.restart();
        this.ended = false;
        break;
      case 'rules':
        // A new player by the new rules, at the same time in the song.
        this.rules = message.rules;
        this.startPlayer(this.player.position().milliseconds);
        break;
      case 'loop':
        this.loop = message.loop;
        this.player.setPassLimit(this.loop ? 0 : 1);
        break;
      default:
        return;
    }
    this.report();
  }

  // The first order from `order` on, going `direction`, that the song plays
  // within its first pass.
  seekOrder(order, direction) {
    const orders = this.song.summary.songLength;
    for (let target = Math.max(order, 0); target >= 0 && target < orders; target += direction) {
      if (this.player.seekToOrder(target, 0)) {
        this.ended = false;
        return;
      }
    }
  }

  report() {
    const position = this.player.position();
    const channels = this.player.channels();
    this.port.postMessage({
      type: 'position',
      // The frames rendered so far end at the end of this quantum.
      contextTime: currentTime + 128 / sampleRate,
      ended: this.ended,
      ...position,
      instruments: channels.map((view) => view.instrument),
      volumes: channels.map((view) => view.volume),
    });
  }

  process(inputs, outputs) {
    if (this.stopped) {
      this.player?.destroy();
      this.song?.free();
      this.player = null;
      this.song = null;
      return false;
    }
    const [left, right] = outputs[0];
    if (this.player === null || this.ended) {
      return true;
    }
    const frames = this.player.renderInPlace(left.length, { float: true });
    const count = frames.length / 2;
    for (let i = 0; i < count; ++i) {
      left[i] = frames[2 * i];
      right[i] = frames[2 * i + 1];
    }
    // Past the end of a song that does not loop the outputs stay silent.
    if (count < left.length) {
      this.ended = true;
      this.report();
    } else if (this.reportEvery > 0 && ++this.quanta % this.reportEvery === 0) {
      this.report();
    }
    return true;
  }
}

registerProcessor('xm-player', XmPlayerProcessor);

// WAV files of 16-bit stereo PCM, and the text the page shows for cells and
// times: plain functions, shared by the page and its tests in Node.

// The 44-byte header of a canonical WAV file holding `frames` frames.
export function wavHeader(frames, rate, channels = 2) {
  const bytesPerFrame = 2 * channels;
  const dataBytes = frames * bytesPerFrame;
  if (dataBytes > 0xffffffff - 36) {
    throw new RangeError('too long for a WAV file, whose sizes are 32-bit');
  }
  const header = new DataView(new ArrayBuffer(44));
  const text = (offset, value) => {
    for (let i = 0; i < value.length; ++i) {
      header.setUint8(offset + i, value.charCodeAt(i));
    }
  };
  text(0, 'RIFF');
  header.setUint32(4, 36 + dataBytes, true);
  text(8, 'WAVE');
  text(12, 'fmt ');
  header.setUint32(16, 16, true);
  header.setUint16(20, 1, true); // integer PCM
  header.setUint16(22, channels, true);
  header.setUint32(24, rate, true);
  header.setUint32(28, rate * bytesPerFrame, true);
  header.setUint16(32, bytesPerFrame, true);
  header.setUint16(34, 16, true);
  text(36, 'data');
  header.setUint32(40, dataBytes, true);
  return header.buffer;
}

// The 16-bit value of a float frame value, as the player converts it:
// rounded to nearest with ties to even, clamped.
export function toPcm16(value) {
  const scaled = value * 32768;
  let rounded = Math.round(scaled);
  if (rounded - scaled === 0.5 && rounded % 2 !== 0) {
    rounded -= 1;
  }
  return Math.min(32767, Math.max(-32768, rounded)) | 0;
}

// m:ss.t, as the command-line player shows times.
export function formatTime(milliseconds) {
  const total = Math.max(0, Math.floor(milliseconds));
  const seconds = Math.floor(total / 1000) % 60;
  return `${Math.floor(total / 60000)}:${String(seconds).padStart(2, '0')}.${Math.floor(total / 100) % 10}`;
}

const noteNames = ['C-', 'C#', 'D-', 'D#', 'E-', 'F-', 'F#', 'G-', 'G#', 'A-', 'A#', 'B-'];
const keyOff = 97;
const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, '0');
// The volume column's commands above its volumes, by their high nibble.
const volumeCommands = { 6: '-', 7: '+', 8: 'D', 9: 'U', 10: 'S', 11: 'V', 12: 'P', 13: 'L', 14: 'R', 15: 'M' };

// A pattern cell's four fields as a tracker shows them; null for an empty one.
export function cellText(cell) {
  let note = null;
  if (cell.note === keyOff) {
    note = '===';
  } else if (cell.note >= 1 && cell.note < keyOff) {
    note = noteNames[(cell.note - 1) % 12] + Math.floor((cell.note - 1) / 12);
  }
  let volume = null;
  if (cell.volume >= 0x10 && cell.volume <= 0x50) {
    volume = hex(cell.volume - 0x10, 2);
  } else if (cell.volume >= 0x60) {
    volume = volumeCommands[cell.volume >> 4] + hex(cell.volume & 15, 1);
  }
  let effect = null;
  if (cell.effect !== 0 || cell.parameter !== 0) {
    effect = cell.effect.toString(36).toUpperCase() + hex(cell.parameter, 2);
  }
  return {
    note,
    instrument: cell.instrument > 0 ? hex(cell.instrument, 2) : null,
    volume,
    effect,
  };
}

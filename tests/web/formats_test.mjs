// The page's plain functions: the 16-bit conversion of the offline render,
// the WAV header of saved files and the tracker text of pattern cells.
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { test } from 'node:test';
import { pathToFileURL } from 'node:url';

const { cellText, formatTime, toPcm16, wavHeader } =
  await import(pathToFileURL(join(process.env.WEB_SITE_DIR, 'formats.js')));

test('float frames become the 16-bit values the player gives', () => {
  const cases = [
    [0, 0], [1 / 32768, 1], [-1 / 32768, -1],
    // Ties go to the even neighbour, both ways.
    [0.5 / 32768, 0], [1.5 / 32768, 2], [2.5 / 32768, 2], [-0.5 / 32768, 0], [-1.5 / 32768, -2],
    [-2.5 / 32768, -2], [0.75 / 32768, 1], [-0.75 / 32768, -1],
    // Clamped at full scale.
    [1, 32767], [32767.5 / 32768, 32767], [-1, -32768], [-1.5, -32768], [3, 32767],
  ];
  for (const [value, expected] of cases) {
    assert.equal(toPcm16(Math.fround(value)), expected, `${value * 32768} / 32768`);
  }
});

test('a WAV header counts the frames it holds', () => {
  const header = new DataView(wavHeader(1000, 44100));
  const text = (at) => String.fromCharCode(...new Uint8Array(header.buffer, at, 4));
  assert.deepEqual([text(0), text(8), text(12), text(36)], ['RIFF', 'WAVE', 'fmt ', 'data']);
  assert.equal(header.getUint32(4, true), 36 + 4000);
  assert.equal(header.getUint16(22, true), 2);
  assert.equal(header.getUint32(24, true), 44100);
  assert.equal(header.getUint32(28, true), 44100 * 4);
  assert.equal(header.getUint32(40, true), 4000);
  assert.throws(() => wavHeader(2 ** 30, 44100), RangeError);
});

test('pattern cells read as a tracker shows them', () => {
  const cases = [
    [{ note: 0, instrument: 0, volume: 0, effect: 0, parameter: 0 },
     { note: null, instrument: null, volume: null, effect: null }],
    [{ note: 1, instrument: 1, volume: 0x10, effect: 0, parameter: 0x37 },
     { note: 'C-0', instrument: '01', volume: '00', effect: '037' }],
    [{ note: 50, instrument: 0x80, volume: 0x50, effect: 15, parameter: 6 },
     { note: 'C#4', instrument: '80', volume: '40', effect: 'F06' }],
    [{ note: 96, instrument: 0, volume: 0xc8, effect: 14, parameter: 0xd2 },
     { note: 'B-7', instrument: null, volume: 'P8', effect: 'ED2' }],
    [{ note: 97, instrument: 0, volume: 0x6f, effect: 20, parameter: 0 },
     { note: '===', instrument: null, volume: '-F', effect: 'K00' }],
    [{ note: 0, instrument: 0, volume: 0xf3, effect: 33, parameter: 0x12 },
     { note: null, instrument: null, volume: 'M3', effect: 'X12' }],
    // Bytes that are not volumes (0x01 to 0x0f, 0x51 to 0x5f) show nothing.
    [{ note: 0, instrument: 0, volume: 0x55, effect: 0, parameter: 0 },
     { note: null, instrument: null, volume: null, effect: null }],
  ];
  for (const [cell, expected] of cases) {
    assert.deepEqual(cellText(cell), expected);
  }
});

test('times read as minutes, seconds and tenths', () => {
  for (const [milliseconds, text] of [[0, '0:00.0'], [999, '0:00.9'], [61050, '1:01.0'], [3599999, '59:59.9'],
                                      [-5, '0:00.0']]) {
    assert.equal(formatTime(milliseconds), text);
  }
});

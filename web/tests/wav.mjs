// Test signals, float WAV files and bit comparisons for the web tests.
import { readFileSync, writeFileSync } from 'node:fs';

// Noise and a tone from integer arithmetic, then silence for the tails.
export function signal(channels, frames) {
  let state = 12345;
  return Array.from({ length: channels }, (_, c) => {
    const samples = new Float32Array(frames);
    for (let f = 0; f < (frames * 3) / 4; f++) {
      state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
      samples[f] = ((state >>> 8) - 8388608) / 33554432 + (((f >> 6) + c) % 2 ? 0.25 : -0.25);
    }
    return samples;
  });
}

export function writeFloatWav(path, channels, rate) {
  const frames = channels[0].length;
  const data = Buffer.alloc(frames * channels.length * 4);
  for (let f = 0; f < frames; f++)
    channels.forEach((c, i) => data.writeFloatLE(c[f], (f * channels.length + i) * 4));
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + data.length, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(3, 20);  // IEEE float
  header.writeUInt16LE(channels.length, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate * channels.length * 4, 28);
  header.writeUInt16LE(channels.length * 4, 32);
  header.writeUInt16LE(32, 34);
  header.write('data', 36);
  header.writeUInt32LE(data.length, 40);
  writeFileSync(path, Buffer.concat([header, data]));
}

// The float samples of a WAV's data chunk, de-interleaved.
export function readFloatWav(path, count) {
  const bytes = readFileSync(path);
  let at = 12;
  while (bytes.toString('latin1', at, at + 4) !== 'data') at += 8 + bytes.readUInt32LE(at + 4);
  const frames = bytes.readUInt32LE(at + 4) / 4 / count;
  return Array.from({ length: count }, (_, c) => {
    const samples = new Float32Array(frames);
    for (let f = 0; f < frames; f++) samples[f] = bytes.readFloatLE(at + 8 + (f * count + c) * 4);
    return samples;
  });
}

// The first index where two Float32Arrays differ in their bits, -1 when
// they are the same (a length difference counts at the shorter length).
export function sameBits(a, b) {
  const x = new Uint32Array(a.buffer, a.byteOffset, a.length);
  const y = new Uint32Array(b.buffer, b.byteOffset, b.length);
  for (let i = 0; i < x.length; i++) if (x[i] !== y[i]) return i;
  return x.length === y.length ? -1 : x.length;
}

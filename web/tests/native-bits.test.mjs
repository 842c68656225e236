// The WebAssembly chains against the native command-line tool: the same
// input and chain file through `quorvel-fx apply --encoding float --tail 0`
// and through web/js/quorvel.mjs must give the same float bits, for every
// effect, mono and stereo, at 44.1 to 192 kHz and several block sizes; and
// what the rules refuse is refused with the tool's message.
//   node native-bits.test.mjs MODULE.mjs QUORVEL_FX
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { Quorvel, render } from '../js/quorvel.mjs';
import { readFloatWav, sameBits, signal, writeFloatWav } from './wav.mjs';

const [modulePath, tool] = process.argv.slice(2);
const createModule = (await import(pathToFileURL(resolve(modulePath)).href)).default;
const quorvel = await Quorvel.load(createModule,
                                   readFileSync(resolve(modulePath).replace(/\.mjs$/, '.wasm')));
const scratch = mkdtempSync(join(tmpdir(), 'quorvel-web-'));


const chains = [
  { effects: [{ name: 'Delay', parameters: { delayMs: 3, feedbackLevel: 0.9 } }] },
  { effects: [{ name: 'PingPongDelay', parameters: { delayMs: '2ms', wetMix: 0.6 } }] },
  { effects: [{ name: 'Chorus' }] },
  { effects: [{ name: 'Flanger', parameters: { frequency: '2Hz' } }] },
  { effects: [{ name: 'Vibrato', parameters: { sweepWidth: '4ms' } }] },
  { effects: [{ name: 'Flanger' }, { name: 'Delay', parameters: { delayMs: 20 } }] },
];
let cases = 0;
try {
  for (const rate of [44100, 48000, 96000, 192000]) {
    for (const count of [1, 2]) {
      const input = signal(count, rate / 4);
      const inPath = join(scratch, 'in.wav');
      writeFloatWav(inPath, input, rate);
      for (const chain of chains) {
        if (chain.effects[0].name === 'PingPongDelay' && count === 1) continue;
        const chainPath = join(scratch, 'chain.json');
        writeFileSync(chainPath, JSON.stringify(chain));
        const outPath = join(scratch, 'out.wav');
        execFileSync(tool, ['apply', '-q', '--encoding', 'float', '--tail', '0', '--chain',
                            chainPath, inPath, outPath], { stdio: ['ignore', 'ignore', 'ignore'] });
        const native = readFloatWav(outPath, count);
        assert.equal(native[0].length, input[0].length, 'the tool wrote every frame');
        for (const block of [1, 37, 128, 4096]) {
          const web = render(quorvel, input, rate, chain, block);
          native.forEach((expected, c) => {
            const at = sameBits(web[c], expected);
            assert.equal(at, -1, `${JSON.stringify(chain)} ${rate} Hz ${count} ch block ${block}: ` +
                                 `channel ${c} differs from frame ${at}`);
          });
          cases++;
        }
      }
    }
  }
  // Refusals carry the rules' own messages, as the tool's do.
  for (const [chain, rate, count] of [
    [{ effects: [{ name: 'Chorus', parameters: { frequency: 21 } }] }, 48000, 2],
    [{ effects: [{ name: 'PingPongDelay' }] }, 48000, 1],
    ['{"effects": [', 48000, 2],
    [{ effects: [{ name: 'Delay' }] }, 0, 2],
  ]) {
    assert.throws(() => quorvel.chain(chain, rate, count), (error) => {
      assert.match(error.message, /\S/);
      return true;
    });
  }
  assert.throws(() => quorvel.chain({ effects: [{ name: 'Chorus', parameters: { frequency: 21 } }] },
                                    48000, 2),
                /Chorus: frequency=21: out of range \[0, 20\] Hz/);
  // A live change the rules refuse leaves the effect as it was: a value
  // beyond the delay line at the rate, NaN, infinities, text that is no value.
  const input = signal(2, 4096);
  const untouched = render(quorvel, input, 192000, { effects: [{ name: 'Vibrato' }] });
  const chain = quorvel.chain({ effects: [{ name: 'Vibrato' }] }, 192000, 2);
  for (const value of ['0.4s', NaN, Infinity, -Infinity, 'fast', -1]) {
    assert.throws(() => chain.set(0, 'sweepWidth', value), /^Error: Vibrato: sweepWidth=/, String(value));
  }
  assert.throws(() => chain.set(0, 'depth', 1), /unknown parameter 'depth'/);
  const after = input.map((c) => Float32Array.from(c));
  for (let start = 0; start < 4096; start += 128) chain.process(after.map((c) => c.subarray(start, start + 128)));
  chain.destroy();
  after.forEach((c, i) => assert.equal(sameBits(c, untouched[i]), -1, 'refused changes left no trace'));
  console.log(`native-bits: ${cases} renders equal the native tool's bits; refused changes leave no trace`);
} finally {
  rmSync(scratch, { recursive: true, force: true });
}

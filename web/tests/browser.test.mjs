// Every effect through its AudioWorklet in Chromium's OfflineAudioContext,
// against the native tool: the same input and chain file must give the same
// float bits (render quanta of 128 frames), mono and stereo, 44.1 to 192 kHz;
// a chain the rules refuse reaches the page as the rules' message.
//   node browser.test.mjs BUILD_DIR QUORVEL_FX
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

import { readFloatWav, signal, writeFloatWav } from './wav.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const [buildDir, tool] = process.argv.slice(2).map((p) => resolve(p));
const files = {
  '/': ['text/html', '<!doctype html><title>quorvel-fx tests</title>'],
  '/js/quorvel.mjs': ['text/javascript', join(here, '../js/quorvel.mjs')],
  '/js/worklet.mjs': ['text/javascript', join(here, '../js/worklet.mjs')],
  '/js/quorvel-effects.mjs': ['text/javascript', join(buildDir, 'quorvel-effects.mjs')],
  '/js/quorvel-effects.wasm': ['application/wasm', join(buildDir, 'quorvel-effects.wasm')],
};
const server = createServer((request, response) => {
  const file = files[request.url];
  if (!file) {
    response.writeHead(404).end();
    return;
  }
  const [type, source] = file;
  response.writeHead(200, { 'Content-Type': type });
  response.end(source.startsWith('<') ? source : readFileSync(source));
});
await new Promise((ready) => server.listen(0, '127.0.0.1', ready));
const origin = `http://127.0.0.1:${server.address().port}`;

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--no-first-run'],
});
const scratch = mkdtempSync(join(tmpdir(), 'quorvel-browser-'));
try {
  const page = await browser.newPage();
  await page.goto(`${origin}/`);
  // Renders `channels` (arrays of numbers) through the chain in the page.
  const renderInPage = (channels, rate, chain) =>
    page.evaluate(async ({ channels, rate, chain }) => {
      const frames = channels[0].length;
      const context = new OfflineAudioContext(channels.length, frames, rate);
      await context.audioWorklet.addModule('/js/worklet.mjs');
      const wasmBytes = await (await fetch('/js/quorvel-effects.wasm')).arrayBuffer();
      const node = new AudioWorkletNode(context, 'quorvel-chain', {
        numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [channels.length],
        channelCount: channels.length, channelCountMode: 'explicit', channelInterpretation: 'discrete',
        processorOptions: { wasmBytes, chain, channels: channels.length },
      });
      const state = await new Promise((settle) => { node.port.onmessage = (e) => settle(e.data); });
      if (state.error) return { error: state.error };
      const buffer = context.createBuffer(channels.length, frames, rate);
      channels.forEach((c, i) => buffer.copyToChannel(Float32Array.from(c), i));
      const source = context.createBufferSource();
      source.buffer = buffer;
      source.connect(node).connect(context.destination);
      source.start();
      const rendered = await context.startRendering();
      return { channels: Array.from({ length: channels.length },
                                    (_, i) => Array.from(rendered.getChannelData(i))) };
    }, { channels, rate, chain });

  const chains = [
    { effects: [{ name: 'Delay', parameters: { delayMs: 3, feedbackLevel: 0.9 } }] },
    { effects: [{ name: 'PingPongDelay', parameters: { delayMs: '2ms' } }] },
    { effects: [{ name: 'Chorus' }] },
    { effects: [{ name: 'Flanger', parameters: { frequency: '2Hz' } }] },
    { effects: [{ name: 'Vibrato' }] },
  ];
  let cases = 0;
  for (const [rate, count] of [[44100, 2], [48000, 1], [96000, 2], [192000, 2]]) {
    const input = signal(count, 4096);
    const inPath = join(scratch, 'in.wav');
    writeFloatWav(inPath, input, rate);
    for (const chain of chains) {
      if (chain.effects[0].name === 'PingPongDelay' && count === 1) continue;
      const chainPath = join(scratch, 'chain.json');
      writeFileSync(chainPath, JSON.stringify(chain));
      const outPath = join(scratch, 'out.wav');
      execFileSync(tool, ['apply', '-q', '--encoding', 'float', '--tail', '0', '--chain', chainPath,
                          inPath, outPath], { stdio: 'ignore' });
      const native = readFloatWav(outPath, count);
      const result = await renderInPage(input.map((c) => Array.from(c)), rate, chain);
      assert.equal(result.error, undefined, result.error);
      native.forEach((expected, c) => {
        const got = Float32Array.from(result.channels[c]);
        assert.equal(got.length, expected.length);
        const a = new Uint32Array(got.buffer), b = new Uint32Array(expected.buffer);
        const at = a.findIndex((bits, i) => bits !== b[i]);
        assert.equal(at, -1, `${JSON.stringify(chain)} ${rate} Hz ${count} ch: channel ${c} differs at frame ${at}`);
      });
      cases++;
    }
  }
  const refused = await renderInPage([[0, 0]], 48000,
                                     { effects: [{ name: 'Chorus', parameters: { frequency: 21 } }] });
  assert.equal(refused.error, 'chain.json: effects[0]: Chorus: frequency=21: out of range [0, 20] Hz');
  console.log(`browser: ${cases} worklet renders in Chromium equal the native tool's bits`);
} finally {
  await browser.close();
  server.close();
  rmSync(scratch, { recursive: true, force: true });
}

// Every effect through its AudioWorklet in Chromium's OfflineAudioContext,
// against the native tool: the same input and chain file must give the same
// float bits (render quanta of 128 frames), mono and stereo, 44.1 to 192 kHz;
// the package's render() and a parameter change at a render quantum give the
// module's own bits; a chain or value the rules refuse reaches the page as
// the rules' message.
//   node browser.test.mjs BUILD_DIR QUORVEL_FX
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { Quorvel, render } from '../js/quorvel.mjs';
import { launchChromium, moduleFiles, serveFiles } from './browser-support.mjs';
import { readFloatWav, sameBits, signal, writeFloatWav } from './wav.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const [buildDir, tool] = process.argv.slice(2).map((p) => resolve(p));
const { origin, server } = await serveFiles({
  '/': ['text/html', '<!doctype html><title>quorvel-fx tests</title>'],
  ...moduleFiles(buildDir),
});
const browser = await launchChromium();
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
        const at = sameBits(got, expected);
        assert.equal(at, -1, `${JSON.stringify(chain)} ${rate} Hz ${count} ch: channel ${c} differs at frame ${at}`);
      });
      cases++;
    }
  }
  // The package's own API: render() and an effect node whose parameter
  // changes at a render quantum boundary (the context suspended there), the
  // same bits as the chain run block by block with the change at that frame.
  const createModule = (await import(pathToFileURL(join(buildDir, 'quorvel-effects.mjs')).href)).default;
  const quorvel = await Quorvel.load(createModule, readFileSync(join(buildDir, 'quorvel-effects.wasm')));
  const input = signal(2, 8192);
  const expected = input.map((c) => Float32Array.from(c));
  const chain = quorvel.chain({ effects: [{ name: 'Flanger', parameters: { sweepWidth: '3ms' } }] },
                              48000, 2);
  for (let start = 0; start < 8192; start += 128) {
    if (start === 2048) chain.set(0, 'frequency', '3Hz');
    chain.process(expected.map((c) => c.subarray(start, start + 128)));
  }
  chain.destroy();
  const api = await page.evaluate(async (channels) => {
    const { loadQuorvel, effectNodes, render } = await import('/js/index.mjs');
    const rate = 48000, frames = channels[0].length;
    const buffer = new AudioBuffer({ numberOfChannels: 2, length: frames, sampleRate: rate });
    channels.forEach((c, i) => buffer.copyToChannel(Float32Array.from(c), i));
    const whole = await render(buffer, { effects: [{ name: 'Flanger', parameters: { sweepWidth: '3ms' } }] });
    const context = new OfflineAudioContext(2, frames, rate);
    const loaded = await loadQuorvel(context);
    const { Flanger } = effectNodes(loaded);
    const flanger = new Flanger(context, loaded, { sweepWidth: '3ms' });
    await flanger.ready;
    const source = context.createBufferSource();
    source.buffer = buffer;
    source.connect(flanger).connect(context.destination);
    source.start();
    context.suspend(2048 / rate).then(async () => {
      await flanger.setParameter('frequency', '3Hz');
      await context.resume();
    });
    const changed = await context.startRendering();
    let refusal = '';
    try {
      await flanger.setParameter('frequency', 'fast');
    } catch (error) {
      refusal = error.message;
    }
    const table = Flanger.parameters.map((p) => p.key).join(',');
    const read = (b) => [0, 1].map((i) => Array.from(b.getChannelData(i)));
    return { whole: read(whole), changed: read(changed), refusal, table };
  }, input.map((c) => Array.from(c)));
  const sameAs = (got, want, what) => want.forEach((w, c) => {
    assert.equal(sameBits(Float32Array.from(got[c]), w), -1, `${what}: channel ${c}`);
  });
  const unchanged = render(quorvel, input, 48000,
                           { effects: [{ name: 'Flanger', parameters: { sweepWidth: '3ms' } }] });
  sameAs(api.whole, unchanged, 'render()');
  sameAs(api.changed, expected, 'a parameter change at frame 2048');
  assert.equal(api.table, 'enabled,sweepWidth,frequency');
  assert.equal(api.refusal, 'Flanger: frequency=fast: not a frequency; give hertz, e.g. 5, 5Hz or 0.005kHz');

  const refused = await renderInPage([[0, 0]], 48000,
                                     { effects: [{ name: 'Chorus', parameters: { frequency: 21 } }] });
  assert.equal(refused.error, 'chain.json: effects[0]: Chorus: frequency=21: out of range [0, 20] Hz');
  console.log(`browser: ${cases} worklet renders in Chromium equal the native tool's bits; ` +
              'render() and a parameter change at a quantum boundary equal the module run block by block');
} finally {
  await browser.close();
  server.close();
  rmSync(scratch, { recursive: true, force: true });
}

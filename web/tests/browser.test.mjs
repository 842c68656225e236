// Every effect through its AudioWorklet in Chromium's OfflineAudioContext,
// against the native tool: the same input and chain file must give the same
// float bits (render quanta of 128 frames), mono and stereo, 44.1 to 192 kHz,
// with each effect at its defaults, off, and at each end of every range the
// module's table gives at the rate (the longest delay and sweep that fit,
// frequency 0 and 20 Hz, feedback at its limit, dry and wet 0 and 1); the
// package's render() and, for every effect, changes at render-quantum
// boundaries (delay times, sweeps, on and off, and refused values between
// them) give the module's own bits run block by block; hostile values
// through the node classes' options and setParameter get the module's
// messages; a chain or value the rules refuse reaches the page as the
// rules' message.
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
  // Float32Arrays to and from the page as base64 of their bytes, which
  // JSON carries far faster than arrays of numbers.
  const toBase64 = (samples) => Buffer.from(samples.buffer, samples.byteOffset, samples.byteLength).toString('base64');
  const fromBase64 = (text) => { const b = Buffer.from(text, 'base64'); return new Float32Array(b.buffer, b.byteOffset, b.length / 4); };
  await page.evaluate(() => {
    window.toBase64 = (samples) => {
      const bytes = new Uint8Array(samples.buffer, samples.byteOffset, samples.byteLength);
      let text = '';
      for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode(...bytes.subarray(i, i + 8192));
      return btoa(text);
    };
    window.fromBase64 = (text) => {
      const bytes = Uint8Array.from(atob(text), (c) => c.charCodeAt(0));
      return new Float32Array(bytes.buffer);
    };
  });
  // Renders each case ({channels: [base64], chain}) through the chain in
  // the page, all at `rate` in one context (each case's output on channels
  // of its own, as long as the longest); each gives {channels: [base64]},
  // as long as its input, or {error}.
  const renderInPage = (rate, cases) =>
    page.evaluate(async ({ rate, cases }) => {
      const wasmBytes = await (await fetch('/js/quorvel-effects.wasm')).arrayBuffer();
      const inputs = cases.map((c) => c.channels.map(fromBase64));
      const total = inputs.reduce((sum, channels) => sum + channels.length, 0);
      const frames = Math.max(...inputs.map((channels) => channels[0].length));
      const context = new OfflineAudioContext(total, frames, rate);
      await context.audioWorklet.addModule('/js/worklet.mjs');
      const merger = context.createChannelMerger(total);
      merger.connect(context.destination);
      const results = [];
      let first = 0;
      for (const [n, { chain }] of cases.entries()) {
        const channels = inputs[n], count = channels.length;
        const node = new AudioWorkletNode(context, 'quorvel-chain', {
          numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [count],
          channelCount: count, channelCountMode: 'explicit', channelInterpretation: 'discrete',
          processorOptions: { wasmBytes: wasmBytes.slice(0), chain, channels: count },
        });
        const state = await new Promise((settle) => { node.port.onmessage = (e) => settle(e.data); });
        results.push(state.error ? { error: state.error } : { first, count, frames: channels[0].length });
        if (state.error) continue;
        const buffer = context.createBuffer(count, channels[0].length, rate);
        channels.forEach((c, i) => buffer.copyToChannel(c, i));
        const source = context.createBufferSource();
        source.buffer = buffer;
        source.connect(node);
        const split = context.createChannelSplitter(count);
        node.connect(split);
        for (let c = 0; c < count; c++) split.connect(merger, c, first + c);
        source.start();
        first += count;
      }
      const rendered = await context.startRendering();
      return results.map((r) => (r.error ? r : {
        channels: Array.from({ length: r.count }, (_, c) => toBase64(rendered.getChannelData(r.first + c).subarray(0, r.frames))),
      }));
    }, { rate, cases });

  const createModule = (await import(pathToFileURL(join(buildDir, 'quorvel-effects.mjs')).href)).default;
  const quorvel = await Quorvel.load(createModule, readFileSync(join(buildDir, 'quorvel-effects.wasm')));

  // The settings each effect is heard with at `rate`: its defaults, off, and
  // each parameter at both ends of what the table says fits at the rate
  // (the delay effects' feedback and mixes at theirs too, the swept ones'
  // longest sweep at the fastest and the slowest sweep), plus one from each
  // of the old cases.
  const settingsAt = (type, rate) => {
    const table = Object.fromEntries(quorvel.effectsAt(rate).find((t) => t.name === type).parameters.map((p) => [p.key, p]));
    const list = [{}, { enabled: false }];
    for (const p of Object.values(table)) {
      if (p.type === 'boolean') continue;
      list.push({ [p.key]: p.minimum }, { [p.key]: p.maximum });
    }
    if (table.delayMs) {
      list.push({ delayMs: table.delayMs.maximum, feedbackLevel: table.feedbackLevel.maximum, dryMix: 0, wetMix: 1 },
                { delayMs: 3, feedbackLevel: 0.9 }, { delayMs: '2ms', dryMix: 1, wetMix: 0 });
    } else {
      list.push({ sweepWidth: table.sweepWidth.maximum, frequency: table.frequency.maximum },
                { sweepWidth: table.sweepWidth.maximum, frequency: 0 }, { frequency: '2Hz', sweepWidth: '4ms' });
    }
    return list;
  };
  // Frames enough to hear a setting: past the longest echo, and through a
  // whole sweep at 20 Hz at least.
  const framesFor = (parameters, rate) => {
    const delay = typeof parameters.delayMs === 'number' ? (parameters.delayMs * rate) / 1000 : 0;
    const sweep = typeof parameters.sweepWidth === 'number' ? parameters.sweepWidth * rate + rate / 20 : 0;
    return Math.max(4096, Math.ceil((Math.max(delay, sweep) + 2048) / 128) * 128);
  };
  let cases = 0;
  for (const [rate, count] of [[44100, 2], [48000, 1], [96000, 2], [192000, 2], [192000, 1]]) {
    const batch = [];
    for (const type of quorvel.effects) {
      if (count < type.minimumChannels) continue;
      for (const parameters of settingsAt(type.name, rate)) {
        const chain = { effects: [{ name: type.name, parameters }] };
        const input = signal(count, framesFor(parameters, rate));
        const inPath = join(scratch, 'in.wav');
        writeFloatWav(inPath, input, rate);
        const chainPath = join(scratch, 'chain.json');
        writeFileSync(chainPath, JSON.stringify(chain));
        const outPath = join(scratch, 'out.wav');
        execFileSync(tool, ['apply', '-q', '--encoding', 'float', '--tail', '0', '--chain', chainPath,
                            inPath, outPath], { stdio: 'ignore' });
        batch.push({ chain, rate, native: readFloatWav(outPath, count), channels: input.map(toBase64) });
      }
    }
    // At most 32 channels to a context.
    const results = [];
    for (let from = 0; from < batch.length; from += Math.floor(32 / count)) {
      const part = batch.slice(from, from + Math.floor(32 / count));
      results.push(...await renderInPage(rate, part.map(({ channels, chain }) => ({ channels, chain }))));
    }
    batch.forEach(({ chain, native }, n) => {
      const result = results[n];
      assert.equal(result.error, undefined, result.error);
      native.forEach((expected, c) => {
        const got = fromBase64(result.channels[c]);
        assert.equal(got.length, expected.length);
        const at = sameBits(got, expected);
        assert.equal(at, -1, `${JSON.stringify(chain)} ${rate} Hz ${count} ch: channel ${c} differs at frame ${at}`);
      });
      cases++;
    });
  }
  // The package's own API: render() and an effect node whose parameter
  // changes at a render quantum boundary (the context suspended there), the
  // same bits as the chain run block by block with the change at that frame.
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

  // Every effect through its node class with changes at render-quantum
  // boundaries (each frame a multiple of 128; the context suspended there):
  // delay times and sweeps, off and on again, and between them values the
  // rules refuse, which must leave the running effect as it was. The bits
  // and every message equal the module's run block by block.
  const hostile = [NaN, Infinity, -Infinity, 1e30, -1e30, '', 'x'.repeat(100000), {}, [3], null, 'fast', 'nope'];
  const schedules = {
    Delay: [{ delayMs: 20, feedbackLevel: 0.9 }, [[1024, 'delayMs', 5], [2048, 'enabled', false], [2048, 'delayMs', NaN],
            [3072, 'enabled', true], [3072, 'delayMs', 1e30], [4096, 'delayMs', '40ms'], [4096, 'wetMix', 1], [5120, 'dryMix', -0]]],
    PingPongDelay: [{ delayMs: 10 }, [[1024, 'delayMs', 1], [2048, 'feedbackLevel', 0.99], [2048, 'delayMs', 0],
                    [3072, 'enabled', 'off'], [4096, 'enabled', 1], [4096, 'delayMs', Infinity], [5120, 'delayMs', 30]]],
    Chorus: [{}, [[1024, 'sweepWidth', '5ms'], [2048, 'frequency', 20], [2048, 'sweepWidth', 1], [3072, 'enabled', false],
             [4096, 'enabled', true], [4096, 'frequency', 0], [5120, 'frequency', -0]]],
    Flanger: [{ frequency: 5 }, [[1024, 'sweepWidth', 0.02], [2048, 'frequency', 0], [3072, 'enabled', 'no'],
              [3072, 'sweepWidth', '1s'], [4096, 'enabled', 'yes'], [5120, 'frequency', '20Hz']]],
    Vibrato: [{}, [[1024, 'sweepWidth', '3ms'], [2048, 'frequency', 12.5], [3072, 'enabled', false],
              [4096, 'enabled', true], [4096, 'sweepWidth', -1], [5120, 'sweepWidth', 0]]],
  };
  let changes = 0;
  for (const [rate, count] of [[48000, 2], [44100, 1]]) {
    for (const [name, [options, schedule]] of Object.entries(schedules)) {
      if (count < quorvel.effects.find((t) => t.name === name).minimumChannels) continue;
      // Each change point also gets every hostile value, refused, on the key changed there.
      const steps = schedule.flatMap(([frame, key, value]) => [[frame, key, value], ...hostile.map((h) => [frame, key, h])]);
      const input = signal(count, 6144);
      const expected = input.map((c) => Float32Array.from(c));
      const chain = quorvel.chain({ effects: [{ name, parameters: options }] }, rate, count);
      const messages = [];
      for (let start = 0; start < 6144; start += 128) {
        for (const [frame, key, value] of steps) {
          if (frame !== start) continue;
          try { chain.set(0, key, value); messages.push(''); } catch (error) { messages.push(error.message); }
        }
        chain.process(expected.map((c) => c.subarray(start, start + 128)));
      }
      chain.destroy();
      const got = await page.evaluate(async ({ name, options, steps, channels, rate }) => {
        const { loadQuorvel, effectNodes } = await import('/js/index.mjs');
        const count = channels.length;
        const context = new OfflineAudioContext(count, 6144, rate);
        const loaded = await loadQuorvel(context);
        const node = new (effectNodes(loaded)[name])(context, loaded, options, count);
        await node.ready;
        const buffer = context.createBuffer(count, 6144, rate);
        channels.forEach((c, i) => buffer.copyToChannel(fromBase64(c), i));
        const source = context.createBufferSource();
        source.buffer = buffer;
        source.connect(node).connect(context.destination);
        source.start();
        const messages = [];
        for (const frame of [...new Set(steps.map((s) => s[0]))]) {
          context.suspend(frame / rate).then(async () => {
            for (const [at, key, value] of steps) {
              if (at !== frame) continue;
              await node.setParameter(key, value).then(() => messages.push(''), (error) => messages.push(error.message));
            }
            await context.resume();
          });
        }
        const rendered = await context.startRendering();
        return { messages, channels: Array.from({ length: count }, (_, i) => toBase64(rendered.getChannelData(i))) };
      }, { name, options, steps, channels: input.map(toBase64), rate });
      assert.deepEqual(got.messages, messages, `${name} at ${rate} Hz: the messages`);
      assert.ok(messages.filter((m) => m === '').length >= schedule.length - 2, `${name}: most changes are taken`);
      expected.forEach((want, c) => {
        const at = sameBits(fromBase64(got.channels[c]), want);
        assert.equal(at, -1, `${name} at ${rate} Hz ${count} ch with changes: channel ${c} differs at frame ${at}`);
      });
      changes += steps.length;
    }
  }

  // Hostile values in a node class's options: refused with the module's
  // message for the same chain of objects (ready rejects), or accepted.
  const optionCases = [];
  for (const type of quorvel.effects) {
    for (const p of type.parameters) {
      for (const value of [NaN, -Infinity, 1e30, -0, '', {}, undefined, 'x'.repeat(100000), true]) {
        optionCases.push([type.name, { [p.key]: value }]);
      }
    }
    optionCases.push([type.name, { nope: 1 }], [type.name, null], [type.name, 'delayMs']);
  }
  const expectedOptions = optionCases.map(([name, parameters]) => {
    try { quorvel.chain({ effects: [{ name, parameters }] }, 48000, 2).destroy(); return ''; } catch (error) { return error.message; }
  });
  // undefined does not survive page.evaluate: its cases go as a marker.
  const gotOptions = await page.evaluate(async (cases) => {
    const { loadQuorvel, effectNodes } = await import('/js/index.mjs');
    const context = new OfflineAudioContext(2, 128, 48000);
    const loaded = await loadQuorvel(context);
    const nodes = effectNodes(loaded);
    const revive = (v) => (v === '<undefined>' ? undefined : v === '<NaN>' ? NaN : v === '<-Infinity>' ? -Infinity : v === '<-0>' ? -0 : v);
    return Promise.all(cases.map(([name, parameters]) => {
      const given = parameters && typeof parameters === 'object'
        ? Object.fromEntries(Object.entries(parameters).map(([k, v]) => [k, revive(v)])) : parameters;
      return new nodes[name](context, loaded, given).ready.then(() => '', (error) => error.message);
    }));
  }, optionCases.map(([name, parameters]) => [name, parameters && typeof parameters === 'object'
    ? Object.fromEntries(Object.entries(parameters).map(([k, v]) => [k, v === undefined ? '<undefined>' : Number.isNaN(v) ? '<NaN>'
      : v === -Infinity ? '<-Infinity>' : Object.is(v, -0) ? '<-0>' : v])) : parameters]));
  assert.deepEqual(gotOptions, expectedOptions);
  assert.ok(expectedOptions.filter((m) => m !== '').length > optionCases.length / 2);

  const [refused] = await renderInPage(48000, [{ channels: [toBase64(new Float32Array(2))],
                                                chain: { effects: [{ name: 'Chorus', parameters: { frequency: 21 } }] } }]);
  assert.equal(refused.error, 'chain.json: effects[0]: Chorus: frequency=21: out of range [0, 20] Hz');
  console.log(`browser: ${cases} worklet renders in Chromium equal the native tool's bits; render() and ` +
              `${changes} changes at quantum boundaries equal the module run block by block; ` +
              `${optionCases.length} hostile node options get the module's answers`);
} finally {
  await browser.close();
  server.close();
  rmSync(scratch, { recursive: true, force: true });
}

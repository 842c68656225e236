// Our effects (AudioWorklet running the WebAssembly module) against Tone.js's
// nearest effects (native Web Audio nodes), in one headless Chromium: each
// renders 60 s of stereo 48 kHz noise plus a tone in an OfflineAudioContext,
// timed around startRendering only (graph built and the worklet ready first).
// A pass-through render of the same graph shape on each side is subtracted,
// so each figure is the effect's own time. Rounds interleave every case and
// the fastest round of each counts, since the shared VM's load moves single
// runs by tens of percent.
//   node tone-compare.mjs BUILD_DIR [ROUNDS]
import { readFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import { launchChromium, moduleFiles, serveFiles } from '../tests/browser-support.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const buildDir = resolve(process.argv[2] || join(here, '../../build/wasm-bench'));
const rounds = Number(process.argv[3] || process.env.ROUNDS || 5);
const seconds = Number(process.env.SECONDS_OF_AUDIO || 60);

const { origin, server } = await serveFiles({
  '/': ['text/html', '<!doctype html><title>quorvel-fx against Tone.js</title>'],
  ...moduleFiles(buildDir),
  // Tone's UMD build, from the pinned package: the page never reaches the network.
  '/tone/Tone.js': ['text/javascript', join(here, '../node_modules/tone/build/Tone.js')],
});
const toneVersion = JSON.parse(readFileSync(join(here, '../node_modules/tone/package.json'))).version;

// Each effect: our chain-file parameters, and Tone's nearest effect with the
// same delay, feedback, mix and sweep where Tone has a matching setting.
const cases = [
  { name: 'Delay', ours: { delayMs: 200, feedbackLevel: 0.2, dryMix: 0.7, wetMix: 0.3 },
    tone: 'FeedbackDelay', toneOptions: { delayTime: 0.2, feedback: 0.2, wet: 0.3 } },
  { name: 'PingPongDelay', ours: { delayMs: 200, feedbackLevel: 0.2, dryMix: 0.7, wetMix: 0.3 },
    tone: 'PingPongDelay', toneOptions: { delayTime: 0.2, feedback: 0.2, wet: 0.3 } },
  { name: 'Chorus', ours: { sweepWidth: 0.025, frequency: 0.2 },
    tone: 'Chorus', toneOptions: { frequency: 0.2, delayTime: 12.5, depth: 1, feedback: 0, spread: 180, wet: 0.5 } },
  // Tone has no flanger: its chorus with a short delay and feedback is one.
  { name: 'Flanger', ours: { sweepWidth: 0.005, frequency: 0.4 },
    tone: 'Chorus', toneOptions: { frequency: 0.4, delayTime: 2.5, depth: 1, feedback: 0.6, spread: 0, wet: 0.5 } },
  { name: 'Vibrato', ours: { sweepWidth: 0.01, frequency: 4 },
    tone: 'Vibrato', toneOptions: { frequency: 4, maxDelay: 0.01, depth: 1, wet: 1 } },
];

const browser = await launchChromium();
try {
  const page = await browser.newPage();
  page.on('pageerror', (error) => console.error('page:', error.message));
  await page.goto(`${origin}/`);
  await page.addScriptTag({ url: '/tone/Tone.js' });
  await page.evaluate(async (seconds) => {
    const rate = 48000, frames = seconds * rate;
    // White noise at -12 dBFS plus a sine at -6 dBFS (440 Hz left, 660 Hz
    // right), from a fixed seed, so every run renders the same signal.
    const input = new AudioBuffer({ numberOfChannels: 2, length: frames, sampleRate: rate });
    let seed = 12345;
    const noise = () => {
      seed = (Math.imul(seed, 1664525) + 1013904223) >>> 0;
      return seed / 2147483648 - 1;
    };
    [440, 660].forEach((hz, c) => {
      const samples = new Float32Array(frames);
      for (let i = 0; i < frames; i++) {
        samples[i] = 0.25 * noise() + 0.5 * Math.sin(2 * Math.PI * hz * i / rate);
      }
      input.copyToChannel(samples, c);
    });
    const { loadQuorvel, QuorvelChainNode } = await import('/js/index.mjs');
    const rms = (buffer) => {
      let sum = 0;
      for (let c = 0; c < 2; c++) for (const x of buffer.getChannelData(c)) sum += x * x;
      return Math.sqrt(sum / (2 * buffer.length));
    };
    // Times startRendering of a graph source → node(s) → destination.
    const timed = async (context, source) => {
      source.buffer = input;
      source.start();
      const start = performance.now();
      const output = await context.startRendering();
      return { ms: performance.now() - start, rms: rms(output) };
    };
    // Ours: one worklet node running the chain; for the pass-through a
    // disabled delay (a chain must name an effect), which leaves the signal as is.
    window.renderOurs = async (effects) => {
      const context = new OfflineAudioContext(2, frames, rate);
      const loaded = await loadQuorvel(context);
      const node = new QuorvelChainNode(context, loaded, { effects }, 2);
      await node.ready;
      const source = context.createBufferSource();
      source.connect(node).connect(context.destination);
      return timed(context, source);
    };
    // Tone's: the effect (or a Tone.Gain for the pass-through) in a Tone
    // OfflineContext, rendered through its raw context so that only the
    // audio graph is timed.
    window.renderTone = async (type, options) => {
      const Tone = window.Tone;
      const context = new Tone.OfflineContext(2, seconds, rate);
      Tone.setContext(context);
      const node = type ? new Tone[type]({ ...options, context }) : new Tone.Gain({ gain: 1, context });
      if (typeof node.start === 'function') node.start(0);
      const raw = context.rawContext;
      const source = raw.createBufferSource();
      Tone.connect(source, node);
      node.connect(raw.destination);
      return timed(raw, source);
    };
  }, seconds);

  const results = new Map();
  const keep = (key, result) => {
    const previous = results.get(key);
    if (!previous || result.ms < previous.ms) results.set(key, result);
  };
  for (let round = 0; round < rounds; round++) {
    keep('ours:pass', await page.evaluate(() => window.renderOurs([{ name: 'Delay', parameters: { enabled: false } }])));
    keep('tone:pass', await page.evaluate(() => window.renderTone(null, null)));
    for (const c of cases) {
      keep(`ours:${c.name}`, await page.evaluate((p) => window.renderOurs([{ name: p.name, parameters: p.ours }]), c));
      keep(`tone:${c.name}`, await page.evaluate((p) => window.renderTone(p.tone, p.toneOptions), c));
    }
    process.stderr.write(`round ${round + 1}/${rounds} done\n`);
  }

  const version = await browser.version();
  const fmt = (x) => x.toFixed(1);
  const oursPass = results.get('ours:pass'), tonePass = results.get('tone:pass');
  console.log(`Chromium ${version}, Tone.js ${toneVersion}; ${seconds} s stereo 48 kHz, ` +
              `fastest of ${rounds} interleaved rounds.`);
  console.log(`Pass-through renders: ours (worklet, disabled Delay) ${fmt(oursPass.ms)} ms, ` +
              `Tone (Tone.Gain) ${fmt(tonePass.ms)} ms.`);
  console.log('');
  console.log('| Effect | Tone.js effect | Ours, whole render (ms) | Tone, whole render (ms) | ' +
              'Ours, own (ms) | Tone, own (ms) | Ours / Tone | Goal ≤ 0.5 |');
  console.log('|---|---|---:|---:|---:|---:|---:|---|');
  for (const c of cases) {
    const ours = results.get(`ours:${c.name}`), tone = results.get(`tone:${c.name}`);
    const oursOwn = ours.ms - oursPass.ms, toneOwn = tone.ms - tonePass.ms;
    const ratio = oursOwn / toneOwn;
    const met = toneOwn > 0 && oursOwn <= 0.5 * toneOwn;
    console.log(`| ${c.name} | ${c.tone}${c.name === 'Flanger' ? ' (feedback 0.6, 2.5 ms)' : ''} | ` +
                `${fmt(ours.ms)} | ${fmt(tone.ms)} | ${fmt(oursOwn)} | ${fmt(toneOwn)} | ` +
                `${toneOwn > 0 ? ratio.toFixed(2) : 'n/a'} | ${met ? 'met' : 'missed'} |`);
  }
  // The levels show each render did its work (silence would time as cheap).
  console.log('');
  console.log('Output RMS: ' + [['pass', 'pass'], ...cases.map((c) => [c.name, c.name])]
    .map(([label, key]) => `${label} ${results.get(`ours:${key}`).rms.toFixed(3)}/` +
                            `${results.get(`tone:${key}`).rms.toFixed(3)}`).join(', ') + ' (ours/Tone)');
} finally {
  await browser.close();
  server.close();
}

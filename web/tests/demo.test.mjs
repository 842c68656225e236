// The demo page in Chromium, served by web/demo/serve.mjs: a float WAV
// opened through the file input, Chorus chosen and one of its controls
// moved, played live, and the downloaded WAV against the native tool run
// with the chain the page shows, bit for bit; extreme text typed into a
// control gets the tool's own message; at 192 kHz the sliders end where the
// delay line does and the longest delay renders with the tool's bits; a
// file that is not audio and a value the rules refuse are reported on the
// page, not passed over.
//   node demo.test.mjs BUILD_DIR QUORVEL_FX
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { Quorvel } from '../js/quorvel.mjs';

import { launchChromium } from './browser-support.mjs';

import { readFloatWav, sameBits, signal, writeFloatWav } from './wav.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const [buildDir, tool] = process.argv.slice(2).map((p) => resolve(p));

const server = spawn(process.execPath, [join(here, '../demo/serve.mjs'), buildDir, '0'],
                     { stdio: ['ignore', 'pipe', 'inherit'] });
const origin = await new Promise((ready, fail) => {
  let out = '';
  server.stdout.on('data', (chunk) => {
    out += chunk;
    const url = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
    if (url) ready(url[0]);
  });
  server.on('exit', (code) => fail(new Error(`the server stopped (${code}) before printing its URL`)));
});

const browser = await launchChromium(['--autoplay-policy=no-user-gesture-required']);
const scratch = mkdtempSync(join(tmpdir(), 'quorvel-demo-'));
try {
  // The page asks for nothing outside the server.
  const context = await browser.newContext({ acceptDownloads: true });
  const foreign = [];
  await context.route('**/*', (route) => {
    if (route.request().url().startsWith(origin) || route.request().url().startsWith('blob:')) route.continue();
    else { foreign.push(route.request().url()); route.abort(); }
  });
  const page = await context.newPage();
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));
  await page.goto(origin);
  await page.waitForSelector('body[data-ready="true"]');
  const alert = page.locator('#message');
  assert.equal(await alert.getAttribute('role'), 'alert');

  // The controls come from the parameter table: ranges, defaults, booleans.
  const slider = page.locator('#Chorus-frequency');
  assert.deepEqual([await slider.getAttribute('min'), await slider.getAttribute('max'),
                    await slider.inputValue()], ['0', '20', '0.2']);
  assert.equal(await page.locator('#Delay-enabled').getAttribute('type'), 'checkbox');
  assert.equal(await page.locator('#Delay-delayMs').getAttribute('step'), '1');

  // A 44.1 kHz stereo float WAV: decoding must neither resample nor round it.
  const rate = 44100;
  const input = signal(2, 2 * rate);
  const inPath = join(scratch, 'in.wav');
  writeFloatWav(inPath, input, rate);
  await page.setInputFiles('#file', inPath);
  await page.waitForFunction(() => /44100 Hz/.test(document.getElementById('input-info').textContent));
  assert.match(await page.locator('#input-info').textContent(), /in\.wav: 2 channels, 44100 Hz/);

  await page.check('#use-Chorus');
  await page.fill('#Chorus-frequency-text', '3.5');
  await page.press('#Chorus-frequency-text', 'Enter');
  await page.locator('#Chorus-sweepWidth').fill('0.1');  // a slider move
  const chainText = await page.locator('#chain').textContent();
  const chain = JSON.parse(chainText);
  assert.deepEqual(chain, { effects: [{ name: 'Chorus', parameters: { sweepWidth: 0.1, frequency: 3.5 } }] });

  await page.click('#play');
  await page.waitForFunction(() => document.getElementById('status').textContent === 'Playing');
  await page.waitForSelector('body[data-audio="running"]');
  // A control moved while playing reaches the live node without complaint.
  await page.fill('#Chorus-frequency-text', '4');
  await page.press('#Chorus-frequency-text', 'Enter');
  await page.fill('#Chorus-frequency-text', '3.5');
  await page.press('#Chorus-frequency-text', 'Enter');
  await page.waitForTimeout(300);
  assert.equal(await alert.isHidden(), true, await alert.textContent());
  await page.click('#stop');

  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const gotPath = join(scratch, 'page.wav');
  await download.saveAs(gotPath);
  assert.equal(download.suggestedFilename(), 'in-processed.wav');
  const chainPath = join(scratch, 'chain.json');
  writeFileSync(chainPath, chainText);
  const outPath = join(scratch, 'native.wav');
  execFileSync(tool, ['apply', '-q', '--encoding', 'float', '--tail', '0', '--chain', chainPath,
                      inPath, outPath], { stdio: 'inherit' });
  const native = readFloatWav(outPath, 2);
  const got = readFloatWav(gotPath, 2);
  native.forEach((expected, c) => {
    assert.equal(got[c].length, expected.length, `channel ${c} length`);
    assert.equal(sameBits(got[c], expected), -1, `channel ${c} differs from the tool's`);
  });
  // The effect did something: the output is not the input passed through.
  assert.notDeepEqual(Array.from(got[0]), Array.from(input[0]));

  // A value the rules refuse: the library's message, and no download.
  await page.fill('#Chorus-frequency-text', 'fast');
  await page.press('#Chorus-frequency-text', 'Enter');
  await alert.waitFor({ state: 'visible' });
  assert.match(await alert.textContent(), /Chorus: frequency=fast: not a frequency/);
  let downloaded = false;
  page.once('download', () => { downloaded = true; });
  await page.click('#download');
  await page.waitForTimeout(500);
  assert.equal(downloaded, false, 'a refused chain was rendered');
  assert.match(await alert.textContent(), /frequency=fast/);
  await page.fill('#Chorus-frequency-text', '3.5');
  await page.press('#Chorus-frequency-text', 'Enter');
  await alert.waitFor({ state: 'hidden' });

  // Extreme text typed into a control: each refused with the tool's own
  // message for the chain the page shows (hex and digits beyond a double
  // are text to the rules, not what Number() makes of them), or accepted.
  const toolSays = (chainText) => {
    writeFileSync(join(scratch, 'chain.json'), chainText);
    const run = spawnSync(tool, ['chain', '--chain', 'chain.json'], { cwd: scratch, encoding: 'utf8' });
    return run.status === 0 ? '' : run.stderr.match(/^quorvel-fx: error: ([^]*) \(see '[^']*'\)\n$/)[1];
  };
  for (const typed of ['NaN', 'Infinity', '-Infinity', '1e30', '-1e30', '0x10', '0b1', '1e400', '-0', '1e-7',
                       '9'.repeat(5000), '']) {
    const shown = await page.locator('#chain').textContent();
    // The text as committed (one change event; typing into the field again
    // and again can commit the previous text a second time as it loses focus).
    await page.locator('#Chorus-frequency-text').evaluate((field, text) => {
      field.value = text;
      field.dispatchEvent(new Event('change'));
    }, typed);
    await page.waitForFunction((old) => document.getElementById('chain').textContent !== old, shown);
    const want = toolSays(await page.locator('#chain').textContent());
    if (want === '') {
      await alert.waitFor({ state: 'hidden' });
    } else {
      // The alert may still show the last refusal: wait for this one.
      await page.waitForFunction((w) => document.getElementById('message').textContent === w, want,
                                 { timeout: 3000 }).catch(() => {});
      assert.equal(await alert.isVisible(), true);
      assert.equal(await alert.textContent(), want, `typed ${typed.slice(0, 20)}`);
    }
  }
  assert.match(toolSays(await page.locator('#chain').textContent()), /frequency=: has no value/);
  await page.fill('#Chorus-frequency-text', '3.5');
  await page.press('#Chorus-frequency-text', 'Enter');
  await alert.waitFor({ state: 'hidden' });

  // A 192 kHz mono file: the sliders end where the line does at that rate
  // (the module's table), and the delay dragged to its end renders with the tool's bits.
  const createModule = (await import(pathToFileURL(join(buildDir, 'quorvel-effects.mjs')).href)).default;
  const quorvel = await Quorvel.load(createModule, readFileSync(join(buildDir, 'quorvel-effects.wasm')));
  const fast = quorvel.effectsAt(192000);
  const fastPath = join(scratch, 'fast.wav');
  writeFloatWav(fastPath, signal(1, 60000), 192000);
  await page.setInputFiles('#file', fastPath);
  await page.waitForFunction(() => /192000 Hz/.test(document.getElementById('input-info').textContent));
  await page.uncheck('#use-Chorus');
  await page.check('#use-Delay');
  for (const type of fast) {
    for (const p of type.parameters.filter((q) => q.type !== 'boolean')) {
      assert.equal(Number(await page.locator(`#${type.name}-${p.key}`).getAttribute('max')), p.maximum, `${type.name} ${p.key}`);
    }
  }
  await page.press('#Delay-delayMs', 'End');  // the slider moved as far as it goes
  await page.press('#Delay-wetMix', 'End');
  const fastChain = await page.locator('#chain').textContent();
  assert.equal(JSON.parse(fastChain).effects[0].parameters.delayMs, fast[0].parameters[1].maximum);
  assert.equal(toolSays(fastChain), '');
  const [fastDownload] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  await fastDownload.saveAs(gotPath);
  execFileSync(tool, ['apply', '-q', '--encoding', 'float', '--tail', '0', '--chain', join(scratch, 'chain.json'),
                      fastPath, outPath], { stdio: 'inherit' });
  assert.equal(sameBits(readFloatWav(gotPath, 1)[0], readFloatWav(outPath, 1)[0]), -1, 'the 192 kHz download');
  await page.uncheck('#use-Delay');
  await page.setInputFiles('#file', inPath);
  await page.waitForFunction(() => /44100 Hz/.test(document.getElementById('input-info').textContent));

  // A file that is not audio: said so, and the sound already open stays.
  const textPath = join(scratch, 'notes.wav');
  writeFileSync(textPath, 'these are notes, not samples\n'.repeat(40));
  await page.setInputFiles('#file', textPath);
  await alert.waitFor({ state: 'visible' });
  assert.match(await alert.textContent(), /notes\.wav: not a sound file this browser can read/);
  assert.match(await page.locator('#input-info').textContent(), /^in\.wav/);

  // The built-in test signal plays through every effect but the stereo-only
  // one on a chain of all five.
  await page.click('#test-signal');
  for (const name of ['Delay', 'PingPongDelay', 'Flanger', 'Vibrato']) await page.check(`#use-${name}`);
  await page.click('#play');
  await page.waitForFunction(() => document.getElementById('status').textContent === 'Playing');
  const running = await page.evaluate(() => new Promise((ready) => setTimeout(ready, 300)).then(() =>
    document.getElementById('message').hidden));
  assert.equal(running, true, await alert.textContent());

  assert.deepEqual(pageErrors, []);
  assert.deepEqual(foreign, []);
  console.log('demo: the downloaded WAV equals the native tool\'s bits for the chain the page shows; ' +
              'refusals and unreadable files are reported on the page');
} finally {
  await browser.close();
  server.kill();
  rmSync(scratch, { recursive: true, force: true });
}

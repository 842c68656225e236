// Values no user should type, through every way into the module: the
// conformance corpus (values and chain files) through Chain.set and
// Quorvel.chain with its own messages; NaN, infinities, -0, 1e30, huge and
// empty text, NUL bytes, wrong types, unknown names, each through a live
// set, a chain given as objects and the native tool (its `chain` command
// reads the same words and files), with the same outcome and message and
// the effect's values untouched by a refusal; then a seeded random pass
// over the module that must never trap, leave a refusal without a message
// or store a value outside the table.
//   node hostile-values.test.mjs MODULE.mjs QUORVEL_FX CONFORMANCE_DIR
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';

import { Quorvel, chainText } from '../js/quorvel.mjs';

const [modulePath, tool, corpus] = process.argv.slice(2).map((p) => resolve(p));
const createModule = (await import(pathToFileURL(modulePath).href)).default;
const quorvel = await Quorvel.load(createModule, readFileSync(modulePath.replace(/\.mjs$/, '.wasm')));
const scratch = mkdtempSync(join(tmpdir(), 'quorvel-hostile-'));
const f32 = (x) => Math.fround(x);

// The refusal of `run` (its message), or undefined when it passes.
function refusal(run) {
  try {
    run();
  } catch (error) {
    assert.ok(error instanceof Error, `a refusal is an Error, not ${error}`);
    assert.match(error.message, /\S/, 'a refusal says why');
    return error.message;
  }
  return undefined;
}

// Every value of effect `index`, by key.
const values = (chain, index, table) => Object.fromEntries(table.map((p) => [p.key, chain.get(index, p.key)]));

// The tool's `chain` command on words or a chain file (in `scratch`, so that
// its messages name it chain.json as the module does): the message of a
// refusal or the chain file it prints.
const toolRuns = new Map();
function toolChain(args) {
  const key = JSON.stringify(args) + (args[0] === '--chain' ? readFileSync(join(scratch, args[1]), 'latin1') : '');
  if (!toolRuns.has(key)) toolRuns.set(key, runTool(args));
  return toolRuns.get(key);
}
function runTool(args) {
  const run = spawnSync(tool, ['chain', ...args], { cwd: scratch, encoding: 'latin1' });
  if (run.status === 0) return { printed: JSON.parse(run.stdout) };
  const message = run.stderr.match(/^quorvel-fx: error: ([^]*) \(see '[^']*'\)\n$/);
  assert.ok(message, `the tool's refusal: ${run.stderr}`);
  return { refused: Buffer.from(message[1], 'latin1').toString('utf8') };
}

try {
  const tables = Object.fromEntries(quorvel.effects.map((t) => [t.name, t.parameters]));

  // The corpus: each value case through a live chain (text and numbers as
  // given, the binding's way) and through a chain of objects.
  let corpusCases = 0;
  for (const entry of JSON.parse(readFileSync(join(corpus, 'values.json'))).cases) {
    const type = quorvel.effects.find((t) => t.name.toLowerCase() === entry.effect.replace(/^AudioEffects\./i, '').toLowerCase());
    if (!type) {
      // An unknown effect: only a chain can name one.
      assert.equal(refusal(() => quorvel.chain([{ name: entry.effect }], 48000, 2)), `chain.json: [0]: ${entry.refused}`);
      continue;
    }
    const chain = quorvel.chain([{ name: entry.effect }], 48000, 2);
    const table = type.parameters;
    const before = values(chain, 0, table);
    const refused = refusal(() => chain.set(0, entry.parameter, entry.value));
    const asObjects = refusal(() => quorvel.chain([{ name: entry.effect, parameters: { [entry.parameter]: entry.value } }], 48000, 2).destroy());
    const what = JSON.stringify(entry);
    if (entry.refused !== undefined) {
      assert.equal(refused, entry.refused, what);
      assert.equal(asObjects, `chain.json: [0]: ${entry.refused}`, what);
      assert.deepEqual(values(chain, 0, table), before, `${what}: a refusal changed the effect`);
    } else {
      assert.equal(refused, undefined, what);
      assert.equal(asObjects, undefined, what);
      const p = table.find((q) => q.key.toLowerCase() === entry.parameter.replace(/_/g, '').toLowerCase());
      const got = chain.get(0, p.key);
      assert.equal(p.type === 'float' ? f32(got) : got, p.type === 'float' ? f32(entry.stores) : entry.stores, what);
    }
    chain.destroy();
    corpusCases++;
  }
  for (const entry of JSON.parse(readFileSync(join(corpus, 'chains.json'))).cases) {
    let chain;
    const refused = refusal(() => { chain = quorvel.chain(entry.text, 48000, 2); });
    assert.equal(refused, entry.refused, entry.text);
    if (chain) {
      entry.accepted.forEach((effect, i) => {
        for (const [key, stores] of Object.entries(effect.stores)) {
          const p = tables[effect.name].find((q) => q.key === key);
          const got = chain.get(i, key);
          assert.equal(p.type === 'float' ? f32(got) : got, p.type === 'float' ? f32(stores) : stores, `${entry.text}: ${key}`);
        }
      });
      chain.destroy();
    }
    corpusCases++;
  }

  // Hostile values on every parameter of every effect, against the tool.
  const huge = '7'.repeat(100000);
  const texts = ['NaN', 'Infinity', '-Infinity', '-0', '1e30', '-1e30', '1e-30', '', '   ', huge,
                 '0x10', '350\u0000', '\u0000', '1e400', '-1e-400', 'true', 'off', '12 ms', '\u00b5s'];
  const numbers = [NaN, Infinity, -Infinity, -0, 0, 1, 1e30, -1e30, 5e-324, Number.MAX_VALUE,
                   2 ** 32, 2 ** 53 + 2, 0.5, 0.99, 20, 1000];
  const others = [{}, [], [5], null, undefined, () => 5, Symbol('x'), { valueOf: () => 5 }];
  let toolCases = 0;
  for (const type of quorvel.effects) {
    const chain = quorvel.chain([{ name: type.name }], 48000, 2);
    const everyValue = [...texts, ...numbers, ...others, true, false];
    const keys = [...type.parameters.map((p) => [p.key, everyValue]),
                  ...['DELAY_ms', 'sweep_width', 'nope', '', huge].map((key) => [key, ['5', 5, {}]])];
    for (const [key, hostile] of keys) {
      for (const value of hostile) {
        const before = values(chain, 0, type.parameters);
        const refused = refusal(() => chain.set(0, key, value));
        const shown = typeof value === 'symbol' ? 'Symbol' : JSON.stringify(value)?.slice(0, 40);
        const what = `${type.name} ${key.slice(0, 20)}=${shown}`;
        // As a chain file: the text the tool reads (numbers JSON cannot hold
        // go as their text). Finite numbers in chain files are the corpus's
        // business; here the module's chain of objects stands in for the tool.
        const file = chainText([{ name: type.name, parameters: { [key]: value } }]);
        let made;
        const asObjects = refusal(() => { made = quorvel.chain(file, 48000, 2); });
        let fromFile;
        if (typeof value === 'number' && Number.isFinite(value)) {
          fromFile = { refused: asObjects, printed: made && { effects: [{ parameters: values(made, 0, type.parameters) }] } };
        } else {
          writeFileSync(join(scratch, 'chain.json'), file);
          fromFile = toolChain(['--chain', 'chain.json']);
          toolCases++;
        }
        made?.destroy();
        assert.equal(asObjects, fromFile.refused, `${what}: chain file`);
        assert.equal(refused === undefined, asObjects === undefined, `${what}: live ${refused}, file ${asObjects}`);
        // A word on the tool's command line is text: the live set of that text must agree
        // (an argument holds no NUL, and a key of 100000 characters is no use to test twice).
        if ((typeof value === 'string' || typeof value === 'boolean') && !/\u0000/.test(`${key}${value}`) &&
            key !== '' && key.length < 100) {
          const word = toolChain([type.name, `${key}=${value}`]);
          assert.equal(refused, word.refused, `${what}: word`);
          toolCases++;
        }
        if (refused !== undefined) {
          assert.deepEqual(values(chain, 0, type.parameters), before, `${what}: a refusal changed the effect`);
        } else {
          // Accepted: what the tool stores for the same chain file.
          const p = type.parameters.find((q) => q.key.toLowerCase() === key.replace(/_/g, '').toLowerCase());
          const stored = fromFile.printed.effects[0].parameters[p.key];
          assert.equal(chain.get(0, p.key), p.type === 'boolean' ? Number(stored) : f32(stored), `${what}: stored`);
        }
      }
    }
    assert.match(refusal(() => chain.set(1, 'enabled', true)), /^no effect 1 \(the chain has 1\)$/);
    for (const index of [NaN, -1, 0.5, '0', null]) assert.match(refusal(() => chain.set(index, 'enabled', true)), /^no effect /);
    chain.destroy();
  }
  assert.equal(refusal(() => quorvel.chain([{ name: 'Nope' }], 48000, 2)),
               `chain.json: [0]: ${toolChain(['Nope']).refused}`);
  assert.equal(refusal(() => quorvel.chain([{ name: 'Delay' }], 48000, 2.5)), '2.5 channels: takes a whole number of channels');
  assert.match(refusal(() => quorvel.chain([{ name: 'Delay' }], NaN, 2)), /^sample rate nan Hz: takes a whole number/);
  assert.match(refusal(() => quorvel.effectsAt(0)), /^sample rate 0 Hz/);

  // A seeded random pass: chains of random settings at random rates and
  // channel counts, random changes, random blocks (NaN and infinities in
  // the input too). The module must not trap; an accepted change stores a
  // value in the table's range that fits the line unless the effect is off;
  // a refused one says why and changes nothing.
  let seed = 20240611;
  const random = () => ((seed = (Math.imul(seed, 1664525) + 1013904223) >>> 0) / 4294967296);
  const pick = (list) => list[Math.floor(random() * list.length)];
  const ranges = Object.fromEntries(quorvel.effectsAt(1).map((t) => [t.name, t.parameters]));
  const valuePool = [...texts.filter((t) => t !== huge), ...numbers, ...others, true, false,
                     '25ms', '0.3', '5Hz', '0.02s', '250', '1s', '999', '0.25'];
  let accepted = 0, refusedCount = 0;
  for (let round = 0; round < 300; round++) {
    const rate = pick([1, 22050, 44100, 48000, 96000, 192000, 384000, 1000000]);
    const count = pick([1, 2, 2]);
    const names = Array.from({ length: 1 + Math.floor(random() * 3) }, () => pick(quorvel.effects).name);
    const request = names.map((name) => ({ name, parameters: random() < 0.5 ? {} : { [pick(tables[name]).key]: pick(valuePool) } }));
    let chain;
    if (refusal(() => { chain = quorvel.chain(request, rate, count); }) !== undefined) continue;
    const fits = quorvel.effectsAt(rate);
    for (let step = 0; step < 20; step++) {
      const index = Math.floor(random() * names.length);
      const table = ranges[names[index]];
      const before = names.map((name, i) => values(chain, i, tables[name]));
      const key = random() < 0.9 ? pick(table).key : pick(['nope', 'DELAYMS', '']);
      const message = refusal(() => chain.set(index, key, pick(valuePool)));
      if (message !== undefined) {
        refusedCount++;
        assert.deepEqual(names.map((name, i) => values(chain, i, tables[name])), before, message);
      } else {
        accepted++;
        const now = values(chain, index, table);
        const limits = fits.find((t) => t.name === names[index]).parameters;
        for (const p of table) {
          // A float parameter stores a float: its ends are the nearest floats.
          const end = (x) => (p.type === 'float' ? f32(x) : x);
          assert.ok(now[p.key] >= end(p.minimum) && now[p.key] <= end(p.maximum), `${names[index]} ${p.key}=${now[p.key]}`);
          const fit = end(limits.find((q) => q.key === p.key).maximum);
          assert.ok(!now.enabled || now[p.key] <= fit, `${names[index]} ${p.key}=${now[p.key]} at ${rate} Hz`);
        }
      }
      const frames = Math.floor(random() * 300);
      const block = Array.from({ length: count }, () => Float32Array.from({ length: frames }, () =>
        random() < 0.01 ? pick([NaN, Infinity, -Infinity, 3e38]) : random() * 2 - 1));
      chain.process(block);
    }
    chain.destroy();
  }
  assert.ok(accepted > 200 && refusedCount > 500, `${accepted} accepted, ${refusedCount} refused`);
  console.log(`hostile-values: ${corpusCases} corpus cases, ${toolCases} hostile settings as the tool ` +
              `takes them (${toolRuns.size} runs of it), ` +
              `${accepted + refusedCount} random changes (${refusedCount} refused) without a trap`);
} finally {
  rmSync(scratch, { recursive: true, force: true });
}

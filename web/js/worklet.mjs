// The AudioWorklet side of a chain: a processor that runs a quorvel chain
// on each render quantum, in the audio thread. The page loads this module
// with audioWorklet.addModule() and passes, in processorOptions, the
// module's .wasm bytes, the chain-file JSON and the channel count; the
// processor posts {ready: true} (or {error}) on its port once the chain exists.
import createModule from './quorvel-effects.mjs';
import { Quorvel } from './quorvel.mjs';

// One module instance for every processor of a context (they share this
// scope and run one at a time): a page with several effect nodes, or many
// contexts over time, would otherwise hold one wasm memory per node.
let loading = null;

class QuorvelChainProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { wasmBytes, chain, channels } = options.processorOptions;
    this.channels = channels;
    this.chain = null;
    this.refusal = '';
    // Changes that arrive before the module has loaded wait for the chain,
    // in order, rather than being refused for being early.
    this.waiting = [];
    loading ??= Quorvel.load(createModule, wasmBytes);
    loading.then(
      (quorvel) => {
        try {
          this.chain = quorvel.chain(chain, sampleRate, channels);
          this.port.postMessage({ ready: true });
        } catch (error) {
          this.refusal = error.message;
          this.port.postMessage({ error: error.message });
        }
        this.flush();
      },
      (error) => {
        this.refusal = String(error);
        this.port.postMessage({ error: this.refusal });
        this.flush();
      });
    // {id, set: [effectIndex, key, value]}: the value as the page gave it (a
    // number, text, a boolean; anything else is refused), heard from the
    // next render quantum on; answered with {id} or {id, error}.
    this.port.onmessage = ({ data }) => {
      if (!data || !data.set) return;
      this.waiting.push(data);
      if (this.chain || this.refusal) this.flush();
    };
  }

  flush() {
    for (const { id, set } of this.waiting.splice(0)) {
      try {
        if (!this.chain) throw new Error(`the chain was refused: ${this.refusal}`);
        if (!Array.isArray(set)) throw new Error('a change is [effectIndex, key, value]');
        this.chain.set(set[0], set[1], set[2]);
        this.port.postMessage({ id });
      } catch (error) {
        this.port.postMessage({ id, error: error.message });
      }
    }
  }

  process(inputs, outputs) {
    const input = inputs[0];
    const output = outputs[0];
    if (!this.chain) {
      // Not ready or refused: silence rather than the dry signal passed off as processed.
      for (const channel of output) channel.fill(0);
      return true;
    }
    const block = [];
    for (let c = 0; c < this.channels; c++) {
      const samples = output[c];
      if (input[c]) samples.set(input[c]);
      else samples.fill(0);
      block.push(samples);
    }
    this.chain.process(block);
    return true;
  }
}

registerProcessor('quorvel-chain', QuorvelChainProcessor);

// The AudioWorklet side of a chain: a processor that runs a quorvel chain
// on each render quantum, in the audio thread. The page loads this module
// with audioWorklet.addModule() and passes, in processorOptions, the
// module's .wasm bytes, the chain-file JSON and the channel count; the
// processor posts {ready: true} (or {error}) on its port once the chain exists.
import createModule from './quorvel-effects.mjs';
import { Quorvel } from './quorvel.mjs';

class QuorvelChainProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { wasmBytes, chain, channels } = options.processorOptions;
    this.channels = channels;
    this.chain = null;
    Quorvel.load(createModule, wasmBytes).then(
      (quorvel) => {
        try {
          this.chain = quorvel.chain(chain, sampleRate, channels);
          this.port.postMessage({ ready: true });
        } catch (error) {
          this.port.postMessage({ error: error.message });
        }
      },
      (error) => this.port.postMessage({ error: String(error) }));
    // {id, set: [effectIndex, key, value]}: heard from the next render quantum on;
    // answered with {id} or {id, error}.
    this.port.onmessage = ({ data }) => {
      if (!data.set) return;
      try {
        if (!this.chain) throw new Error('the chain is not ready');
        this.chain.set(...data.set);
        this.port.postMessage({ id: data.id });
      } catch (error) {
        this.port.postMessage({ id: data.id, error: error.message });
      }
    };
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

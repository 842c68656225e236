// Compiled (not run) against js/index.d.ts: the way a page uses the package.
import { effectNodes, loadQuorvel, QuorvelChainNode, render } from '../js/index.mjs';

export async function usage(context: AudioContext, input: AudioBuffer): Promise<number> {
  const loaded = await loadQuorvel(context);
  const { Chorus } = effectNodes(loaded);
  const chorus = new Chorus(context, loaded, { sweepWidth: '20ms', frequency: 0.3 });
  await chorus.ready;
  await chorus.setParameter('frequency', '0.5Hz');
  const longest: number = Chorus.parametersAt(192000)[1].maximum + loaded.effectsAt(96000)[0].maximumChannels;
  const keys: string[] = Chorus.parameters.map((p) => `${p.key} (${p.unit}) ${p.minimum}..${p.maximum}`);
  const chain = new QuorvelChainNode(context, loaded, { effects: [{ name: 'Delay' }, { name: 'Flanger' }] });
  await chain.set(1, 'frequency', 2);
  chorus.connect(chain).connect(context.destination);
  const out: AudioBuffer = await render(input, '[{"name": "Vibrato"}]');
  return keys.length + out.length + longest;
}

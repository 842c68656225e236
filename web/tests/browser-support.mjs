// What the browser tests and benchmarks share: a local server for the page
// and the module, and Debian's Chromium, headless and kept off the network.
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const web = join(dirname(fileURLToPath(import.meta.url)), '..');

// The package's modules and the built module, by URL: [MIME type, file].
export function moduleFiles(buildDir) {
  return {
    '/js/quorvel.mjs': ['text/javascript', join(web, 'js/quorvel.mjs')],
    '/js/worklet.mjs': ['text/javascript', join(web, 'js/worklet.mjs')],
    '/js/index.mjs': ['text/javascript', join(web, 'js/index.mjs')],
    '/js/quorvel-effects.mjs': ['text/javascript', join(buildDir, 'quorvel-effects.mjs')],
    '/js/quorvel-effects.wasm': ['application/wasm', join(buildDir, 'quorvel-effects.wasm')],
  };
}

// Serves `files` ({url: [type, path or literal '<...' text]}) on 127.0.0.1;
// resolves to {origin, server}.
export async function serveFiles(files) {
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
  return { origin: `http://127.0.0.1:${server.address().port}`, server };
}

// Chromium ($CHROMIUM or /usr/bin/chromium) as root, with no background traffic.
export function launchChromium(extraArgs = []) {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run', ...extraArgs],
  });
}

// Serves the demo page on 127.0.0.1: web/demo at /, web/js and the built
// module (quorvel-effects.mjs and .wasm from BUILD_DIR) at /js/. Nothing
// comes from the network; the page needs only these files.
//   node serve.mjs BUILD_DIR [PORT]     (PORT 0: any free port)
import { existsSync, readFileSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { dirname, extname, join, normalize, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const buildDir = resolve(process.argv[2] || join(here, '../../build/test-wasm'));
const port = Number(process.argv[3] ?? 8000);
for (const built of ['quorvel-effects.mjs', 'quorvel-effects.wasm']) {
  if (!existsSync(join(buildDir, built))) {
    console.error(`serve: no ${built} in ${buildDir}; build it first with scripts/test-wasm.sh`);
    process.exit(1);
  }
}

const types = {
  '.html': 'text/html; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.json': 'application/json',
  '.wav': 'audio/wav',
};

// The file a URL path names, or null: only inside the served folders.
function fileFor(path) {
  if (path === '/') path = '/index.html';
  let root = here, rest = path;
  if (path === '/js/quorvel-effects.mjs' || path === '/js/quorvel-effects.wasm') {
    root = buildDir;
    rest = path.slice(3);
  } else if (path.startsWith('/js/')) {
    root = join(here, '../js');
    rest = path.slice(3);
  } else if (path === '/serve.mjs') {
    return null;
  }
  const file = normalize(join(root, rest));
  if (!file.startsWith(root + sep)) return null;
  return existsSync(file) && statSync(file).isFile() ? file : null;
}

const server = createServer((request, response) => {
  let path;
  try {
    path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
  } catch {
    response.writeHead(400).end();
    return;
  }
  const file = request.method === 'GET' || request.method === 'HEAD' ? fileFor(path) : null;
  if (!file) {
    response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
    return;
  }
  response.writeHead(200, {
    'Content-Type': types[extname(file)] || 'application/octet-stream',
    'Cache-Control': 'no-cache',
  });
  response.end(request.method === 'HEAD' ? undefined : readFileSync(file));
});
server.listen(port, '127.0.0.1', () => {
  console.log(`http://127.0.0.1:${server.address().port}/`);
});

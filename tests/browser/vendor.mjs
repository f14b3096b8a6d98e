// Copies the browser builds of the UI's libraries from node_modules into
// web/vendor/, so the service serves them and no bundler is needed.
import { copyFileSync, mkdirSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const modules = join(here, 'node_modules');
const vendor = join(here, '..', '..', 'web', 'vendor');

const files = [
  ['@msgpack/msgpack/dist.umd/msgpack.min.js', 'msgpack.min.js'],
  ['uplot/dist/uPlot.iife.min.js', 'uPlot.iife.min.js'],
  ['uplot/dist/uPlot.min.css', 'uPlot.min.css'],
];

mkdirSync(vendor, { recursive: true });
for (const [from, to] of files) {
  copyFileSync(join(modules, from), join(vendor, to));
  console.log(`vendored ${from} -> web/vendor/${to}`);
}

// Shared pieces of the browser tests: the browser, the simulator's control
// port and the addresses of the service under test (set by run.sh).
import { mkdtempSync, rmSync } from 'node:fs';
import { createServer } from 'node:http';
import { createConnection } from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

export const HTTP_PORT = Number(process.env.DASTEL_HTTP_PORT || 8180);
export const CONTROL_PORT = Number(process.env.DASTEL_SIM_CONTROL_PORT || 47300);
export const BASE_URL = `http://127.0.0.1:${HTTP_PORT}/`;
export const ARTIFACTS = process.env.DASTEL_ARTIFACTS || join(process.cwd(), 'test-artifacts');
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

// Waits on a page condition poll it on a timer: animation frames, the
// default, are what a loaded machine holds back first while the page plots.
export const POLL_MS = 100;
// Every command is answered or timed out within the recorder's answer
// time-out; a wait on what a page shows after n commands allows that for
// each, plus the time a loaded machine takes to show it.
export const ANSWER_TIMEOUT_MS = 1000;
export const forCommands = (n) => n * ANSWER_TIMEOUT_MS + 15000;

// Chromium with a throw-away profile and nothing that talks to the network.
export async function launchBrowser(extraArgs = []) {
  const profile = mkdtempSync(join(tmpdir(), 'dastel-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1400, height: 1000 },
    acceptDownloads: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run',
      ...extraArgs,
    ],
  });
  return {
    context,
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

// The UI in a browser that may read its heap, connected to the recorder:
// the browser (close it when done), its page and a DevTools session on it.
export async function openConnectedUi() {
  const browser = await launchBrowser(['--enable-precise-memory-info']);
  try {
    const page = await browser.context.newPage();
    const cdp = await browser.context.newCDPSession(page);
    await page.goto(BASE_URL);
    await page.waitForSelector('#dev-state[data-state=connected]', { timeout: 20000 });
    return { browser, page, cdp };
  } catch (error) {
    await browser.close();
    throw error;
  }
}

// Serves `html` as a page of another origin: localhost, not 127.0.0.1, on a
// port of its own. Resolves with the server (close it when done) and its URL.
export async function serveForeignPage(html) {
  const server = createServer((req, res) => {
    res.writeHead(200, { 'Content-Type': 'text/html' });
    res.end(html);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, url: `http://localhost:${server.address().port}/` };
}

// One request to the simulator's control port; resolves with its JSON answer.
export function simControl(request, timeoutMs = 5000) {
  return new Promise((resolve, reject) => {
    const sock = createConnection({ host: '127.0.0.1', port: CONTROL_PORT });
    let buf = '';
    const timer = setTimeout(() => { sock.destroy(); reject(new Error(`sim control "${request}" timed out`)); }, timeoutMs);
    sock.on('connect', () => sock.write(`${request}\n`));
    sock.on('data', (d) => {
      buf += d;
      const nl = buf.indexOf('\n');
      if (nl >= 0) {
        clearTimeout(timer);
        sock.end();
        try { resolve(JSON.parse(buf.slice(0, nl))); } catch (e) { reject(e); }
      }
    });
    sock.on('error', (e) => { clearTimeout(timer); reject(e); });
  });
}

// The token of a service that asks for one (set by run.sh), else empty.
export const ACCESS_TOKEN = process.env.DASTEL_ACCESS_TOKEN || '';

export async function postCommand(cmd, data) {
  const res = await fetch(`${BASE_URL}cmd`, {
    method: 'POST',
    headers: ACCESS_TOKEN ? { Authorization: `Bearer ${ACCESS_TOKEN}` } : {},
    body: JSON.stringify(data === undefined ? { cmd, uid: 7 } : { cmd, uid: 7, data }),
  });
  return res.json();
}

// A file the service serves (a recording, a read-out), fetched from here
// with the token where the service asks for one.
export async function getFile(path) {
  const res = await fetch(`${BASE_URL}${path}`, { headers: ACCESS_TOKEN ? { Authorization: `Bearer ${ACCESS_TOKEN}` } : {} });
  if (!res.ok) throw new Error(`GET ${path}: ${res.status}`);
  if (ACCESS_TOKEN) {
    const refused = await fetch(`${BASE_URL}${path}`);
    if (refused.status !== 401) throw new Error(`GET ${path} without the token: ${refused.status}, not 401`);
  }
  return Buffer.from(await res.arrayBuffer());
}

// Talks to the service: the JSON command route and the WebSocket streams.

let uidCounter = 1;

// WebSocket ports: the service's defaults sit right above the HTTP port;
// "?adc=…&event=…&terminal=…" overrides them for non-standard settings.
// An override is a port number and nothing else: the streams always go to
// this page's own host, so a link cannot point the page (and the token it
// carries) at another machine.
export function streamPort(kind, search = location.search) {
  const offsets = { adc: 1, event: 2, terminal: 3 };
  const httpPort = Number(location.port || (location.protocol === 'https:' ? 443 : 80));
  const given = new URLSearchParams(search).get(kind);
  if (given !== null && /^[0-9]{1,5}$/.test(given) && Number(given) >= 1 && Number(given) <= 65535) {
    return Number(given);
  }
  if (given !== null) console.warn(`ignored "${kind}=${given}": a stream port is a number from 1 to 65535`);
  return httpPort + offsets[kind];
}

export function streamUrl(kind) {
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  return `${scheme}://${location.hostname}:${streamPort(kind)}`;
}

// Sends one command; always resolves with the answer object, never throws,
// so callers handle transport failures like any other error answer.
export async function sendCommand(cmd, data) {
  const body = { cmd, uid: uidCounter++ };
  if (data !== undefined) body.data = data;
  try {
    const res = await fetch('cmd', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    });
    if (!res.ok) return { status: 'error', errorcode: `HTTP ${res.status}`, uid: body.uid };
    const text = await res.text();
    try {
      return JSON.parse(text);
    } catch {
      return { status: 'error', errorcode: 'INVALID_ANSWER', text, uid: body.uid };
    }
  } catch (e) {
    return { status: 'error', errorcode: 'NO_SERVICE', message: String(e), uid: body.uid };
  }
}

// A WebSocket that reconnects by itself; onMessage gets decoded messages.
export function openStream(kind, { binary, onMessage, onState }) {
  let ws = null;
  let stopped = false;
  const connect = () => {
    ws = new WebSocket(streamUrl(kind));
    if (binary) ws.binaryType = 'arraybuffer';
    ws.onopen = () => onState?.(true);
    ws.onclose = () => {
      onState?.(false);
      if (!stopped) setTimeout(connect, 1000);
    };
    ws.onmessage = (ev) => {
      let msg;
      try {
        msg = binary ? MessagePack.decode(new Uint8Array(ev.data)) : JSON.parse(ev.data);
      } catch (e) {
        console.warn(`${kind}: undecodable message`, e);
        return;
      }
      onMessage(msg);
    };
  };
  connect();
  return { close() { stopped = true; ws?.close(); } };
}

// Turns "7E 01 0x00,5" into ["0x7e","0x01","0x00","0x05"]; null on bad input.
export function parseByteText(text) {
  const parts = text.trim().split(/[\s,;]+/).filter(Boolean);
  const out = [];
  for (const p of parts) {
    const hex = p.replace(/^0x/i, '');
    if (!/^[0-9a-f]{1,2}$/i.test(hex)) return null;
    out.push('0x' + hex.padStart(2, '0').toLowerCase());
  }
  return out;
}

// A request skeleton for a command's "data" description as listed by
// GetCmdList: {"Year":"int", "List":"array(3)", "__List_items":"string", …}.
export function templateFor(desc) {
  const defaults = { int: 0, float: 0, bool: false, string: '', binary: '' };
  if (typeof desc === 'string') return desc in defaults ? defaults[desc] : null;
  if (!desc || typeof desc !== 'object') return null;
  const out = {};
  for (const [key, type] of Object.entries(desc)) {
    if (key.startsWith('__') && key.endsWith('_items')) continue;
    const arr = typeof type === 'string' && /^array(\((\d+)\))?$/.exec(type);
    if (arr) {
      const item = templateFor(desc[`__${key}_items`]);
      out[key] = Array.from({ length: arr[2] ? Number(arr[2]) : 0 }, () => item);
    } else {
      out[key] = templateFor(type);
    }
  }
  return out;
}

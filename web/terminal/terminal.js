// The log terminal page's script, in a file of its own: the service's
// content security policy runs no inline script.
// Each log line arrives as {"Color","Time","Type","Text"}; the low three
// bits of the colour digit pick the colour, as on the service's console.
const MAX_LINES = 5000;
const log = document.getElementById('log');
const stateEl = document.getElementById('state');
let paused = false, total = 0;
const held = [];
const params = new URLSearchParams(location.search);
// "?terminal=PORT" overrides the port, a number and nothing else: the
// stream always goes to this page's own host (the token goes with it).
const given = params.get('terminal');
const port = given !== null && /^[0-9]{1,5}$/.test(given) && Number(given) >= 1 && Number(given) <= 65535
  ? Number(given)
  : Number(location.port || (location.protocol === 'https:' ? 443 : 80)) + 3;

function render(m) {
  const line = document.createElement('div');
  line.className = 'c' + ((Number(m.Color) || 48) & 7);
  const t = document.createElement('span');
  t.className = 't';
  t.textContent = m.Time ?? '';
  line.append(t, document.createTextNode(m.Text ?? ''));
  log.append(line);
  while (log.childElementCount > MAX_LINES) log.firstChild.remove();
  total++;
}
function flush() {
  while (held.length) render(held.shift());
  document.getElementById('count').textContent = `${total} lines`;
  if (document.getElementById('follow').checked) window.scrollTo(0, document.body.scrollHeight);
}
function connect() {
  const ws = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.hostname}:${port}`);
  ws.onopen = () => { stateEl.textContent = 'connected'; stateEl.dataset.state = 'open'; };
  ws.onclose = () => { stateEl.textContent = 'disconnected, retrying'; stateEl.dataset.state = 'closed'; setTimeout(connect, 1000); };
  ws.onmessage = (ev) => {
    let m;
    try { m = JSON.parse(ev.data); } catch { m = { Color: 48, Time: '', Text: String(ev.data) }; }
    held.push(m);
    if (held.length > MAX_LINES) held.shift();
    if (!paused) flush();
  };
}
document.getElementById('pause').onclick = (e) => { paused = !paused; e.target.textContent = paused ? 'Resume' : 'Pause'; if (!paused) flush(); };
document.getElementById('clear').onclick = () => { log.replaceChildren(); total = 0; flush(); };
connect();
